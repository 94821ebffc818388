// What another local user may have put in the provider's way before it
// starts: a junction where its log folder goes, a section of its name that
// everybody may open, an executable whose name holds a "%". Provider copies
// with names of their own keep these apart from the standard provider's
// folder and section.
// ctest-lock: registry
// ctest-lock: program-data
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "config/ProviderSettings.h"
#include "support/ChildProcess.h"
#include "support/Permissions.h"
#include "support/ProviderFolders.h"
#include "support/RegistryFixture.h"
#include "support/TestFiles.h"
#include "support/TraceCapture.h"
#include "tools/tapihost/ProviderSetup.h"
#include "tools/tapihost/TapiHost.h"

namespace {

bool HasMessageStartingWith(const std::vector<std::wstring>& messages, const std::wstring& start) {
    return std::any_of(messages.begin(), messages.end(), [&](const std::wstring& m) { return m.rfind(start, 0) == 0; });
}

// A copy of the provider under another name, with settings of its own.
class ProviderCopy {
public:
    ProviderCopy(const CTempDir& dir, const wchar_t* pszExtension)
        : m_extension(pszExtension), m_key(std::wstring(L"SOFTWARE\\ORVO\\") + pszExtension),
          m_path(dir.File(L"ORVOTSP_" + m_extension + L".TSP")), m_snapshot(HKEY_LOCAL_MACHINE, m_key) {}

    bool Install() const {
        return CopyFileW(GetEnv(L"ORVO_TSP_PATH").c_str(), m_path.c_str(), FALSE) &&
               WriteStringSetting(m_key, L"DebugLevel", L"5") &&
               WriteStringSetting(m_key, L"ApiBaseUrl", L"http://127.0.0.1:9/v1") &&
               WriteProtectedSetting(m_key, L"Name", L"K-" + m_extension) &&
               WriteProtectedSetting(m_key, L"Password", L"secret-of-" + m_extension);
    }
    // Loads, starts (the login finds nobody), shuts down and unloads it.
    void Run() const {
        CTapiHost host;
        ASSERT_TRUE(host.Load(m_path));
        DWORD dwLines = 99;
        EXPECT_EQ(host.Start(&dwLines), 0);
        EXPECT_EQ(dwLines, 0u);
        EXPECT_EQ(host.Shutdown(), 0);
        host.Unload();
    }
    std::wstring LogFolder() const { return OrvoDataFolder() + L"\\" + m_extension; }
    const std::wstring& Key() const { return m_key; }
    std::wstring SectionName() const { return L"Global\\SharedMemORVOAPITSPORVOTSP_" + m_extension; }

private:
    std::wstring m_extension, m_key, m_path;
    CRegistrySnapshot m_snapshot;
};

// A junction at the log folder, or at the "ORVO" folder above it, would send
// the service's files, and its permission changes, where the user wants:
// the provider then runs without log and exchange files.
TEST(PlantedObjectsTest, JunctionAtTheLogFolderOrAboveItLeavesItsTargetAsItWas) {
    CTempDir dir(L"planted");
    ProviderCopy copy(dir, L"LINKED");
    ASSERT_TRUE(copy.Install());
    const std::wstring target = dir.File(L"target");
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(target + L"\\keep.txt", "the user's"));
    const std::wstring targetDacl = DaclText(target);

    for (const std::wstring& linkAt : {copy.LogFolder(), OrvoDataFolder()}) {
        SCOPED_TRACE(ToUtf8(linkAt));
        CreateDirectoryW(OrvoDataFolder().c_str(), nullptr);
        RemoveFolderTree(copy.LogFolder());
        const bool bAbove = linkAt == OrvoDataFolder();
        if (bAbove) {
            ASSERT_TRUE(MoveFileW(OrvoDataFolder().c_str(), dir.File(L"ORVO").c_str()));
        }
        {
            CSymbolicLink link(target, linkAt);
            ASSERT_TRUE(link.Made());
            ASSERT_NO_FATAL_FAILURE(copy.Run());
            EXPECT_EQ(DaclText(target), targetDacl);
            EXPECT_EQ(ListFiles(target), std::vector<std::wstring>{L"keep.txt"});
            EXPECT_FALSE(FileExists(target + L"\\LINKED"));
            // Without a log, the login state is the one place that tells.
            std::wstring state;
            EXPECT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, copy.Key(), L"LastLoginState", &state));
            const bool bGerman = GetUserDefaultUILanguage() == 1031;
            EXPECT_NE(state.find(bGerman ? L"(keine Logdatei: " : L"(no log file: "), std::wstring::npos) << ToUtf8(state);
        }
        if (bAbove) {
            ASSERT_TRUE(MoveFileW(dir.File(L"ORVO").c_str(), OrvoDataFolder().c_str()));
        }
    }
    DeleteFileW((target + L"\\keep.txt").c_str());
    RemoveDirectoryW(target.c_str());
}

// A section of the provider's name made beforehand, open to everybody, is a
// trap for the password and for a planted account: it is not used, and the
// log says so.
TEST(PlantedObjectsTest, PreCreatedSectionOpenToEverybodyIsRefused) {
    CTempDir dir(L"planted");
    ProviderCopy copy(dir, L"PLANTED");
    ASSERT_TRUE(copy.Install());
    SECURITY_DESCRIPTOR everybody;
    InitializeSecurityDescriptor(&everybody, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&everybody, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), &everybody, FALSE};
    HANDLE hPlanted = CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0,
                                         sizeof(ProviderSettings), copy.SectionName().c_str());
    ASSERT_NE(hPlanted, nullptr);
    ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    auto* pPlanted = static_cast<const BYTE*>(MapViewOfFile(hPlanted, FILE_MAP_READ, 0, 0, 0));
    ASSERT_NE(pPlanted, nullptr);
    const std::wstring logFile = copy.LogFolder() + L"\\ORVOTSP" + ExeBaseName() + L"_000.LOG";

    ASSERT_NO_FATAL_FAILURE(copy.Run());

    EXPECT_TRUE(std::all_of(pPlanted, pPlanted + sizeof(ProviderSettings), [](BYTE b) { return b == 0; }))
        << "the provider wrote its settings into the planted section";
    EXPECT_TRUE(HasMessageStartingWith(LogMessages(ReadFileBytes(logFile)),
                                       L"Func.CGenericTSPIManager::AttachInstance.Warning.Shared section refused"))
        << ToUtf8(logFile);
    UnmapViewOfFile(pPlanted);
    CloseHandle(hPlanted);
}

// A host executable whose name holds "%" directives: the log's name is that
// name as it is, never a format. The host is tapihost, built beside the
// provider, under that name.
TEST(PlantedObjectsTest, PercentInTheExecutablesNameIsPartOfTheLogName) {
    COfflineProviderSettings settings;
    CTempDir dir(L"percent");
    const std::wstring tsp = GetEnv(L"ORVO_TSP_PATH");
    const std::wstring name = L"orvo%s%n%x%03d", exe = dir.File(name + L".exe");
    ASSERT_TRUE(CopyFileW((tsp.substr(0, tsp.find_last_of(L"\\/") + 1) + L"tapihost.exe").c_str(), exe.c_str(), FALSE));
    const std::wstring folder = OrvoLogFolder();
    for (const std::wstring& old : ListFiles(folder, L"ORVOTSPorvo*")) DeleteFileW((folder + L"\\" + old).c_str());

    ASSERT_EQ(RunProcess(L"\"" + exe + L"\" \"" + tsp + L"\"", 60000), 0);

    const std::wstring logName = L"ORVOTSP" + name + L"_000.LOG";
    EXPECT_EQ(ListFiles(folder, L"ORVOTSPorvo*"), std::vector<std::wstring>{logName});
    EXPECT_TRUE(HasMessageStartingWith(LogMessages(ReadFileBytes(folder + L"\\" + logName)),
                                       L"Func.CGenericTSPIManager::AttachInstance.Info.ORVO Third Party TAPI"));
    for (const std::wstring& written : ListFiles(folder, L"ORVOTSPorvo*")) DeleteFileW((folder + L"\\" + written).c_str());
}

}  // namespace
