// A process loading the library: which key, log folder and shared section a
// copy uses by its file name, what reaches the shared record, the start-up
// banner and report at DebugLevel 0, and the log values saved at shutdown.
// ctest-lock: registry
#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <optional>

#include "common/BoundedString.h"
#include "config/ProtectedValue.h"
#include "config/ProviderIdentity.h"
#include "config/ProviderSettings.h"
#include "support/RegistryFixture.h"
#include "support/TestFiles.h"
#include "support/TraceCapture.h"
#include "tools/tapihost/TapiHost.h"

namespace {
const std::wstring kProviders = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Providers";
const wchar_t kAttach[] = L"Func.CGenericTSPIManager::AttachInstance.";

std::wstring SystemDir() {
    wchar_t szDir[MAX_PATH] = {};
    GetSystemDirectoryW(szDir, MAX_PATH);
    return szDir;
}

std::wstring CommonAppData() {
    wchar_t szDir[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_DEFAULT, szDir);
    return szDir;
}

std::wstring ExeBaseName() {
    wchar_t szExe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, szExe, MAX_PATH);
    wchar_t szName[MAX_PATH] = {};
    _wsplitpath_s(szExe, nullptr, 0, nullptr, 0, szName, MAX_PATH, nullptr, 0);
    return szName;
}

// The record in a provider's section, as another process sees it; nothing when there is none.
std::optional<ProviderSettings> ReadSection(const std::wstring& name) {
    HANDLE hMapping = OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str());
    if (hMapping == nullptr) return std::nullopt;
    std::optional<ProviderSettings> settings;
    if (const void* pView = MapViewOfFile(hMapping, FILE_MAP_READ, 0, 0, sizeof(ProviderSettings))) {
        settings = *static_cast<const ProviderSettings*>(pView);
        UnmapViewOfFile(pView);
    }
    CloseHandle(hMapping);
    return settings;
}

bool HasMessage(const std::vector<std::wstring>& messages, const std::wstring& text) {
    return std::find(messages.begin(), messages.end(), text) != messages.end();
}

struct Identity {
    const wchar_t* pszFileName;
    const wchar_t* pszKey;
    const wchar_t* pszLogFolder;
    const wchar_t* pszSection;
};

const Identity kIdentities[] = {
    {L"ORVOTSP.TSP", L"SOFTWARE\\ORVO\\TAPI", L"ORVO TAPI", L"Global\\SharedMemORVOAPITSPORVOTSP"},
    {L"ORVOTSP_2.TSP", L"SOFTWARE\\ORVO\\2", L"2", L"Global\\SharedMemORVOAPITSPORVOTSP_2"},
    {L"ORVOTSP-2.TSP", L"SOFTWARE\\ORVO\\2", L"2", L"Global\\SharedMemORVOAPITSPORVOTSP-2"},
    {L"OTHER.TSP", L"SOFTWARE\\ORVO\\OTHER", L"OTHER", L"Global\\SharedMemORVOAPITSPOTHER"},
};

class SettingsStartUpTest : public testing::TestWithParam<Identity> {
protected:
    void SetUp() override {
        const Identity& identity = GetParam();
        m_snapshot.emplace(HKEY_LOCAL_MACHINE, identity.pszKey);
        m_copy = m_dir.File(identity.pszFileName);
        ASSERT_TRUE(CopyFileW(GetEnv(L"ORVO_TSP_PATH").c_str(), m_copy.c_str(), FALSE));
        // Values of this copy alone, so that a wrong key shows.
        m_name = std::wstring(L"K-") + identity.pszLogFolder;
        m_password = std::wstring(L"pw\"") + identity.pszFileName + L"-secret";
        SetString(L"DebugLevel", L"0");
        SetString(L"NumberFormat", std::to_wstring(wcslen(identity.pszFileName) % 4));
        SetString(L"LineFormat", L"2");
        SetString(L"MaxFiles", L"7");
        SetString(L"MaxLogFileSize", L"3");
        ASSERT_TRUE(SetRegDword(HKEY_LOCAL_MACHINE, identity.pszKey, L"LogFileNr", 4));
        StrCopy(g_szLocalRegPath, identity.pszKey);
        ASSERT_EQ(ERROR_SUCCESS, WriteProtectedValue(m_name.c_str(), L"Name"));
        ASSERT_EQ(ERROR_SUCCESS, WriteProtectedValue(m_password.c_str(), L"Password"));
    }

    void SetString(const wchar_t* pszName, const std::wstring& text) {
        ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, GetParam().pszKey, pszName, text));
    }

    std::wstring LogFile() const {
        return CommonAppData() + L"\\ORVO\\" + GetParam().pszLogFolder + L"\\ORVOTSP" + ExeBaseName() + L"_000.LOG";
    }

    std::optional<CRegistrySnapshot> m_snapshot;
    CTempDir m_dir{L"identity"};
    std::wstring m_copy;
    std::wstring m_name;
    std::wstring m_password;
};

TEST_P(SettingsStartUpTest, CopyUsesItsOwnKeyFolderAndSection) {
    const Identity& identity = GetParam();
    CTapiHost host;
    ASSERT_TRUE(host.Load(m_copy));

    std::optional<ProviderSettings> settings = ReadSection(identity.pszSection);
    ASSERT_TRUE(settings.has_value()) << "no section " << ToUtf8(identity.pszSection);
    EXPECT_STREQ(L"0", settings->DebugLevel);
    EXPECT_EQ(std::to_wstring(wcslen(identity.pszFileName) % 4), settings->NumberFormat);
    EXPECT_STREQ(L"2", settings->LineFormat);
    EXPECT_EQ(m_name, settings->Name);
    EXPECT_EQ(m_password, settings->Password);

    EXPECT_EQ(0, host.Shutdown());
    host.Unload();

    // The banner is written at DebugLevel 0, without the password.
    std::vector<std::wstring> messages = LogMessages(ReadFileBytes(LogFile()));
    ASSERT_FALSE(messages.empty()) << "no log " << ToUtf8(LogFile());
    const std::wstring attach = kAttach;
    EXPECT_TRUE(HasMessage(messages, attach + L"Var.m_szFileDescription ORVO Third Party TAPI"));
    EXPECT_TRUE(HasMessage(messages, attach + L"Info.ORVO Third Party TAPI"));
    EXPECT_TRUE(HasMessage(messages, attach + L"Var.g_szLocalRegPath " + identity.pszKey));
    EXPECT_TRUE(HasMessage(messages, attach + L"Info.SHARED_FILE_NAME " + identity.pszSection));
    EXPECT_TRUE(HasMessage(messages, attach + L"Var.g_szAgent ORVO TSP 1.1.0.0 (" + m_name + L")"));
    EXPECT_TRUE(HasMessage(messages, attach + L"Var.ProductVersion 1.1.0.0"));
    EXPECT_TRUE(HasMessage(messages, attach + L"Var.FileVersion 1.0.0.33"));
    EXPECT_TRUE(HasMessage(messages, attach + L"Var.MaxFiles 7"));
    EXPECT_TRUE(HasMessage(messages, attach + L"Var.MaxLogFileSize 3145728"));
    EXPECT_TRUE(HasMessage(messages, L"Func.PrintSystemInfoFile.End"));
    for (const std::wstring& message : messages)
        EXPECT_EQ(std::wstring::npos, message.find(m_password)) << ToUtf8(message);

    // The shutdown saved the log values of this copy: a start begins at file 0.
    DWORD dwLogFileNr = 99;
    ASSERT_TRUE(ReadRegDword(HKEY_LOCAL_MACHINE, identity.pszKey, L"LogFileNr", &dwLogFileNr));
    EXPECT_EQ(0u, dwLogFileNr);
    std::wstring text;
    ASSERT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, identity.pszKey, L"MaxFiles", &text));
    EXPECT_EQ(L"7", text);
    ASSERT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, identity.pszKey, L"MaxLogFileSize", &text));
    EXPECT_EQ(L"3", text);
}

INSTANTIATE_TEST_SUITE_P(Copies, SettingsStartUpTest, testing::ValuesIn(kIdentities),
                         [](const testing::TestParamInfo<Identity>& info) {
                             std::string name = ToUtf8(info.param.pszFileName);
                             std::replace_if(name.begin(), name.end(), [](char c) { return !isalnum(c); }, '_');
                             return name + "_" + std::to_string(info.index);
                         });

// The copy ORVOTSP_2.TSP leaves the standard provider's record alone.
TEST(SettingsStartUpSections, CopyDoesNotTouchTheStandardSection) {
    CRegistrySnapshot standardKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ORVO\\TAPI");
    CRegistrySnapshot copyKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ORVO\\2");
    ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ORVO\\TAPI", L"NumberFormat", L"1"));
    ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ORVO\\2", L"NumberFormat", L"3"));
    CTempDir dir(L"sections");
    for (const wchar_t* pszName : {L"ORVOTSP.TSP", L"ORVOTSP_2.TSP"})
        ASSERT_TRUE(CopyFileW(GetEnv(L"ORVO_TSP_PATH").c_str(), dir.File(pszName).c_str(), FALSE));

    CTapiHost standard;
    ASSERT_TRUE(standard.Load(dir.File(L"ORVOTSP.TSP")));
    HMODULE hCopy = LoadLibraryW(dir.File(L"ORVOTSP_2.TSP").c_str());
    ASSERT_NE(nullptr, hCopy);
    std::optional<ProviderSettings> standardRecord = ReadSection(L"Global\\SharedMemORVOAPITSPORVOTSP");
    std::optional<ProviderSettings> copyRecord = ReadSection(L"Global\\SharedMemORVOAPITSPORVOTSP_2");
    FreeLibrary(hCopy);
    standard.Unload();

    ASSERT_TRUE(standardRecord && copyRecord);
    EXPECT_STREQ(L"1", standardRecord->NumberFormat);
    EXPECT_STREQ(L"3", copyRecord->NumberFormat);
}

// The start-up report lists the providers of the telephony key at DebugLevel 0.
TEST(SettingsStartUpReport, ListsInstalledProviders) {
    CRegistrySnapshot settingsKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ORVO\\TAPI");
    CRegistrySnapshot providersKey(HKEY_LOCAL_MACHINE, kProviders);
    const std::vector<std::wstring> files = {L"ORVOSTART_A.TSP", L"ORVOSTART_MISSING.TSP", L"ORVOSTART_C.TSP"};
    for (const wchar_t* pszName : {L"ORVOSTART_A.TSP", L"ORVOSTART_C.TSP"})
        ASSERT_TRUE(CopyFileW(GetEnv(L"ORVO_TSP_PATH").c_str(), (SystemDir() + L"\\" + pszName).c_str(), FALSE));
    ASSERT_TRUE(SetRegDword(HKEY_LOCAL_MACHINE, kProviders, L"NumProviders", 130));
    ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, kProviders, L"ProviderFilename0", L"ORVOSTART_A.TSP"));
    ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, kProviders, L"ProviderFilename1", L"ORVOSTART_MISSING.TSP"));
    ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, kProviders, L"ProviderFilename2", L"ORVOSTART_C.TSP"));
    ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ORVO\\TAPI", L"DebugLevel", L"0"));
    CTempDir dir(L"report");
    ASSERT_TRUE(CopyFileW(GetEnv(L"ORVO_TSP_PATH").c_str(), dir.File(L"ORVOTSP.TSP").c_str(), FALSE));

    CTapiHost host;
    ASSERT_TRUE(host.Load(dir.File(L"ORVOTSP.TSP")));
    host.Unload();
    for (const wchar_t* pszName : {L"ORVOSTART_A.TSP", L"ORVOSTART_C.TSP"}) DeleteFileW((SystemDir() + L"\\" + pszName).c_str());

    std::vector<std::wstring> messages = LogMessages(
        ReadFileBytes(CommonAppData() + L"\\ORVO\\ORVO TAPI\\ORVOTSP" + ExeBaseName() + L"_000.LOG"));
    auto fileName = std::find(messages.begin(), messages.end(), L"Func.PrintSystemInfoFile.Info.FileName ORVOSTART_A.TSP");
    ASSERT_NE(messages.end(), fileName);
    const std::vector<std::wstring> block(fileName, std::min(fileName + 5, messages.end()));
    const std::vector<std::wstring> expected = {
        L"Func.PrintSystemInfoFile.Info.FileName ORVOSTART_A.TSP", L"Func.PrintSystemInfoFile.Info.FileVersion 1.0.0.33",
        L"Func.PrintSystemInfoFile.Info.ProductVersion 1.1.0.0", L"", L"Func.PrintSystemInfoFile.End"};
    EXPECT_EQ(expected, block);  // the missing file skipped, the third beyond 130 modulo 128
}
}  // namespace
