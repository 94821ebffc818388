// The provider's settings key (HKLM\<g_szLocalRegPath>): read once per
// process at start-up, written by the dialog's OK, the login result and the
// provider's shutdown. Each operation opens its own key handle, since the
// service's threads and its shutdown may reach here at the same time.
#include <cwchar>

#include "common/BoundedString.h"
#include "common/SecretWipe.h"
#include "common/TimerScale.h"
#include "config/ApiBaseUrl.h"
#include "config/ProtectedValue.h"
#include "config/ProviderIdentity.h"
#include "config/ProviderSettings.h"
#include "config/Settings.h"
#include "config/UiLanguage.h"
#include "log/CLoggingFileWithEvent.h"
#include "http/CHTTPContactBase.h"
#include "log/Trace.h"
#include "manager/CGenericTSPIManager.h"
#include "pbx/SessionState.h"

namespace {
constexpr DWORD kFieldCapacity = 15;  // DebugLevel, NumberFormat, LineFormat: 14 characters
constexpr DWORD kLimitCapacity = 31;  // MaxFiles, MaxLogFileSize
constexpr DWORD kLoginStateCapacity = 511;
constexpr size_t kMaxCredentialChars = 62;
constexpr DWORD kDefaultMaxFiles = 5;
constexpr DWORD kDefaultMaxLogFileMiB = 50;
constexpr DWORD kMiB = 1048576;

// Opens the settings key for reading and writing; when it cannot be opened,
// traces so and ends the caller's trace, which then has nothing to do.
bool OpenSettingsKey(CRegTool& key, const CFuncTrace& trace) {
    if (key.Open(HKEY_LOCAL_MACHINE, g_szLocalRegPath) == ERROR_SUCCESS) return true;
    trace.Warning(L"Settings key cannot be opened");
    trace.End();
    return false;
}

DWORD ReadDecimal(CRegTool& key, const wchar_t* pszName) {
    wchar_t szText[kLimitCapacity];
    key.ReadString(pszName, szText, kLimitCapacity, L"0");
    return static_cast<DWORD>(_wtoi(szText));
}

// "0", missing or not a number: 5 files.
DWORD ReadMaxFiles(CRegTool& key) {
    DWORD dwMaxFiles = ReadDecimal(key, L"MaxFiles");
    return dwMaxFiles != 0 ? dwMaxFiles : kDefaultMaxFiles;
}

// MiB, 0 meaning 50. The byte count is kept to 32 bits as it always was, so
// 4096 MiB and more wrap; a wrap to 0 falls back to the log's own default.
LONGLONG ReadMaxLogFileSize(CRegTool& key) {
    DWORD dwMiB = ReadDecimal(key, L"MaxLogFileSize");
    if (dwMiB == 0) dwMiB = kDefaultMaxLogFileMiB;
    DWORD cbLimit = dwMiB * kMiB;
    return cbLimit != 0 ? cbLimit : kDefaultMaxLogFileSize;
}

// A missing or empty "ApiBaseUrl" means the built-in one. One that is too
// long or no http(s) URL is refused rather than replaced: the credentials
// meant for one server must not go to another. It leaves the base empty, and
// nothing is sent.
void ReadApiBaseUrl(CRegTool& key) {
    wchar_t szUrl[kMaxApiBaseUrlChars + 1] = {};
    const bool bPresent = key.HasValue(L"ApiBaseUrl");
    const bool bRead = key.ReadString(L"ApiBaseUrl", szUrl, kMaxApiBaseUrlChars + 1, nullptr) != 0;
    if (!bPresent || (bRead && szUrl[0] == L'\0')) {
        StrCopy(g_szApiBaseUrl, ORVO_DEFAULT_API_BASE_URL);
        return;
    }
    g_szApiBaseUrl[0] = L'\0';
    if (!bRead)
        Trace(0, L"Func.CGenericTSPIManager::ReadRegistrySettings.Warning.ApiBaseUrl refused: no text of at most %d "
                 L"characters",
              static_cast<int>(kMaxApiBaseUrlChars));
    else if (!IsValidApiBaseUrl(szUrl))
        Trace(0, L"Func.CGenericTSPIManager::ReadRegistrySettings.Warning.ApiBaseUrl refused: not an http(s) URL: %s",
              szUrl);
    else
        StrCopy(g_szApiBaseUrl, szUrl);
}

// Into the record; a process that may not read them (a user's dialog) gets
// empty texts and remembers that they are unknown to it.
void ReadCredentials(ProviderSettings& settings) {
    std::wstring name, password;
    CSecretWiper<std::wstring> wipe(password);
    const CredentialsRead read = ReadStoredCredentials(&name, &password);
    g_bCredentialsUnknown = read == CredentialsRead::Unreadable;
    StrCopy(settings.Name, name.c_str(), kMaxCredentialChars);
    WipeSecret(settings.Password);
    StrCopy(settings.Password, password.c_str(), kMaxCredentialChars);
}

void ReadPbxConnection(CRegTool& key) {
    ReadApiBaseUrl(key);
    DWORD dwIgnoreCertErrors = 0;
    key.ReadDword(L"IgnoreCertErrors", &dwIgnoreCertErrors, 0);
    // Only an explicit 1 lets credentials go to an unverified server.
    g_bIgnoreCertErrors = dwIgnoreCertErrors == 1 ? 1 : 0;
    DWORD dwIdleTimeout = 0;
    key.ReadDword(L"StreamIdleTimeout", &dwIdleTimeout, 0);
    if (dwIdleTimeout == 0) dwIdleTimeout = kDefaultStreamIdleTimeout;
    g_dwStreamIdleTimeout = dwIdleTimeout < kMaxStreamIdleTimeout ? dwIdleTimeout : kMaxStreamIdleTimeout;
    // A missing value keeps the default; an explicit 0 turns the refresh off.
    DWORD dwRefresh = kDefaultDirectoryRefreshSeconds;
    key.ReadDword(L"DirectoryRefreshSeconds", &dwRefresh, kDefaultDirectoryRefreshSeconds);
    g_dwDirectoryRefreshSeconds = dwRefresh < kMaxDirectoryRefreshSeconds ? dwRefresh : kMaxDirectoryRefreshSeconds;
    // Test systems only: divides the provider's timers (missing, 0 or 1: none).
    DWORD dwDivisor = 1;
    key.ReadDword(L"TestTimeDivisor", &dwDivisor, 1);
    SetTimerDivisor(dwDivisor);
}
}  // namespace

void CGenericTSPIManager::ReadRegistrySettings() {
    CFuncTrace trace(2, L"CGenericTSPIManager::ReadRegistrySettings");
    CRegTool key;
    if (!OpenSettingsKey(key, trace)) return;
    ProviderSettings& settings = *g_pProviderSettings;
    DWORD dwLogFileNr = 0;
    key.ReadDword(L"LogFileNr", &dwLogFileNr, 0);
    TraceLog.m_dwLogFileNr = dwLogFileNr % TraceLog.m_dwMaxFiles;
    key.ReadString(L"DebugLevel", settings.DebugLevel, kFieldCapacity, L"0");
    key.ReadString(L"NumberFormat", settings.NumberFormat, kFieldCapacity, L"0");
    key.ReadString(L"LineFormat", settings.LineFormat, kFieldCapacity, L"0");
    TraceLog.m_dwMaxFiles = ReadMaxFiles(key);
    TraceLog.m_nMaxLogFileSize = ReadMaxLogFileSize(key);
    ReadCredentials(settings);

    DWORD dwDebugLevel = static_cast<DWORD>(_wtoi(settings.DebugLevel));
    TraceLog.m_dwDebugLevel = dwDebugLevel;
    g_bSaveSequence = dwDebugLevel;
    SetCredentials(settings.Name, settings.Password);
    ReadPbxConnection(key);
    key.Close();
    trace.End();
}

void CGenericTSPIManager::SaveLogSettings() {
    CFuncTrace trace(2, L"CGenericTSPIManager::SaveLogSettings");
    CRegTool key;
    if (!OpenSettingsKey(key, trace)) return;
    key.WriteDword(L"LogFileNr", TraceLog.m_dwLogFileNr);
    key.WriteInt(L"MaxFiles", static_cast<int>(TraceLog.m_dwMaxFiles));
    key.WriteInt(L"MaxLogFileSize", static_cast<int>(TraceLog.m_nMaxLogFileSize / kMiB));
    key.Close();
    trace.End();
}

bool CGenericTSPIManager::GetSaveGUISettings(DWORD bDebugLog, const wchar_t* pszName, const wchar_t* pszPassword,
                                             const wchar_t* pszNumberFormat, const wchar_t* pszLineFormat) {
    CFuncTrace trace(2, L"CGenericTSPIManager::GetSaveGUISettings");
    trace.Param(L"bDebugLog", L"%u", bDebugLog);
    CRegTool key;
    if (!OpenSettingsKey(key, trace)) return false;
    ProviderSettings saved{};
    StrFormat(saved.DebugLevel, L"%d", bDebugLog ? 5 : 0);
    StrCopy(saved.Name, pszName, kMaxCredentialChars);
    StrCopy(saved.Password, pszPassword, kMaxCredentialChars);
    StrCopy(saved.NumberFormat, pszNumberFormat);
    StrCopy(saved.LineFormat, pszLineFormat);
    trace.Var(L"Name", L"%s", saved.Name);

    // A user without write access to the key may still have opened it for
    // reading: every write is checked, and the first that fails ends the
    // save, so that a user's OK changes nothing (the credentials go last).
    const bool bSaved = key.WriteString(L"DebugLevel", saved.DebugLevel) == ERROR_SUCCESS &&
                        key.WriteString(L"NumberFormat", saved.NumberFormat) == ERROR_SUCCESS &&
                        key.WriteString(L"LineFormat", saved.LineFormat) == ERROR_SUCCESS &&
                        WriteStoredCredentials(saved.Name, saved.Password) == ERROR_SUCCESS;
    key.Close();
    if (bSaved) {
        // Only what is saved reaches the service.
        ProviderSettings& settings = *g_pProviderSettings;
        StrCopy(settings.DebugLevel, saved.DebugLevel);
        StrCopy(settings.NumberFormat, saved.NumberFormat);
        StrCopy(settings.LineFormat, saved.LineFormat);
        StrCopy(settings.Name, saved.Name);
        WipeSecret(settings.Password);
        StrCopy(settings.Password, saved.Password);
        g_bCredentialsUnknown = false;
    } else {
        trace.Warning(L"Settings not saved");
    }
    WipeSecret(saved.Password);
    trace.End(bSaved ? 1 : 0);
    return bSaved;
}

void CGenericTSPIManager::SetLastLoginState(const wchar_t* pszText) {
    CFuncTrace trace(2, L"CGenericTSPIManager::SetLastLoginState");
    trace.Param(L"pszText", L"%s", pszText);
    // Without a log folder this line is the only place that can say so.
    std::wstring state = pszText;
    if (!state.empty() && g_szLogPath[0] == L'\0') state += NoLogFileText();
    CRegTool key;
    if (key.Open(HKEY_LOCAL_MACHINE, g_szLocalRegPath) == ERROR_SUCCESS) key.WriteString(L"LastLoginState", state.c_str());
    key.Close();
    trace.End();
}

std::wstring CGenericTSPIManager::ReadLastLoginState() {
    wchar_t szState[kLoginStateCapacity] = {};
    CRegTool key;
    if (key.OpenExisting(HKEY_LOCAL_MACHINE, g_szLocalRegPath) == ERROR_SUCCESS)
        key.ReadString(L"LastLoginState", szState, kLoginStateCapacity, nullptr);
    key.Close();
    return szState;
}
