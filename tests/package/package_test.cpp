// The Windows Installer package as an administrator uses it: msiexec /i, a
// repair, a newer package over it, an older one refused, msiexec /x, all
// silently (/qn), in a Wine prefix of its own (run-in-own-prefix) whose
// TAPI32.DLL is the stand-in of tests/tapi32double.
// Wine cannot show, so this does not check: tapisrv loading the installed
// provider or letting go of it, the service's start settings, User Account
// Control, the installer's rights as LocalSystem, deployment by group policy;
// a copy held by the telephony service during an upgrade is a file the test
// holds open.
#include <gtest/gtest.h>
#include <windows.h>
#include <msi.h>
#include <shlobj.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/RegistryFixture.h"
#include "support/TestFiles.h"

namespace {

constexpr DWORD kMsiexecTimeoutMs = 120000;
constexpr int kInstallFailure = 1603;  // ERROR_INSTALL_FAILURE
const wchar_t kSettingsKey[] = L"SOFTWARE\\ORVO\\TAPI";
const wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::wstring KnownFolder(int nFolder, const wchar_t* pszBelow) {
    wchar_t szFolder[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, nFolder, nullptr, SHGFP_TYPE_CURRENT, szFolder);
    return std::wstring(szFolder) + pszBelow;
}

// One installed product of the package's family: code and version.
struct InstalledProduct {
    std::wstring code;
    std::wstring version;
};

class PackageTest : public testing::Test {
protected:
    void SetUp() override {
        for (const std::wstring* path : {&m_package, &m_newerPackage, &m_provider, &m_newerProvider})
            ASSERT_TRUE(FileExists(*path)) << ToUtf8(*path);
        ASSERT_NE(m_upgradeCode, L"{}");
        // What an earlier run may have left on this machine goes first.
        for (const InstalledProduct& product : InstalledProducts())
            RunMsiexec(L"/x " + product.code, L"leftover");
        DeleteFileW(m_systemCopy.c_str());
        // The log that a failed installation keeps for the administrator.
        RemoveFolderTree(m_logFolder);
        RemoveDirectoryW(m_logFolder.substr(0, m_logFolder.rfind(L'\\')).c_str());
        // Another provider that must stay, and an administrator's setting.
        ASSERT_TRUE(SetProviderList(m_otherProviders, 8));
        ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, kSettingsKey, L"ApiBaseUrl", m_apiBaseUrl));
        ExpectNothingInstalled();
    }

    // Runs msiexec silently with a verbose log: its exit code. The log's
    // lines of the package's custom actions are shown with a failure.
    int RunMsiexec(const std::wstring& arguments, const std::wstring& logName) {
        const std::wstring log = m_dir.File(logName + L".log");
        const int nExitCode = RunProcess(L"msiexec " + arguments + L" /qn /l*v \"" + log + L"\"", kMsiexecTimeoutMs);
        m_logs[logName] = ReadLog(log);
        return nExitCode;
    }

    // The installer writes its log in UTF-16 or in the ANSI code page.
    static std::string ReadLog(const std::wstring& path) {
        std::string bytes = ReadFileBytes(path);
        if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
            static_cast<unsigned char>(bytes[1]) == 0xFE)
            return ToUtf8(std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2));
        return bytes;
    }

    // The lines of the package's custom actions in a log.
    std::string SetupLines(const std::wstring& logName) {
        std::istringstream log(m_logs[logName]);
        std::string lines;
        for (std::string line; std::getline(log, line);)
            if (line.find("ORVOTSP setup: ") != std::string::npos) lines += line + "\n";
        return lines;
    }

    // The version resource's product version, "1.1.0.0".
    static std::wstring ProductVersion(const std::wstring& path) {
        DWORD dwHandle = 0;
        std::vector<BYTE> block(GetFileVersionInfoSizeW(path.c_str(), &dwHandle));
        VS_FIXEDFILEINFO* pInfo = nullptr;
        UINT cbInfo = 0;
        if (block.empty() || !GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()) ||
            !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&pInfo), &cbInfo) || pInfo == nullptr)
            return L"";
        std::wstring version;
        for (DWORD dwPart : {HIWORD(pInfo->dwProductVersionMS), LOWORD(pInfo->dwProductVersionMS),
                             HIWORD(pInfo->dwProductVersionLS), LOWORD(pInfo->dwProductVersionLS)})
            version += (version.empty() ? L"" : L".") + std::to_wstring(dwPart);
        return version;
    }

    std::vector<InstalledProduct> InstalledProducts() const {
        std::vector<InstalledProduct> products;
        wchar_t szCode[39];
        for (DWORD i = 0; MsiEnumRelatedProductsW(m_upgradeCode.c_str(), 0, i, szCode) == ERROR_SUCCESS; ++i) {
            wchar_t szVersion[64] = {};
            DWORD cchVersion = 64;
            MsiGetProductInfoW(szCode, INSTALLPROPERTY_VERSIONSTRING, szVersion, &cchVersion);
            products.push_back({szCode, szVersion});
        }
        return products;
    }

    // Installed: the package's copy and the system folder's copy hold the
    // provider the package was built of, with its version, TAPI lists it once
    // after the other provider, and the package is the one installed product
    // of its family.
    void ExpectInstalled(const std::wstring& provider, const std::wstring& version) {
        const std::string packaged = ReadFileBytes(provider);
        EXPECT_TRUE(ReadFileBytes(m_systemCopy) == packaged) << "the system folder's ORVOTSP.TSP is not the package's";
        EXPECT_TRUE(ReadFileBytes(m_packageCopy) == packaged) << "the package's copy is not the packaged library";
        EXPECT_EQ(ProductVersion(m_systemCopy), version);
        ProviderList listed = m_otherProviders;
        ProviderList actual = ReadProviderList();
        ASSERT_EQ(actual.size(), listed.size() + 1);
        EXPECT_EQ(actual.front(), listed.front());
        EXPECT_EQ(actual.back().first, L"ORVOTSP.TSP");
        const std::vector<InstalledProduct> products = InstalledProducts();
        ASSERT_EQ(products.size(), 1u);
        EXPECT_EQ(products[0].version, version);
        EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey + products[0].code));
    }

    // Nothing of the package is left but the settings key, which keeps what
    // the administrator set, and after a failed installation the library's
    // log of it.
    void ExpectNothingInstalled(bool bFailedInstallation = false) {
        EXPECT_FALSE(FileExists(m_systemCopy));
        EXPECT_FALSE(FileExists(m_programFolder)) << ToUtf8(m_programFolder);
        if (bFailedInstallation)
            EXPECT_TRUE(FileExists(m_logFolder + L"\\ORVOTSPmsiexec_000.LOG"));
        else
            EXPECT_FALSE(FileExists(m_logFolder)) << ToUtf8(m_logFolder);
        EXPECT_EQ(ReadProviderList(), m_otherProviders);
        EXPECT_TRUE(InstalledProducts().empty());
        std::wstring apiBaseUrl;
        EXPECT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, kSettingsKey, L"ApiBaseUrl", &apiBaseUrl));
        EXPECT_EQ(apiBaseUrl, m_apiBaseUrl);
    }

    CTempDir m_dir{L"package"};
    std::map<std::wstring, std::string> m_logs;
    const std::wstring m_package = FullPath(L"ORVO_PACKAGE"), m_newerPackage = FullPath(L"ORVO_NEWER_PACKAGE"),
                       m_provider = FullPath(L"ORVO_PACKAGED_TSP"),
                       m_newerProvider = FullPath(L"ORVO_NEWER_PACKAGED_TSP");
    const std::wstring m_version = GetEnv(L"ORVO_PRODUCT_VERSION"), m_newerVersion = GetEnv(L"ORVO_NEWER_VERSION");
    const std::wstring m_upgradeCode = L"{" + GetEnv(L"ORVO_UPGRADE_CODE") + L"}";
    const std::wstring m_systemCopy = KnownFolder(CSIDL_SYSTEM, L"\\ORVOTSP.TSP");
    const std::wstring m_programFolder = KnownFolder(CSIDL_PROGRAM_FILES, L"\\ORVO");
    const std::wstring m_packageCopy = m_programFolder + L"\\ORVO TAPI\\ORVOTSP.TSP";
    const std::wstring m_logFolder = KnownFolder(CSIDL_COMMON_APPDATA, L"\\ORVO\\ORVO TAPI");
    const ProviderList m_otherProviders = {{L"unimodem.tsp", 7}};
    const std::wstring m_apiBaseUrl = L"https://pbx.example.test/v1";
};

TEST_F(PackageTest, InstallsUpgradesAndRemovesWithoutLeavingAnything) {
    ASSERT_EQ(RunMsiexec(L"/i \"" + m_package + L"\"", L"install"), 0) << SetupLines(L"install");
    ExpectInstalled(m_provider, m_version);
    // The installer ran the library, which logged in its folder.
    EXPECT_TRUE(FileExists(m_logFolder + L"\\ORVOTSPmsiexec_000.LOG"));

    // A repair brings back what went missing: the system folder's copy and
    // TAPI's entry.
    ASSERT_TRUE(DeleteFileW(m_systemCopy.c_str()));
    ASSERT_TRUE(SetProviderList(m_otherProviders));
    ASSERT_EQ(RunMsiexec(L"/i \"" + m_package + L"\" REINSTALL=ALL REINSTALLMODE=vomus", L"repair"), 0)
        << SetupLines(L"repair");
    ExpectInstalled(m_provider, m_version);

    // A newer package replaces the installed one: one product, one entry.
    ASSERT_EQ(RunMsiexec(L"/i \"" + m_newerPackage + L"\"", L"upgrade"), 0) << SetupLines(L"upgrade");
    ExpectInstalled(m_newerProvider, m_newerVersion);

    // The older one refuses to go over it, because it found the newer one,
    // and changes nothing.
    const std::wstring newerCode = InstalledProducts().at(0).code;
    EXPECT_EQ(RunMsiexec(L"/i \"" + m_package + L"\"", L"downgrade"), kInstallFailure);
    EXPECT_NE(m_logs[L"downgrade"].find("WIX_DOWNGRADE_DETECTED = " + ToUtf8(newerCode)), std::string::npos)
        << m_logs[L"downgrade"];
    ExpectInstalled(m_newerProvider, m_newerVersion);

    ASSERT_EQ(RunMsiexec(L"/x \"" + m_newerPackage + L"\"", L"remove"), 0) << SetupLines(L"remove");
    ExpectNothingInstalled();
}

// An installation the provider cannot complete fails as a whole: the
// installer reports it, and neither the library nor TAPI's entry stays.
TEST_F(PackageTest, AnIncompleteInstallationFailsAndIsTakenBack) {
    struct Case {
        const char* pszName;
        const wchar_t* pszListResult;  // lineGetProviderList fails with it
        bool bHoldSystemCopy;          // a program holds an older copy in the system folder
        const char* pszReason;
    };
    const Case cases[] = {
        {"TAPI cannot list its providers", L"80000048", false, "TAPI cannot list its providers"},
        {"a program holds the system folder's copy", nullptr, true, "could not be replaced"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        HANDLE hHeld = INVALID_HANDLE_VALUE;
        if (c.bHoldSystemCopy) {
            ASSERT_TRUE(WriteFileBytes(m_systemCopy, "an older provider"));
            hHeld = CreateFileW(m_systemCopy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
        }
        SetEnvironmentVariableW(L"ORVO_TAPI32_LIST_RESULT", c.pszListResult);
        const int nExitCode = RunMsiexec(L"/i \"" + m_package + L"\"", L"failure");
        SetEnvironmentVariableW(L"ORVO_TAPI32_LIST_RESULT", nullptr);
        EXPECT_EQ(nExitCode, kInstallFailure);
        EXPECT_NE(SetupLines(L"failure").find(c.pszReason), std::string::npos) << SetupLines(L"failure");
        if (hHeld != INVALID_HANDLE_VALUE) {
            EXPECT_EQ(ReadFileBytes(m_systemCopy), "an older provider");
            CloseHandle(hHeld);
            DeleteFileW(m_systemCopy.c_str());
        }
        ExpectNothingInstalled(true);
    }
}

}  // namespace
