// Installing and removing the built provider the way an installer does: from
// a host program in the system folder (and from one elsewhere, which must
// change nothing), against the TAPI32 stand-in that keeps TAPI's provider
// list in the registry and journals every add and remove.
// ctest-lock: registry
// ctest-lock: system-folder
#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "config/ProviderList.h"
#include "model/TapiConstants.h"
#include "support/RegistryFixture.h"
#include "support/TestFiles.h"

namespace {

using ProviderList = std::vector<std::pair<std::wstring, DWORD>>;

std::wstring FullPath(const std::wstring& path) {
    wchar_t szFull[MAX_PATH] = {};
    GetFullPathNameW(path.c_str(), MAX_PATH, szFull, nullptr);
    return szFull;
}

std::wstring SystemFolder() {
    wchar_t szFolder[MAX_PATH] = {};
    GetSystemDirectoryW(szFolder, MAX_PATH);
    return szFolder;
}

std::wstring SystemFile(const std::wstring& name) { return SystemFolder() + L"\\" + name; }

// A file's bytes (or its absence) put back when the test ends.
class CFileSnapshot {
public:
    explicit CFileSnapshot(std::wstring path) : m_path(std::move(path)) {
        if (FileExists(m_path)) m_bytes = ReadFileBytes(m_path);
        DeleteFileW(m_path.c_str());
    }
    ~CFileSnapshot() {
        DeleteFileW(m_path.c_str());
        if (m_bytes) WriteFileBytes(m_path, *m_bytes);
    }
    CFileSnapshot(const CFileSnapshot&) = delete;
    CFileSnapshot& operator=(const CFileSnapshot&) = delete;

private:
    std::wstring m_path;
    std::optional<std::string> m_bytes;
};

void SetProviderList(const ProviderList& providers, DWORD dwNextID) {
    ASSERT_TRUE(SetRegDword(HKEY_LOCAL_MACHINE, TAPI_PROVIDERS_KEY, L"NumProviders", static_cast<DWORD>(providers.size())));
    ASSERT_TRUE(SetRegDword(HKEY_LOCAL_MACHINE, TAPI_PROVIDERS_KEY, L"NextProviderID", dwNextID));
    for (size_t i = 0; i < providers.size(); ++i) {
        std::wstring index = std::to_wstring(i);
        ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, TAPI_PROVIDERS_KEY, (L"ProviderFilename" + index).c_str(),
                                 providers[i].first));
        ASSERT_TRUE(SetRegDword(HKEY_LOCAL_MACHINE, TAPI_PROVIDERS_KEY, (L"ProviderID" + index).c_str(),
                                providers[i].second));
    }
}

ProviderList ReadProviderList() {
    ProviderList providers;
    DWORD dwCount = 0;
    ReadRegDword(HKEY_LOCAL_MACHINE, TAPI_PROVIDERS_KEY, L"NumProviders", &dwCount);
    for (DWORD i = 0; i < dwCount; ++i) {
        std::wstring index = std::to_wstring(i);
        std::wstring name;
        DWORD dwID = 0;
        ReadRegString(HKEY_LOCAL_MACHINE, TAPI_PROVIDERS_KEY, (L"ProviderFilename" + index).c_str(), &name);
        ReadRegDword(HKEY_LOCAL_MACHINE, TAPI_PROVIDERS_KEY, (L"ProviderID" + index).c_str(), &dwID);
        providers.emplace_back(name, dwID);
    }
    return providers;
}

// Compares a file with expected bytes without printing whole libraries.
testing::AssertionResult HasBytes(const std::wstring& path, const std::string& expected) {
    if (!FileExists(path)) return testing::AssertionFailure() << ToUtf8(path) << " does not exist";
    std::string actual = ReadFileBytes(path);
    if (actual == expected) return testing::AssertionSuccess();
    return testing::AssertionFailure() << ToUtf8(path) << " has " << actual.size() << " other bytes than the "
                                       << expected.size() << " expected";
}

class InstallationTest : public testing::Test {
protected:
    static constexpr DWORD kNextID = 21;

    void SetUp() override {
        m_tsp = FullPath(GetEnv(L"ORVO_TSP_PATH"));
        m_double = FullPath(GetEnv(L"ORVO_TAPI32_DOUBLE"));
        m_installHost = FullPath(GetEnv(L"ORVO_INSTALL_HOST"));
        ASSERT_TRUE(FileExists(m_tsp)) << ToUtf8(m_tsp);
        ASSERT_TRUE(FileExists(m_double)) << ToUtf8(m_double);
        ASSERT_TRUE(FileExists(m_installHost)) << ToUtf8(m_installHost);
        ASSERT_TRUE(SetEnvironmentVariableW(L"ORVO_TAPI32_JOURNAL", m_journal.c_str()));
    }
    void TearDown() override { SetEnvironmentVariableW(L"ORVO_TAPI32_JOURNAL", nullptr); }

    // Runs the installer from a folder: the export's result, or -1 when it
    // did not finish in time.
    LONG RunInstaller(const std::wstring& folder, const std::wstring& provider, const wchar_t* pszExport,
                      DWORD dwArgument = 0) {
        std::wstring host = folder + L"\\orvo_installhost.exe";
        EXPECT_TRUE(CopyFileW(m_installHost.c_str(), host.c_str(), FALSE)) << ToUtf8(host);
        std::wstring commandLine = L"\"" + host + L"\" \"" + m_double + L"\" \"" + provider + L"\" " + pszExport +
                                   L" " + std::to_wstring(dwArgument);
        STARTUPINFOW si = {sizeof(si)};
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessW(host.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
            ADD_FAILURE() << "cannot start " << ToUtf8(host) << ": " << GetLastError();
            return -1;
        }
        DWORD dwExitCode = static_cast<DWORD>(-1);
        if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) {
            GetExitCodeProcess(pi.hProcess, &dwExitCode);
        } else {
            ADD_FAILURE() << "installer did not finish";
            TerminateProcess(pi.hProcess, 1);
        }
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        DeleteFileW(host.c_str());
        return static_cast<LONG>(dwExitCode);
    }

    // The adds and removes the stand-in received, in order.
    std::vector<std::string> Registrations() const {
        std::vector<std::string> lines;
        std::istringstream journal(ReadFileBytes(m_journal));
        for (std::string line; std::getline(journal, line);)
            if (line.rfind("lineAddProviderA ", 0) == 0 || line.rfind("lineRemoveProvider ", 0) == 0)
                lines.push_back(line);
        return lines;
    }

    // A copy of the built provider under another file name.
    std::wstring ProviderCopy(const wchar_t* pszName) {
        std::wstring path = m_dir.File(pszName);
        EXPECT_TRUE(CopyFileW(m_tsp.c_str(), path.c_str(), FALSE));
        return path;
    }

    CRegistrySnapshot m_providers{HKEY_LOCAL_MACHINE, TAPI_PROVIDERS_KEY};
    CFileSnapshot m_installed{SystemFile(L"ORVOTSP.TSP")};
    CFileSnapshot m_installed2{SystemFile(L"ORVOTSP_2.TSP")};
    CTempDir m_dir{L"install"};
    std::wstring m_journal = m_dir.File(L"tapi32.journal");
    std::wstring m_tsp, m_double, m_installHost;
};

TEST_F(InstallationTest, InstallFromTheSystemFolderCopiesTheLibraryAndRegistersIt) {
    ASSERT_NO_FATAL_FAILURE(SetProviderList({{L"unimodem.tsp", 1}}, kNextID));
    EXPECT_EQ(RunInstaller(SystemFolder(), m_tsp, L"TUISPI_DllInstall"), 0);
    EXPECT_TRUE(HasBytes(SystemFile(L"ORVOTSP.TSP"), ReadFileBytes(m_tsp)));
    EXPECT_EQ(ReadProviderList(), (ProviderList{{L"unimodem.tsp", 1}, {L"ORVOTSP.TSP", kNextID}}));
    EXPECT_EQ(Registrations(), (std::vector<std::string>{"lineAddProviderA ORVOTSP.TSP -> 0x00000000 id 21"}));
}

TEST_F(InstallationTest, InstallReplacesAnEarlierRegistrationAndCopy) {
    ASSERT_NO_FATAL_FAILURE(SetProviderList({{L"C:\\windows\\system32\\orvotsp.tsp", 3}, {L"unimodem.tsp", 1}}, kNextID));
    ASSERT_TRUE(WriteFileBytes(SystemFile(L"ORVOTSP.TSP"), "an older provider"));
    EXPECT_EQ(RunInstaller(SystemFolder(), m_tsp, L"TUISPI_DllInstall"), 0);
    EXPECT_TRUE(HasBytes(SystemFile(L"ORVOTSP.TSP"), ReadFileBytes(m_tsp)));
    EXPECT_EQ(ReadProviderList(), (ProviderList{{L"unimodem.tsp", 1}, {L"ORVOTSP.TSP", kNextID}}));
    EXPECT_EQ(Registrations(), (std::vector<std::string>{"lineRemoveProvider 3 -> 0x00000000",
                                                         "lineAddProviderA ORVOTSP.TSP -> 0x00000000 id 21"}));
}

TEST_F(InstallationTest, InstalledProviderRefusesASecondInstallation) {
    ASSERT_NO_FATAL_FAILURE(SetProviderList({}, kNextID));
    ASSERT_EQ(RunInstaller(SystemFolder(), m_tsp, L"TUISPI_DllInstall"), 0);
    EXPECT_EQ(RunInstaller(m_dir.Path(), m_tsp, L"TUISPI_providerInstall", 40), LINEERR_NOMULTIPLEINSTANCE);
    EXPECT_EQ(RunInstaller(SystemFolder(), SystemFile(L"ORVOTSP.TSP"), L"TUISPI_providerInstall", 40),
              LINEERR_NOMULTIPLEINSTANCE);
    EXPECT_EQ(ReadProviderList(), (ProviderList{{L"ORVOTSP.TSP", kNextID}}));
}

TEST_F(InstallationTest, RemoveFromTheSystemFolderUnregistersAndDeletesTheCopy) {
    ASSERT_NO_FATAL_FAILURE(SetProviderList({{L"unimodem.tsp", 1}, {L"ORVOTSP.TSP", 4}, {L"kmddsp.tsp", 2}}, kNextID));
    ASSERT_TRUE(CopyFileW(m_tsp.c_str(), SystemFile(L"ORVOTSP.TSP").c_str(), FALSE));
    EXPECT_EQ(RunInstaller(SystemFolder(), m_tsp, L"TUISPI_DllRemove"), 0);
    EXPECT_FALSE(FileExists(SystemFile(L"ORVOTSP.TSP")));
    EXPECT_EQ(ReadProviderList(), (ProviderList{{L"unimodem.tsp", 1}, {L"kmddsp.tsp", 2}}));
    EXPECT_EQ(Registrations(), (std::vector<std::string>{"lineRemoveProvider 4 -> 0x00000000"}));
}

// Removal finds the provider by a substring of the listed name: another
// provider whose name ends in ours is taken for it.
TEST_F(InstallationTest, RemovalTakesAListedNameContainingOurs) {
    ASSERT_NO_FATAL_FAILURE(SetProviderList({{L"unimodem.tsp", 1}, {L"XORVOTSP.TSP", 6}}, kNextID));
    EXPECT_EQ(RunInstaller(SystemFolder(), m_tsp, L"TUISPI_DllRemove"), 0);
    EXPECT_EQ(Registrations(), (std::vector<std::string>{"lineRemoveProvider 6 -> 0x00000000"}));
    EXPECT_EQ(ReadProviderList(), (ProviderList{{L"unimodem.tsp", 1}}));
    // The installation check compares whole file names: XORVOTSP.TSP is not us.
    ASSERT_NO_FATAL_FAILURE(SetProviderList({{L"XORVOTSP.TSP", 6}}, kNextID));
    EXPECT_EQ(RunInstaller(m_dir.Path(), m_tsp, L"TUISPI_providerInstall", 40), 0);
}

TEST_F(InstallationTest, HostOutsideTheSystemFolderChangesNothing) {
    const ProviderList listed = {{L"unimodem.tsp", 1}, {L"ORVOTSP.TSP", 4}};
    ASSERT_NO_FATAL_FAILURE(SetProviderList(listed, kNextID));
    ASSERT_TRUE(WriteFileBytes(SystemFile(L"ORVOTSP.TSP"), "installed provider"));
    for (const wchar_t* pszExport : {L"TUISPI_DllInstall", L"TUISPI_DllRemove"}) {
        SCOPED_TRACE(ToUtf8(pszExport));
        EXPECT_EQ(RunInstaller(m_dir.Path(), m_tsp, pszExport), 1);
        EXPECT_TRUE(HasBytes(SystemFile(L"ORVOTSP.TSP"), "installed provider"));
        EXPECT_EQ(ReadProviderList(), listed);
        EXPECT_TRUE(Registrations().empty());
    }
}

TEST_F(InstallationTest, CopyUnderAnotherNameInstallsAndRemovesOnlyItself) {
    ASSERT_NO_FATAL_FAILURE(SetProviderList({{L"ORVOTSP.TSP", 2}}, kNextID));
    ASSERT_TRUE(WriteFileBytes(SystemFile(L"ORVOTSP.TSP"), "the standard provider"));
    std::wstring copy = ProviderCopy(L"ORVOTSP_2.TSP");

    EXPECT_EQ(RunInstaller(SystemFolder(), copy, L"TUISPI_DllInstall"), 0);
    EXPECT_TRUE(HasBytes(SystemFile(L"ORVOTSP_2.TSP"), ReadFileBytes(m_tsp)));
    EXPECT_TRUE(HasBytes(SystemFile(L"ORVOTSP.TSP"), "the standard provider"));
    EXPECT_EQ(ReadProviderList(), (ProviderList{{L"ORVOTSP.TSP", 2}, {L"ORVOTSP_2.TSP", kNextID}}));

    EXPECT_EQ(RunInstaller(SystemFolder(), copy, L"TUISPI_DllRemove"), 0);
    EXPECT_FALSE(FileExists(SystemFile(L"ORVOTSP_2.TSP")));
    EXPECT_TRUE(HasBytes(SystemFile(L"ORVOTSP.TSP"), "the standard provider"));
    EXPECT_EQ(ReadProviderList(), (ProviderList{{L"ORVOTSP.TSP", 2}}));
    EXPECT_EQ(Registrations(), (std::vector<std::string>{"lineAddProviderA ORVOTSP_2.TSP -> 0x00000000 id 21",
                                                         "lineRemoveProvider 21 -> 0x00000000"}));
}

TEST_F(InstallationTest, UpdateCopiesTheLibraryFromAnyHost) {
    ASSERT_TRUE(WriteFileBytes(SystemFile(L"ORVOTSP.TSP"), "an older provider"));
    EXPECT_EQ(RunInstaller(m_dir.Path(), m_tsp, L"TUISPI_DllUpdate"), 0);
    EXPECT_TRUE(HasBytes(SystemFile(L"ORVOTSP.TSP"), ReadFileBytes(m_tsp)));
    EXPECT_TRUE(Registrations().empty());
}

// Run from the installed copy, an update has nothing to copy and must not
// delete the library it runs from.
TEST_F(InstallationTest, UpdateFromTheInstalledCopyKeepsIt) {
    ASSERT_TRUE(CopyFileW(m_tsp.c_str(), SystemFile(L"ORVOTSP.TSP").c_str(), FALSE));
    EXPECT_EQ(RunInstaller(SystemFolder(), SystemFile(L"ORVOTSP.TSP"), L"TUISPI_DllUpdate"), 0);
    EXPECT_TRUE(HasBytes(SystemFile(L"ORVOTSP.TSP"), ReadFileBytes(m_tsp)));
}

}  // namespace
