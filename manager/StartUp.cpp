// Bringing the provider up and down: where settings and logs live, the device
// set, the line names.
#include <shlobj.h>

#include <cwctype>

#include "common/BoundedString.h"
#include "config/CSharedMem.h"
#include "config/CVersionTool.h"
#include "config/ProviderIdentity.h"
#include "config/ProviderSettings.h"
#include "config/Settings.h"
#include "config/UiLanguage.h"
#include "http/CHTTPContactBase.h"
#include "log/DiagnosticReports.h"
#include "log/ExeName.h"
#include "log/FileSecurity.h"
#include "log/Trace.h"
#include "manager/BackgroundThreads.h"
#include "manager/CGenericTSPIManager.h"
#include "manager/CallEventScheduler.h"
#include "manager/ProviderState.h"
#include "manager/RequestThreads.h"
#include "model/LineCaps.h"
#include "model/LineTable.h"
#include "pbx/ExtensionDirectory.h"
#include "pbx/Session.h"

namespace {
constexpr LONGLONG kDefaultMaxLogFileSize = 52428800;  // 50 MiB
constexpr DWORD kDefaultMaxFiles = 5;

void CreateSharedFolder(const wchar_t* pszPath) { CreateDirectoryW(pszPath, GetOpenSecurityAttributes()); }

// <common application data>\ORVO\<provider's subfolder>, open to every account
// because the service and the users' dialogs write there alike.
void PrepareLogFolder() {
    wchar_t szFolder[260] = {};
    SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_DEFAULT, szFolder);
    StrAppend(szFolder, L"\\ORVO");
    CreateSharedFolder(szFolder);
    StrAppend(szFolder, L"\\");
    StrAppend(szFolder, LogSubfolderName());
    CreateSharedFolder(szFolder);
    GrantFullAccess(szFolder);
    StrCopy(g_szLogPath, szFolder);
}

void ConfigureTraceLog() {
    wchar_t szPattern[512];
    BoundedFormat(szPattern, 512, L"%s\\ORVOTSP%s_%%03d.LOG", g_szLogPath, GetExeName());
    TraceLog.SetFileNamePattern(szPattern);
    TraceLog.m_nMaxLogFileSize = kDefaultMaxLogFileSize;
    TraceLog.m_dwMaxFiles = kDefaultMaxFiles;
}

// The version resource's description as one line without surrounding blanks.
void CopyFileDescription(wchar_t (&szDest)[256], const wchar_t* pszDescription) {
    StrCopy(szDest, pszDescription, wcscspn(pszDescription, L"\r\n"));
    const wchar_t* pszStart = szDest;
    while (iswspace(*pszStart)) ++pszStart;
    size_t cch = wcslen(pszStart);
    while (cch > 0 && iswspace(pszStart[cch - 1])) --cch;
    wmemmove(szDest, pszStart, cch);
    szDest[cch] = L'\0';
}

// What support needs to know about this process's provider, whatever the
// DebugLevel. The password is never written.
void TraceStartUpBanner(const wchar_t* pszFileDescription, const CVersionTool& version) {
    const ProviderSettings& settings = *g_pProviderSettings;
    CFuncTrace trace(0, L"CGenericTSPIManager::AttachInstance");
    trace.Var(L"m_szFileDescription", L"%s", pszFileDescription);
    trace.Info(L"ORVO Third Party TAPI");
    trace.Var(L"g_szLocalRegPath", L"%s", g_szLocalRegPath);
    trace.Var(L"g_szLogPath", L"%s", g_szLogPath);
    trace.Var(L"DebugLevel", L"%s", settings.DebugLevel);
    trace.Var(L"NumberFormat", L"%s", settings.NumberFormat);
    trace.Var(L"LineFormat", L"%s", settings.LineFormat);
    trace.Var(L"Name", L"%s", settings.Name);
    trace.Var(L"Password", L"%s", settings.Password[0] != L'\0' ? L"(set)" : L"(empty)");
    trace.Var(L"MaxFiles", L"%u", TraceLog.m_dwMaxFiles);
    trace.Var(L"MaxLogFileSize", L"%lld", TraceLog.m_nMaxLogFileSize);
    trace.Var(L"ApiBaseUrl", L"%s", g_szApiBaseUrl);
    trace.Var(L"IgnoreCertErrors", L"%u", g_bIgnoreCertErrors);
    trace.Var(L"ProductVersion", L"%s", version.m_szProductVersion);
    trace.Var(L"FileVersion", L"%s", version.m_szFileVersion);
    trace.Info(L"SHARED_FILE_NAME %s", g_SharedMem.Name());
    trace.Var(L"g_szAgent", L"%s", g_szAgent);
    trace.End();
}
}  // namespace

void CGenericTSPIManager::AttachInstance() {
    SetupFileData(g_hModule);
    CVersionTool version(g_hModule);
    CopyFileDescription(m_szFileDescription, version.m_szFileDescription);
    // Before anything touches the settings: from here on they are the shared record.
    g_SharedMem.SetName(g_szTSPName);
    g_SharedMem.Open(0, 0, nullptr);
    BuildLocalRegPath();
    PrepareLogFolder();
    ConfigureTraceLog();
    g_dwDeviceCount = 0;
    ReadRegistrySettings();
    g_sBaseURL = g_szApiBaseUrl;
    StrFormat(g_szAgent, L"ORVO TSP %s (%s)", version.m_szProductVersion, g_pProviderSettings->Name);

    // Each start of a host begins a fresh file 000, also when the settings
    // read above already wrote lines at the DebugLevel it set.
    TraceLog.StartNewFile();
    TraceStartUpBanner(m_szFileDescription, version);
    PrintSystemInfoFile();
    GrantFullAccess(TraceLog.m_szFileName);
}

void CGenericTSPIManager::InitResource() {
    CFuncTrace trace(2, L"CGenericTSPIManager::InitResource");
    SetLastLoginState(L"");
    RestartNetworkObserver();
    // The account as the shared record holds it: the registry's at start-up,
    // or what the configuration dialog entered before it asked for a new login.
    g_sUserName = g_pProviderSettings->Name;
    g_sPassword = g_pProviderSettings->Password;
    if (!Login()) {
        SetLastLoginState(LoginFailedText());
        trace.Line(L"Error.Login failed");
        trace.End();
        return;
    }
    g_dwDeviceCount = ReadExtensions();
    EnsureLineRecords(g_dwDeviceCount);
    if (g_dwDeviceCount == 0) {
        SetLastLoginState(NoDevicesText());
        trace.End();
        return;
    }
    for (DWORD dwLinePos = 0; dwLinePos < g_dwDeviceCount; ++dwLinePos) {
        const ExtensionInfo& extension = g_Extensions[dwLinePos];
        trace.Info(L"Device %3d %10s %s", dwLinePos, extension.extension_number.c_str(), extension.name.c_str());
    }
    SetLastLoginState(LoginSuccessfulText());
    trace.End();
}

void CGenericTSPIManager::ProviderInit() {
    CFuncTrace trace(2, L"CGenericTSPIManager::ProviderInit");
    trace.End();
}

void CGenericTSPIManager::ProviderInit2() {
    CFuncTrace trace(2, L"CGenericTSPIManager::ProviderInit2");
    if (g_dwDeviceCount == 0) {
        trace.Info(L"No devices");
        trace.End();
        return;
    }
    for (DWORD dwLinePos = 0; dwLinePos < g_dwDeviceCount && dwLinePos < g_Extensions.size(); ++dwLinePos) {
        const std::wstring& number = g_Extensions[dwLinePos].extension_number;
        if (!number.empty()) ChangeLineAddress(dwLinePos, number.c_str());
    }
    PrintTAPIApps();
    StartEventMonitor();
    StartKeepAlive();
    trace.Var(L"m_hMonitorThread", L"0x%p", EventMonitorHandle());
    trace.Var(L"m_hKeepAliveThread", L"0x%p", KeepAliveHandle());
    trace.End();
}

void CGenericTSPIManager::ProviderShutdown() {
    CFuncTrace trace(2, L"CGenericTSPIManager::ProviderShutdown");
    // The keep-alive thread first: it is the one that restarts the monitor.
    StopKeepAlive();
    StopEventMonitor();
    // No event comes in any more; those still queued belong to the stopped provider.
    StopCallEventScheduler();
    EndRequestThreads();
    SaveLogSettings();
    trace.End();
}
