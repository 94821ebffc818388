// Installing and removing the built provider from an installer in the system
// folder (or elsewhere, which must change nothing), against the TAPI32
// stand-in that keeps TAPI's provider list in the registry and journals it.
// ctest-lock: registry
// ctest-lock: system-folder
#include <gtest/gtest.h>

#include <optional>
#include <sstream>

#include "config/ProviderList.h"
#include "support/ChildProcess.h"
#include "support/RegistryFixture.h"
#include "support/TestFiles.h"

namespace {

std::wstring SystemFile(const std::wstring& name = L"") {
    wchar_t szFolder[MAX_PATH] = {};
    GetSystemDirectoryW(szFolder, MAX_PATH);
    return name.empty() ? szFolder : std::wstring(szFolder) + L"\\" + name;
}

// A file's bytes (or its absence) put back when the test ends.
struct CFileSnapshot {
    explicit CFileSnapshot(std::wstring path) : m_path(std::move(path)) {
        if (FileExists(m_path)) m_bytes = ReadFileBytes(m_path);
        DeleteFileW(m_path.c_str());
    }
    ~CFileSnapshot() {
        DeleteFileW(m_path.c_str());
        if (m_bytes) WriteFileBytes(m_path, *m_bytes);
    }
    std::wstring m_path;
    std::optional<std::string> m_bytes;
};

class InstallationTest : public testing::Test {
protected:
    static constexpr DWORD kNextID = 21;

    void SetUp() override {
        for (const std::wstring* path : {&m_tsp, &m_double, &m_installHost}) ASSERT_TRUE(FileExists(*path)) << ToUtf8(*path);
        ASSERT_TRUE(SetEnvironmentVariableW(L"ORVO_TAPI32_JOURNAL", m_journal.c_str()));
        m_built = ReadFileBytes(m_tsp);
    }
    void TearDown() override { SetEnvironmentVariableW(L"ORVO_TAPI32_JOURNAL", nullptr); }

    // Runs the installer from a folder: the export's result, or -1 when it
    // did not start or finish in time.
    LONG RunInstaller(const std::wstring& folder, const std::wstring& provider, const wchar_t* pszExport,
                      DWORD dwArgument = 0) {
        std::wstring host = folder + L"\\orvo_installhost.exe";
        EXPECT_TRUE(CopyFileW(m_installHost.c_str(), host.c_str(), FALSE)) << ToUtf8(host);
        LONG lResult = RunProcess(L"\"" + host + L"\" \"" + m_double + L"\" \"" + provider + L"\" " + pszExport + L" " +
                                      std::to_wstring(dwArgument),
                                  60000);
        DeleteFileW(host.c_str());
        return lResult;
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

    CRegistrySnapshot m_providers{HKEY_LOCAL_MACHINE, TAPI_PROVIDERS_KEY};
    CFileSnapshot m_installed{SystemFile(L"ORVOTSP.TSP")};
    CFileSnapshot m_installed2{SystemFile(L"ORVOTSP_2.TSP")};
    CTempDir m_dir{L"install"};
    std::wstring m_journal = m_dir.File(L"tapi32.journal");
    std::wstring m_tsp = FullPath(L"ORVO_TSP_PATH"), m_double = FullPath(L"ORVO_TAPI32_DOUBLE"),
                 m_installHost = FullPath(L"ORVO_INSTALL_HOST");
    std::string m_built;
};

// An earlier registration under any spelling and an older copy are replaced.
// (That an installed provider refuses a second installation is the UI
// exports' test's, in this process.)
TEST_F(InstallationTest, InstallFromTheSystemFolderReplacesTheEarlierCopyAndRegistration) {
    ASSERT_TRUE(SetProviderList({{L"C:\\windows\\system32\\orvotsp.tsp", 3}, {L"unimodem.tsp", 1}}, kNextID));
    ASSERT_TRUE(WriteFileBytes(SystemFile(L"ORVOTSP.TSP"), "an older provider"));
    EXPECT_EQ(RunInstaller(SystemFile(), m_tsp, L"TUISPI_DllInstall"), 0);
    EXPECT_TRUE(ReadFileBytes(SystemFile(L"ORVOTSP.TSP")) == m_built);
    EXPECT_EQ(ReadProviderList(), (ProviderList{{L"unimodem.tsp", 1}, {L"ORVOTSP.TSP", kNextID}}));
    EXPECT_EQ(Registrations(), (std::vector<std::string>{"lineRemoveProvider 3 -> 0x00000000",
                                                         "lineAddProviderA ORVOTSP.TSP -> 0x00000000 id 21"}));
}

// Removal finds the provider by a substring of the listed name: another
// provider whose name ends in ours is taken for it.
TEST_F(InstallationTest, RemovalTakesAListedNameContainingOurs) {
    ASSERT_TRUE(SetProviderList({{L"unimodem.tsp", 1}, {L"XORVOTSP.TSP", 6}}, kNextID));
    EXPECT_EQ(RunInstaller(SystemFile(), m_tsp, L"TUISPI_DllRemove"), 0);
    EXPECT_EQ(Registrations(), (std::vector<std::string>{"lineRemoveProvider 6 -> 0x00000000"}));
    EXPECT_EQ(ReadProviderList(), (ProviderList{{L"unimodem.tsp", 1}}));
}

TEST_F(InstallationTest, HostOutsideTheSystemFolderChangesNothing) {
    const ProviderList listed = {{L"unimodem.tsp", 1}, {L"ORVOTSP.TSP", 4}};
    ASSERT_TRUE(SetProviderList(listed, kNextID));
    ASSERT_TRUE(WriteFileBytes(SystemFile(L"ORVOTSP.TSP"), "installed provider"));
    for (const wchar_t* pszExport : {L"TUISPI_DllInstall", L"TUISPI_DllRemove"}) {
        SCOPED_TRACE(ToUtf8(pszExport));
        EXPECT_EQ(RunInstaller(m_dir.Path(), m_tsp, pszExport), 1);
        EXPECT_EQ(ReadFileBytes(SystemFile(L"ORVOTSP.TSP")), "installed provider");
        EXPECT_EQ(ReadProviderList(), listed);
        EXPECT_TRUE(Registrations().empty());
    }
}

TEST_F(InstallationTest, CopyUnderAnotherNameInstallsAndRemovesOnlyItself) {
    ASSERT_TRUE(SetProviderList({{L"ORVOTSP.TSP", 2}}, kNextID));
    ASSERT_TRUE(WriteFileBytes(SystemFile(L"ORVOTSP.TSP"), "the standard provider"));
    std::wstring copy = m_dir.File(L"ORVOTSP_2.TSP");
    ASSERT_TRUE(CopyFileW(m_tsp.c_str(), copy.c_str(), FALSE));

    EXPECT_EQ(RunInstaller(SystemFile(), copy, L"TUISPI_DllInstall"), 0);
    EXPECT_TRUE(ReadFileBytes(SystemFile(L"ORVOTSP_2.TSP")) == m_built);
    EXPECT_EQ(ReadProviderList(), (ProviderList{{L"ORVOTSP.TSP", 2}, {L"ORVOTSP_2.TSP", kNextID}}));

    EXPECT_EQ(RunInstaller(SystemFile(), copy, L"TUISPI_DllRemove"), 0);
    EXPECT_FALSE(FileExists(SystemFile(L"ORVOTSP_2.TSP")));
    EXPECT_EQ(ReadFileBytes(SystemFile(L"ORVOTSP.TSP")), "the standard provider");
    EXPECT_EQ(ReadProviderList(), (ProviderList{{L"ORVOTSP.TSP", 2}}));
    EXPECT_EQ(Registrations(), (std::vector<std::string>{"lineAddProviderA ORVOTSP_2.TSP -> 0x00000000 id 21",
                                                         "lineRemoveProvider 21 -> 0x00000000"}));
}

// An update copies the library from any host; run from the installed copy it
// has nothing to copy and must not delete the library it runs from.
TEST_F(InstallationTest, UpdateCopiesTheLibraryFromAnyHostAndKeepsTheInstalledCopy) {
    ASSERT_TRUE(WriteFileBytes(SystemFile(L"ORVOTSP.TSP"), "an older provider"));
    EXPECT_EQ(RunInstaller(m_dir.Path(), m_tsp, L"TUISPI_DllUpdate"), 0);
    EXPECT_TRUE(ReadFileBytes(SystemFile(L"ORVOTSP.TSP")) == m_built);
    EXPECT_EQ(RunInstaller(SystemFile(), SystemFile(L"ORVOTSP.TSP"), L"TUISPI_DllUpdate"), 0);
    EXPECT_TRUE(ReadFileBytes(SystemFile(L"ORVOTSP.TSP")) == m_built);
    EXPECT_TRUE(Registrations().empty());
}

}  // namespace
