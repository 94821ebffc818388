// The provider's settings key (HKLM\<g_szLocalRegPath>): read once per
// process at start-up, written by the dialog's OK, the login result and the
// provider's shutdown. Each operation opens its own key handle, since the
// service's threads and its shutdown may reach here at the same time.
#include <cwchar>
#include <iterator>

#include "common/BoundedString.h"
#include "config/ProtectedValue.h"
#include "config/ProviderIdentity.h"
#include "config/ProviderSettings.h"
#include "config/Settings.h"
#include "http/CHTTPContactBase.h"
#include "log/Trace.h"
#include "manager/CGenericTSPIManager.h"

namespace {
constexpr DWORD kFieldCapacity = 15;  // DebugLevel, NumberFormat, LineFormat: 14 characters
constexpr DWORD kLimitCapacity = 31;  // MaxFiles, MaxLogFileSize
constexpr DWORD kLoginStateCapacity = 511;
constexpr size_t kMaxCredentialChars = 62;
constexpr DWORD kDefaultMaxFiles = 5;
constexpr DWORD kDefaultMaxLogFileMiB = 50;
constexpr LONGLONG kWrappedMaxLogFileSize = 50000000;
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
// 4096 MiB and more wrap; a wrap to 0 falls back to 50000000 bytes.
LONGLONG ReadMaxLogFileSize(CRegTool& key) {
    DWORD dwMiB = ReadDecimal(key, L"MaxLogFileSize");
    if (dwMiB == 0) dwMiB = kDefaultMaxLogFileMiB;
    DWORD cbLimit = dwMiB * kMiB;
    return cbLimit != 0 ? cbLimit : kWrappedMaxLogFileSize;
}

void ReadPbxConnection(CRegTool& key) {
    key.ReadString(L"ApiBaseUrl", g_szApiBaseUrl, static_cast<DWORD>(std::size(g_szApiBaseUrl)),
                   ORVO_DEFAULT_API_BASE_URL);
    DWORD dwIgnoreCertErrors = 0;
    key.ReadDword(L"IgnoreCertErrors", &dwIgnoreCertErrors, 0);
    // Only an explicit 1 lets credentials go to an unverified server.
    g_bIgnoreCertErrors = dwIgnoreCertErrors == 1 ? 1 : 0;
    DWORD dwIdleTimeout = 0;
    key.ReadDword(L"StreamIdleTimeout", &dwIdleTimeout, 0);
    if (dwIdleTimeout == 0) dwIdleTimeout = kDefaultStreamIdleTimeout;
    g_dwStreamIdleTimeout = dwIdleTimeout < kMaxStreamIdleTimeout ? dwIdleTimeout : kMaxStreamIdleTimeout;
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
    StrCopy(settings.Name, ReadProtectedValue(L"Name").c_str(), kMaxCredentialChars);
    StrCopy(settings.Password, ReadProtectedValue(L"Password").c_str(), kMaxCredentialChars);

    DWORD dwDebugLevel = static_cast<DWORD>(_wtoi(settings.DebugLevel));
    TraceLog.m_dwDebugLevel = dwDebugLevel;
    g_bSaveSequence = dwDebugLevel;
    g_sUserName = settings.Name;
    g_sPassword = settings.Password;
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

void CGenericTSPIManager::GetSaveGUISettings(DWORD bDebugLog, const wchar_t* pszName, const wchar_t* pszPassword) {
    CFuncTrace trace(2, L"CGenericTSPIManager::GetSaveGUISettings");
    trace.Param(L"bDebugLog", L"%u", bDebugLog);
    CRegTool key;
    if (!OpenSettingsKey(key, trace)) return;
    ProviderSettings& settings = *g_pProviderSettings;
    StrFormat(settings.DebugLevel, L"%d", bDebugLog ? 5 : 0);
    StrCopy(settings.Name, pszName, kMaxCredentialChars);
    StrCopy(settings.Password, pszPassword, kMaxCredentialChars);
    trace.Var(L"Name", L"%s", settings.Name);

    key.WriteString(L"DebugLevel", settings.DebugLevel);
    key.WriteString(L"NumberFormat", settings.NumberFormat);
    key.WriteString(L"LineFormat", settings.LineFormat);
    WriteProtectedValue(settings.Name, L"Name");
    WriteProtectedValue(settings.Password, L"Password");
    key.Close();
    trace.End();
}

void CGenericTSPIManager::SetLastLoginState(const wchar_t* pszText) {
    CFuncTrace trace(2, L"CGenericTSPIManager::SetLastLoginState");
    trace.Param(L"pszText", L"%s", pszText);
    CRegTool key;
    if (key.Open(HKEY_LOCAL_MACHINE, g_szLocalRegPath) == ERROR_SUCCESS) key.WriteString(L"LastLoginState", pszText);
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
