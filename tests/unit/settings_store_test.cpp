// The settings key as the start-up reads it and the dialog saves it, the
// protected credentials, and the current TAPI dialing location.
// ctest-lock: registry
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "common/BoundedString.h"
#include "common/TimerScale.h"
#include "config/CPredialNumbers.h"
#include "config/ProtectedValue.h"
#include "config/ProviderIdentity.h"
#include "config/ProviderSettings.h"
#include "config/Settings.h"
#include "http/CHTTPContactBase.h"
#include "log/ObjectSecurity.h"
#include "log/Trace.h"
#include "manager/CGenericTSPIManager.h"
#include "pbx/ExtensionDirectory.h"
#include "support/RegistryFixture.h"
#include "support/TestFiles.h"
#include "support/TraceCapture.h"
#include "tools/tapihost/ProviderSetup.h"

namespace {
// A provider copy of the tests' own, so that the real settings stay untouched.
const std::wstring kKey = L"SOFTWARE\\ORVO\\UNITSETTINGS";
const std::wstring kCredentialsKey = kKey + L"\\" + kCredentialsSubkey;

// The stored credentials: name, then password.
std::pair<std::wstring, std::wstring> Stored() {
    std::wstring name, password;
    ReadStoredCredentials(&name, &password);
    return {name, password};
}

// Gives an existing key the owner and DACL of the SDDL text.
bool SetKeySecurity(const std::wstring& path, const wchar_t* pszSddl) {
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(pszSddl, SDDL_REVISION_1, &pDescriptor, nullptr))
        return false;
    HKEY hKey = nullptr;
    LONG lResult = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_DAC | WRITE_OWNER, &hKey);
    if (lResult == ERROR_SUCCESS) {
        lResult = RegSetKeySecurity(hKey, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, pDescriptor);
        RegCloseKey(hKey);
    }
    LocalFree(pDescriptor);
    return lResult == ERROR_SUCCESS;
}

class SettingsStoreTest : public testing::Test {
protected:
    void SetUp() override {
        StrCopy(g_szTSPName, L"ORVOTSP_UNITSETTINGS");
        StrCopy(g_szTSPNameExtension, L"UNITSETTINGS");
        BuildLocalRegPath();
        ASSERT_EQ(kKey, g_szLocalRegPath);
        *g_pProviderSettings = ProviderSettings{};
        // The start-up's defaults, set before the registry is read.
        TraceLog.m_dwMaxFiles = 5;
        TraceLog.m_nMaxLogFileSize = 52428800;
        TraceLog.m_dwLogFileNr = 0;
        m_savedLevel = TraceLog.m_dwDebugLevel;
    }
    void TearDown() override { TraceLog.m_dwDebugLevel = m_savedLevel; }

    static void SetString(const wchar_t* pszName, const std::wstring& text) {
        ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, kKey, pszName, text));
    }
    static std::wstring RegString(const wchar_t* pszName) {
        std::wstring text;
        EXPECT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, kKey, pszName, &text)) << pszName;
        return text;
    }

    CRegistrySnapshot m_snapshot{HKEY_LOCAL_MACHINE, kKey};
    unsigned long m_savedLevel = 0;
};

// MaxFiles and MaxLogFileSize (MiB) are decimal texts of at most 30 characters;
// 0 or anything unreadable means 5 files and 50 MiB.
TEST_F(SettingsStoreTest, LogLimits) {
    const struct {
        std::wstring maxFiles, maxLogFileSize;
        DWORD dwLogFileNr, dwExpectedFiles;
        LONGLONG nExpectedSize;
        DWORD dwExpectedNr;
    } cases[] = {
        {L"abc", L"0", 7, 5, 52428800, 2},
        {L"7", L"1", 9, 7, 1048576, 4},  // the file number is taken modulo the default 5
        {L"12", L"4096", 0, 12, 50000000, 0},  // 32-bit byte count wraps to 0
        {L"1234567890123456789012345678901", L"20", 0, 5, 20971520, 0},  // 31 characters: too long
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(L"MaxFiles " + c.maxFiles + L", MaxLogFileSize " + c.maxLogFileSize));
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey.c_str());
        SetString(L"MaxFiles", c.maxFiles);
        SetString(L"MaxLogFileSize", c.maxLogFileSize);
        ASSERT_TRUE(SetRegDword(HKEY_LOCAL_MACHINE, kKey, L"LogFileNr", c.dwLogFileNr));
        TraceLog.m_dwMaxFiles = 5;
        TraceLog.m_nMaxLogFileSize = 52428800;

        g_Manager.ReadRegistrySettings();

        EXPECT_EQ(c.dwExpectedFiles, TraceLog.m_dwMaxFiles);
        EXPECT_EQ(c.nExpectedSize, TraceLog.m_nMaxLogFileSize);
        EXPECT_EQ(c.dwExpectedNr, TraceLog.m_dwLogFileNr);
    }
}

// Each value as the start-up takes it: text values hold at most 14
// characters, longer or empty ones count as missing; only an IgnoreCertErrors
// of exactly 1 ignores certificates; the directory refresh period is off at 0
// and at most a day; the test-only timer divisor is at most 100. A missing or
// empty "ApiBaseUrl" means the built-in one; one too long or not an http(s)
// URL is refused and leaves no base at all, never the built-in.
TEST_F(SettingsStoreTest, EachValueIsTakenWithinItsLimits) {
    using Stored = std::variant<std::monostate, std::wstring, DWORD>;  // monostate: no value
    const auto url = [] { return std::wstring(g_szApiBaseUrl); };
    const auto refresh = [] { return std::to_wstring(g_dwDirectoryRefreshSeconds); };
    const auto divisor = [] { return std::to_wstring(TimerDivisor()); };
    const std::wstring longest = L"https://pbx.example/" + std::wstring(400 - 20, L'a');
    const struct {
        const char* pszWhat;
        const wchar_t* pszName;
        Stored stored;
        std::function<std::wstring()> read;
        std::wstring expected;
    } rows[] = {
        {"14 characters", L"NumberFormat", L"12345678901234", [] { return std::wstring(g_pProviderSettings->NumberFormat); },
         L"12345678901234"},
        {"15 characters", L"LineFormat", L"123456789012345", [] { return std::wstring(g_pProviderSettings->LineFormat); }, L"0"},
        {"empty", L"DebugLevel", L"", [] { return std::wstring(g_pProviderSettings->DebugLevel); }, L"0"},
        {"certificates ignored", L"IgnoreCertErrors", 1u, [] { return std::to_wstring(g_bIgnoreCertErrors); }, L"1"},
        {"certificates checked", L"IgnoreCertErrors", 2u, [] { return std::to_wstring(g_bIgnoreCertErrors); }, L"0"},
        {"refresh missing", L"DirectoryRefreshSeconds", {}, refresh, std::to_wstring(kDefaultDirectoryRefreshSeconds)},
        {"refresh off", L"DirectoryRefreshSeconds", 0u, refresh, L"0"},
        {"refresh each second", L"DirectoryRefreshSeconds", 1u, refresh, L"1"},
        {"refresh over a day", L"DirectoryRefreshSeconds", 100000u, refresh, std::to_wstring(kMaxDirectoryRefreshSeconds)},
        {"divisor missing", L"TestTimeDivisor", {}, divisor, L"1"},
        {"divisor 0", L"TestTimeDivisor", 0u, divisor, L"1"},
        {"divisor 10", L"TestTimeDivisor", 10u, divisor, L"10"},
        {"divisor over 100", L"TestTimeDivisor", 1000u, divisor, L"100"},
        {"URL missing", L"ApiBaseUrl", {}, url, ORVO_DEFAULT_API_BASE_URL},
        {"URL empty", L"ApiBaseUrl", L"", url, ORVO_DEFAULT_API_BASE_URL},
        {"https with port", L"ApiBaseUrl", L"https://localhost:8443/v1", url, L"https://localhost:8443/v1"},
        {"http, upper-case scheme", L"ApiBaseUrl", L"HTTP://pbx.example/v1", url, L"HTTP://pbx.example/v1"},
        {"IPv6 address", L"ApiBaseUrl", L"http://[::1]:8080/v1", url, L"http://[::1]:8080/v1"},
        {"400 characters", L"ApiBaseUrl", longest, url, longest},
        {"401 characters", L"ApiBaseUrl", longest + L"a", url, L""},
        {"longer than the buffer", L"ApiBaseUrl", L"https://pbx.example/" + std::wstring(600, L'a'), url, L""},
        {"other scheme", L"ApiBaseUrl", L"ftp://pbx.example/v1", url, L""},
        {"no scheme", L"ApiBaseUrl", L"pbx.example/v1", url, L""},
        {"no host", L"ApiBaseUrl", L"https:///v1", url, L""},
        {"user and password", L"ApiBaseUrl", L"https://user:pw@pbx.example/v1", url, L""},
        {"port 0", L"ApiBaseUrl", L"https://pbx.example:0/v1", url, L""},
        {"port too big", L"ApiBaseUrl", L"https://pbx.example:65536/v1", url, L""},
        {"blank", L"ApiBaseUrl", L"https://pbx.example/v 1", url, L""},
        {"query", L"ApiBaseUrl", L"https://pbx.example/v1?x=1", url, L""},
        {"URL of another type", L"ApiBaseUrl", 1u, url, L""},
    };
    const DWORD dwSuiteDivisor = TimerDivisor();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pszWhat);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey.c_str());
        if (const auto* pText = std::get_if<std::wstring>(&row.stored)) SetString(row.pszName, *pText);
        if (const auto* pdw = std::get_if<DWORD>(&row.stored))
            ASSERT_TRUE(SetRegDword(HKEY_LOCAL_MACHINE, kKey, row.pszName, *pdw));
        // Values that are not read would keep these.
        *g_pProviderSettings = ProviderSettings{};
        StrCopy(g_szApiBaseUrl, L"(unchanged)");
        g_dwDirectoryRefreshSeconds = 12345;
        g_bIgnoreCertErrors = 7;
        SetTimerDivisor(7);
        g_Manager.ReadRegistrySettings();
        EXPECT_EQ(row.read(), row.expected);
    }
    SetTimerDivisor(dwSuiteDivisor);
}

// Each timer follows the divisor, down to its floor; one already below the floor keeps its length.
TEST(TimerScaleTest, TimersAreDividedDownToTheirFloor) {
    const struct { DWORD dwDivisor, dwMs, dwFloorMs, dwExpected; } rows[] = {
        {1, 10000, kMinScaledMs, 10000}, {10, 1000, kMinScaledMs, 100}, {10, 100, kMinScaledMs, 10},
        {10, 10000, 2000, 2000},         {100, 10000, kMinScaledMs, 100}, {100, 100, kMinScaledMs, 10},
        {100, 5, kMinScaledMs, 5},
    };
    const DWORD dwSuiteDivisor = TimerDivisor();
    for (const auto& row : rows) {
        SetTimerDivisor(row.dwDivisor);
        EXPECT_EQ(ScaledMs(row.dwMs, row.dwFloorMs), row.dwExpected) << row.dwMs << " ms at divisor " << row.dwDivisor;
    }
    SetTimerDivisor(dwSuiteDivisor);
}

// Each extension keeps its permanent line number, whatever its place and
// wherever it comes back; a number once given goes to no other extension.
// Numbers are saved in one value, and a restart (the next lookup after a
// save) reads them from there; the one-value-per-extension subkey of earlier
// versions is taken over with its numbers and removed.
TEST_F(SettingsStoreTest, PermanentLineNumbersBelongToExtensions) {
    const std::wstring oldKey = kKey + L"\\PermanentLineIDs";
    const std::vector<ExtensionInfo> saved = g_Extensions;
    auto numberOf = [](const wchar_t* pszUuid, const wchar_t* pszNumber, DWORD dwPreferred) {
        g_Extensions = {ExtensionInfo{L"someone-else", L"99", L"", L""}, ExtensionInfo{pszUuid, pszNumber, L"", L""}};
        return g_Manager.GetPermanentLineNumber(1, dwPreferred);
    };
    struct Row {
        const char* pszWhat;
        const wchar_t* pszUuid;
        const wchar_t* pszNumber;
        DWORD dwPreferred;
        DWORD dwExpected;
        bool bRestartBefore;
    };
    const Row fresh[] = {
        {"first extension takes its preferred number", L"uuid-a", L"21", 5, 5, false},
        {"the same extension, another preference", L"uuid-a", L"21", 9, 5, false},
        {"another extension wanting a taken number gets the next", L"uuid-b", L"22", 5, 6, false},
        {"another extension with a free preference", L"uuid-c", L"23", 2, 2, false},
        {"number 0 is never a preference", L"uuid-d", L"24", 0, 7, false},
        {"a new extension with an old extension's number", L"uuid-e", L"21", 5, 8, false},
        {"the old extension comes back", L"uuid-a", L"21", 1, 5, false},
        {"without a uuid: by its number", L"", L"30", 30, 30, false},
        {"without a uuid again", L"", L"30", 31, 30, false},
        {"after a restart: the same number", L"uuid-b", L"22", 1, 6, true},
        {"after a restart: a new extension gets none given before", L"uuid-f", L"25", 8, 31, true},
        {"after a second restart: the number of the last start", L"uuid-f", L"25", 1, 31, true},
    };
    // Earlier versions' numbers beside a table that already holds some.
    const Row migrated[] = {
        {"a number from the old subkey", L"uuid-a", L"21", 1, 40, false},
        {"the table's number wins over the subkey's", L"uuid-b", L"22", 1, 6, false},
        {"a subkey number another extension holds in the table is not taken", L"uuid-g", L"26", 2, 41, false},
        {"a new extension: none of either", L"uuid-h", L"27", 40, 42, false},
        {"the subkey's other number of a table extension goes to no other", L"uuid-i", L"28", 12, 43, false},
        {"after a restart: the old subkey's number stays", L"uuid-a", L"21", 1, 40, true},
    };
    for (bool bMigration : {false, true}) {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, oldKey.c_str());
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKey.c_str(), L"PermanentLineIDs");
        if (bMigration) {
            const std::string table = "6 uuid-b\n2 uuid-c\nnonsense\n";
            ASSERT_TRUE(SetRegBinary(HKEY_LOCAL_MACHINE, kKey, L"PermanentLineIDs",
                                     std::vector<BYTE>(table.begin(), table.end())));
            ASSERT_TRUE(SetRegDword(HKEY_LOCAL_MACHINE, oldKey, L"uuid-a", 40));
            ASSERT_TRUE(SetRegDword(HKEY_LOCAL_MACHINE, oldKey, L"uuid-b", 12));
            ASSERT_TRUE(SetRegDword(HKEY_LOCAL_MACHINE, oldKey, L"uuid-g", 2));
            ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, oldKey, L"uuid-x", L"50"));
        }
        // A start begins with what the registry holds.
        SavePermanentLineNumbers();
        for (const Row& row : bMigration ? std::vector<Row>(std::begin(migrated), std::end(migrated))
                                          : std::vector<Row>(std::begin(fresh), std::end(fresh))) {
            SCOPED_TRACE(row.pszWhat);
            if (row.bRestartBefore) SavePermanentLineNumbers();
            EXPECT_EQ(numberOf(row.pszUuid, row.pszNumber, row.dwPreferred), row.dwExpected);
            // Taken over at the first lookup: the subkey is gone.
            EXPECT_TRUE(!bMigration || !RegKeyExists(HKEY_LOCAL_MACHINE, oldKey));
        }
        SavePermanentLineNumbers();
        DWORD dwType = 0;
        std::vector<BYTE> table;
        ASSERT_TRUE(ReadRegValue(HKEY_LOCAL_MACHINE, kKey, L"PermanentLineIDs", &dwType, &table));
        EXPECT_EQ(dwType, static_cast<DWORD>(REG_BINARY));
        const std::string text(table.begin(), table.end());
        for (const char* pszEntry : bMigration ? std::vector<const char*>{"40 uuid-a\n", "6 uuid-b\n", "41 uuid-g\n", "43 uuid-i\n"}
                                               : std::vector<const char*>{"6 uuid-b\n", "30 extension 30\n"})
            EXPECT_NE(text.find(pszEntry), std::string::npos) << pszEntry << " in " << text;
    }
    // Outside the directory there is no number to give.
    EXPECT_EQ(g_Manager.GetPermanentLineNumber(7, 3), 0u);
    g_Extensions = saved;
}

TEST_F(SettingsStoreTest, ProtectedValuesAreNotPlainTextAndUnreadableOnesReadEmpty) {
    const std::wstring secret = L"Geheim-Passwort \u00e4\u00f6\u00fc";
    ASSERT_EQ(ERROR_SUCCESS, WriteStoredCredentials(L"K1", secret.c_str()));
    DWORD dwType = 0;
    std::vector<BYTE> blob;
    ASSERT_TRUE(ReadRegValue(HKEY_LOCAL_MACHINE, kCredentialsKey, L"Password", &dwType, &blob));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), dwType);
    const BYTE* pPlain = reinterpret_cast<const BYTE*>(secret.c_str());
    EXPECT_EQ(blob.end(), std::search(blob.begin(), blob.end(), pPlain, pPlain + secret.size() * 2))
        << "the password is stored readable";
    EXPECT_EQ(secret, Stored().second);

    ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, kCredentialsKey, L"Password", L"plain text"));
    EXPECT_EQ(L"", Stored().second);
    g_Manager.ReadRegistrySettings();
    EXPECT_STREQ(L"", g_pProviderSettings->Password);
    EXPECT_EQ(L"", g_sPassword);
}

// Credentials of an earlier version, in the settings key every user may
// read, move at the first start to a key for SYSTEM and Administrators only;
// the old copies go once the new ones are there.
TEST_F(SettingsStoreTest, OldCredentialsMoveToTheProtectedKeyAndLeaveNoCopy) {
    ASSERT_TRUE(WriteProtectedSetting(kKey, L"Name", L"K-old"));
    ASSERT_TRUE(WriteProtectedSetting(kKey, L"Password", L"old-secret"));
    g_Manager.ReadRegistrySettings();
    EXPECT_STREQ(L"K-old", g_pProviderSettings->Name);
    EXPECT_EQ(L"old-secret", g_sPassword);
    for (const wchar_t* pszName : {L"Name", L"Password"}) {
        DWORD dwType = 0;
        std::vector<BYTE> data;
        EXPECT_FALSE(ReadRegValue(HKEY_LOCAL_MACHINE, kKey, pszName, &dwType, &data)) << "old copy left";
        EXPECT_TRUE(ReadRegValue(HKEY_LOCAL_MACHINE, kCredentialsKey, pszName, &dwType, &data));
    }
    EXPECT_EQ(L"old-secret", Stored().second);
    // The key as made: owned by Administrators, for SYSTEM and Administrators alone, nothing inherited.
    HKEY hKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCredentialsKey.c_str(), 0, READ_CONTROL, &hKey));
    const wchar_t* pszWhy = L"";
    EXPECT_TRUE(IsSecuredAsMadeByProvider(hKey, SE_REGISTRY_KEY, &pszWhy)) << ToUtf8(pszWhy);
    RegCloseKey(hKey);
    // The next start finds them there; one value written anew in the old
    // place replaces its counterpart alone.
    *g_pProviderSettings = ProviderSettings{};
    ASSERT_TRUE(WriteProtectedSetting(kKey, L"Password", L"new-secret"));
    g_Manager.ReadRegistrySettings();
    EXPECT_STREQ(L"K-old", g_pProviderSettings->Name);
    EXPECT_EQ(L"new-secret", g_sPassword);
}

// A credentials key that someone else made or opened up is not used (nor
// moved into): the start says so in the log, and works from the old place
// while there is one.
TEST_F(SettingsStoreTest, CredentialsKeyOfAnotherOwnerOrOpenToOthersIsRefused) {
    const struct { const wchar_t* pszWhat; const wchar_t* pszSddl; const wchar_t* pszWhy; } cases[] = {
        {L"Users may read", L"O:BAD:P(A;;KA;;;SY)(A;;KA;;;BA)(A;;KR;;;BU)", L"others than the service accounts may open it"},
        {L"a user's key", L"O:S-1-5-21-1-2-3-1001D:P(A;;KA;;;SY)(A;;KA;;;BA)", L"another account owns it"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.pszWhat));
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey.c_str());
        ASSERT_EQ(ERROR_SUCCESS, WriteStoredCredentials(L"K-planted", L"planted-secret"));
        ASSERT_TRUE(SetKeySecurity(kCredentialsKey, c.pszSddl));
        for (const bool bOldCopies : {false, true}) {
            if (bOldCopies) {
                ASSERT_TRUE(WriteProtectedSetting(kKey, L"Password", L"old-secret"));
            }
            CTraceCapture capture(0);
            g_Manager.ReadRegistrySettings();
            EXPECT_STREQ(L"", g_pProviderSettings->Name);
            EXPECT_EQ(bOldCopies ? L"old-secret" : L"", g_sPassword);
            const std::vector<std::wstring> messages = capture.Messages();
            EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [&](const std::wstring& m) {
                return m.find(std::wstring(L"Credentials key refused, ") + c.pszWhy) != std::wstring::npos;
            }));
        }
        DWORD dwType = 0;
        std::vector<BYTE> data;
        EXPECT_TRUE(ReadRegValue(HKEY_LOCAL_MACHINE, kKey, L"Password", &dwType, &data)) << "moved into a refused key";
        EXPECT_EQ(ERROR_ACCESS_DENIED, WriteStoredCredentials(L"K", L"pw"));
    }
}

// A process whose account may not open the key (a user's dialog) knows
// nothing of the credentials, and cannot save new ones.
TEST_F(SettingsStoreTest, CredentialsKeyThisAccountMayNotOpenLeavesThemUnknown) {
    ASSERT_EQ(ERROR_SUCCESS, WriteStoredCredentials(L"K-admin", L"admin-secret"));
    {
        CReadOnlyKey closed(HKEY_LOCAL_MACHINE, kCredentialsKey, 0);
        ASSERT_TRUE(closed.Applied());
        g_Manager.ReadRegistrySettings();
        EXPECT_TRUE(g_bCredentialsUnknown);
        EXPECT_STREQ(L"", g_pProviderSettings->Name);
        EXPECT_STREQ(L"", g_pProviderSettings->Password);
        EXPECT_FALSE(g_Manager.GetSaveGUISettings(0, L"K-user", L"user-secret", L"0", L"0"));
    }
    g_Manager.ReadRegistrySettings();
    EXPECT_FALSE(g_bCredentialsUnknown);
    EXPECT_STREQ(L"K-admin", g_pProviderSettings->Name);
}

TEST_F(SettingsStoreTest, DialogSaveWritesRegistryAndThenRecord) {
    const std::wstring longName(70, L'K');
    ASSERT_TRUE(g_Manager.GetSaveGUISettings(1, longName.c_str(), L"pw\"1", L"6", L"2"));

    EXPECT_EQ(std::wstring(62, L'K'), g_pProviderSettings->Name);
    EXPECT_STREQ(L"pw\"1", g_pProviderSettings->Password);
    EXPECT_STREQ(L"5", g_pProviderSettings->DebugLevel);
    EXPECT_STREQ(L"6", g_pProviderSettings->NumberFormat);
    EXPECT_STREQ(L"2", g_pProviderSettings->LineFormat);
    EXPECT_EQ(L"5", RegString(L"DebugLevel"));
    EXPECT_EQ(L"6", RegString(L"NumberFormat"));
    EXPECT_EQ(L"2", RegString(L"LineFormat"));
    EXPECT_EQ(std::wstring(62, L'K'), Stored().first);
    EXPECT_EQ(L"pw\"1", Stored().second);
}

// A user who may only read the key (no administrator): nothing is saved,
// the caller hears so, and the record the service reads stays as it was.
TEST_F(SettingsStoreTest, DialogSaveToAKeyThatCanOnlyBeReadChangesNothing) {
    SetString(L"DebugLevel", L"0");
    SetString(L"NumberFormat", L"1");
    StrCopy(g_pProviderSettings->Name, L"K-old");
    StrCopy(g_pProviderSettings->NumberFormat, L"1");
    bool bSaved = true;
    {
        CReadOnlyKey readOnly(HKEY_LOCAL_MACHINE, kKey);
        ASSERT_TRUE(readOnly.Applied());
        bSaved = g_Manager.GetSaveGUISettings(1, L"K-new", L"new-secret", L"3", L"2");
    }
    EXPECT_FALSE(bSaved);
    EXPECT_EQ(L"0", RegString(L"DebugLevel"));
    EXPECT_EQ(L"1", RegString(L"NumberFormat"));
    EXPECT_EQ(L"", Stored().first);
    EXPECT_STREQ(L"K-old", g_pProviderSettings->Name);
    EXPECT_STREQ(L"", g_pProviderSettings->Password);
    EXPECT_STREQ(L"1", g_pProviderSettings->NumberFormat);
}

// Not the password, nor its length, nor a piece of it, at any level.
TEST_F(SettingsStoreTest, NothingAboutThePasswordReachesTheLog) {
    // 47 characters: a length no other number of these lines has.
    const std::wstring secret = L"TopSecret-4711 with \"quotes\" and \\ xyzwvutsrqab";
    ASSERT_EQ(47u, secret.size());
    CTraceCapture capture(6);
    SetString(L"DebugLevel", L"6");
    ASSERT_TRUE(WriteProtectedSetting(kKey, L"Password", secret));
    g_Manager.ReadRegistrySettings();
    ASSERT_EQ(6u, TraceLog.m_dwDebugLevel);
    EXPECT_EQ(6u, g_bSaveSequence) << "exchange files follow the debug level";
    EXPECT_EQ(secret, g_sPassword);
    ASSERT_TRUE(g_Manager.GetSaveGUISettings(1, L"K1", secret.c_str(), L"0", L"0"));
    std::vector<std::wstring> messages = capture.Messages();
    ASSERT_FALSE(messages.empty());
    for (const std::wstring& message : messages) {
        SCOPED_TRACE(ToUtf8(message));
        EXPECT_EQ(std::wstring::npos, message.find(L"47"));
        for (size_t i = 0; i + 6 <= secret.size(); ++i)
            ASSERT_EQ(std::wstring::npos, message.find(secret.substr(i, 6))) << ToUtf8(secret.substr(i, 6));
    }
}

const std::wstring kLocations = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Locations";

class PredialNumbersTest : public testing::Test {
protected:
    CRegistrySnapshot m_snapshot{HKEY_LOCAL_MACHINE, kLocations};
};

// The current location's country decides the prefixes; a current id without
// its location falls back to the first that exists, and with none at all the
// country is 0 with the default prefixes. No location key is created.
TEST_F(PredialNumbersTest, ReadsTheCurrentLocationOrTheFirstThatExists) {
    const struct {
        const char* pszWhat;
        std::vector<std::pair<DWORD, DWORD>> locations;  // id, country
        DWORD dwCurrentID, dwExpectedID, dwCountry;
        const wchar_t* pszCountry;
        const wchar_t* pszNational;  // 493012345678 in format 2
    } rows[] = {
        {"the current location", {{1, 33}, {2, 49}}, 2, 2, 49, L"49", L"03012345678"},
        {"the current location is missing", {{3, 1}, {5, 49}}, 7, 3, 1, L"1", L"011493012345678"},
        {"no location at all", {}, 4, 4, 0, L"", L"0493012345678"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pszWhat);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kLocations.c_str());
        g_dwCountryCode = 0;  // as in a fresh process, where no country has been read yet
        for (const auto& [dwID, dwCountry] : row.locations) {
            const std::wstring key = kLocations + L"\\Location" + std::to_wstring(dwID);
            ASSERT_TRUE(SetRegDword(HKEY_LOCAL_MACHINE, key, L"Country", dwCountry));
            ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, key, L"AreaCode", L"030"));
        }
        ASSERT_TRUE(SetRegDword(HKEY_LOCAL_MACHINE, kLocations, L"CurrentID", row.dwCurrentID));
        CPredialNumbers predial;
        EXPECT_EQ(predial.m_dwCurrentID, row.dwExpectedID);
        EXPECT_STREQ(predial.m_szCountry, row.pszCountry);
        EXPECT_EQ(g_dwCountryCode, row.dwCountry);
        EXPECT_EQ(predial.Format(L"493012345678", 2), row.pszNational);
        EXPECT_EQ(RegKeyExists(HKEY_LOCAL_MACHINE, kLocations + L"\\Location" + std::to_wstring(row.dwCurrentID)),
                  row.dwCurrentID == row.dwExpectedID && !row.locations.empty());
    }
    EXPECT_EQ(CPredialNumbers().Format(L"493012345678", 3), L"00493012345678");
}

// A format that is not a number counts as format 0.
TEST_F(PredialNumbersTest, ManagerUsesTheFormatOfTheSharedRecord) {
    StrCopy(g_pProviderSettings->NumberFormat, L"1");
    EXPECT_EQ(L"493012345678", g_Manager.CreateFormattedNumber(L"493012345678"));
    StrCopy(g_pProviderSettings->NumberFormat, L"abc");
    EXPECT_EQ(L"+493012345678", g_Manager.CreateFormattedNumber(L"493012345678"));
}

}  // namespace
