// Bringing the provider up and down: where settings and logs live, the device
// set, the line names.
#include <shlobj.h>

#include <cwctype>

#include "common/BoundedString.h"
#include "common/SecretWipe.h"
#include "common/TimerScale.h"
#include "config/CSharedMem.h"
#include "config/CVersionTool.h"
#include "config/DiagnosticReports.h"
#include "config/ProviderIdentity.h"
#include "config/ProviderSettings.h"
#include "config/Settings.h"
#include "config/UiLanguage.h"
#include "http/CHTTPContactLog.h"
#include "http/ProxySettings.h"
#include "http/RequestStop.h"
#include "log/ExeName.h"
#include "log/ProtectedFiles.h"
#include "log/Trace.h"
#include "manager/BackgroundThreads.h"
#include "manager/CGenericTSPIManager.h"
#include "manager/CallEventScheduler.h"
#include "manager/DeviceSet.h"
#include "manager/LoginRecovery.h"
#include "manager/RequestThreads.h"
#include "manager/ThreadRun.h"
#include "model/LineCaps.h"
#include "model/LineTable.h"
#include "model/ProviderLock.h"
#include "model/ProviderState.h"
#include "pbx/ExtensionDirectory.h"
#include "pbx/Session.h"

namespace {
constexpr LONGLONG kDefaultMaxLogFileSize = 52428800;  // 50 MiB
constexpr DWORD kDefaultMaxFiles = 5;
// The longest a shutdown waits for the background threads to end; they leave
// within moments when asked, so this only bounds a fault.
constexpr DWORD kThreadEndWaitMs = 10000;

// Why the log folder could not be had, for the start-up banner.
std::wstring s_LogFolderRefusal;

// <common application data>\ORVO\<provider's subfolder>: the service and the
// users' processes write their logs there. A folder that cannot be had safely
// (a junction or link planted at its place) leaves the process without log
// and exchange files rather than writing somewhere else.
void PrepareLogFolder() {
    g_szLogPath[0] = L'\0';
    s_LogFolderRefusal.clear();
    wchar_t szBase[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_DEFAULT, szBase))) {
        s_LogFolderRefusal = L"no common application data folder";
        return;
    }
    const std::wstring relative = std::wstring(L"ORVO\\") + LogSubfolderName();
    std::wstring folder;
    if (!PrepareProtectedFolder(szBase, relative.c_str(), &folder, &s_LogFolderRefusal)) {
        OutputDebugStringW((L"ORVOAPI TSP: no log folder: " + s_LogFolderRefusal + L"\n").c_str());
        return;
    }
    StrCopy(g_szLogPath, folder.c_str());
}

void ConfigureTraceLog() {
    // Put together as text: the executable's name may hold a "%".
    wchar_t szPattern[512] = {};
    if (g_szLogPath[0] != L'\0') {
        StrCopy(szPattern, g_szLogPath);
        StrAppend(szPattern, L"\\ORVOTSP");
        StrAppend(szPattern, GetExeName());
        StrAppend(szPattern, L"_%03d.LOG");
    }
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
    if (!s_LogFolderRefusal.empty()) trace.Warning(L"No log folder: %s", s_LogFolderRefusal.c_str());
    trace.Var(L"DebugLevel", L"%s", settings.DebugLevel);
    trace.Var(L"NumberFormat", L"%s", settings.NumberFormat);
    trace.Var(L"LineFormat", L"%s", settings.LineFormat);
    trace.Var(L"Name", L"%s", settings.Name);
    trace.Var(L"Password", L"%s", settings.Password[0] != L'\0' ? L"(set)" : L"(empty)");
    trace.Var(L"MaxFiles", L"%u", TraceLog.m_dwMaxFiles);
    trace.Var(L"MaxLogFileSize", L"%lld", TraceLog.m_nMaxLogFileSize);
    trace.Var(L"ApiBaseUrl", L"%s", g_szApiBaseUrl);
    if (g_szApiBaseUrl[0] == L'\0') trace.Warning(L"Invalid API base URL: nothing is sent to the PBX");
    trace.Var(L"IgnoreCertErrors", L"%u", g_bIgnoreCertErrors);
    trace.Var(L"StreamIdleTimeout", L"%u", g_dwStreamIdleTimeout);
    trace.Var(L"DirectoryRefreshSeconds", L"%u", g_dwDirectoryRefreshSeconds);
    if (TimerDivisor() != 1) trace.Warning(L"TestTimeDivisor %u: every timer is shortened, for tests only", TimerDivisor());
    trace.Var(L"ProductVersion", L"%s", version.m_szProductVersion);
    trace.Var(L"FileVersion", L"%s", version.m_szFileVersion);
    trace.Info(L"SHARED_FILE_NAME %s", g_SharedMem.Name());
    if (g_SharedMem.WasRefused())
        trace.Warning(L"Shared section refused, %s (planted); this process keeps its settings to itself",
                      g_SharedMem.RefusalReason());
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
    // Every PBX request of this process gives up when the provider stops, and
    // one made inside the ProviderLock is reported.
    SetProcessStopEvent(ProviderStopEvent());
    SetForbiddenLockCheck([] { return ProviderLockHeldBy(GetCurrentThreadId()); });
    StrFormat(g_szAgent, L"ORVO TSP %s (%s)", version.m_szProductVersion, g_pProviderSettings->Name);

    // Each start of a host begins a fresh file 000, also when the settings
    // read above already wrote lines at the DebugLevel it set.
    TraceLog.StartNewFile();
    TraceStartUpBanner(m_szFileDescription, version);
    PrintSystemInfoFile();
}

DirectoryRead CGenericTSPIManager::LogInAndReadDirectory(std::vector<ExtensionInfo>& directory) {
    CFuncTrace trace(2, L"CGenericTSPIManager::LogInAndReadDirectory");
    SetLastLoginState(L"");
    StartNetworkObserver();
    // The account as the shared record holds it: the registry's at start-up,
    // or what the configuration dialog entered before it asked for a new login.
    SetCredentials(g_pProviderSettings->Name, g_pProviderSettings->Password);
    if (g_sBaseURL.empty()) {
        SetLastLoginState(InvalidApiBaseUrlText());
        trace.Line(L"Error.Invalid API base URL");
        trace.End();
        return DirectoryRead::LoginFailed;
    }
    // Outside every lock: the login must not wait for a proxy detection.
    PrepareProxySettings(g_sBaseURL.c_str(), 0);
    if (!Login()) {
        // Given up because the provider stops: no verdict on the account.
        if (g_SessionClient.m_dwLastError == ERROR_WINHTTP_OPERATION_CANCELLED) {
            trace.Warning(L"Login abandoned, the provider stops");
            trace.End();
            return DirectoryRead::LoginFailed;
        }
        if (LoginHeldBack()) {
            // Not tried again on its own: a PBX locks an account after a few of these.
            SetLastLoginState(CredentialsRefusedText());
            trace.Line(L"Error.Credentials refused");
            NoteLoginRefused();
            trace.End();
            return DirectoryRead::LoginFailed;
        }
        SetLastLoginState(LoginFailedText());
        trace.Line(L"Error.Login failed");
        trace.Info(L"Next login in %u ms", NoteLoginOutcome(false));
        trace.End();
        return DirectoryRead::LoginFailed;
    }
    NoteLoginOutcome(true);
    if (!ReadExtensionDirectory(directory)) {
        trace.Warning(L"Directory not read, the lines stay as they are");
        trace.End();
        return DirectoryRead::DirectoryFailed;
    }
    for (size_t i = 0; i < directory.size(); ++i)
        trace.Info(L"Device %3d %10s %s", static_cast<int>(i), directory[i].extension_number.c_str(),
                   directory[i].name.c_str());
    trace.End();
    return DirectoryRead::Read;
}

void CGenericTSPIManager::RecordLoginSuccess(DWORD dwLinesInUse) {
    SetLastLoginState(dwLinesInUse == 0 ? NoDevicesText() : LoginSuccessfulText());
}

void CGenericTSPIManager::InitResource() {
    CFuncTrace trace(2, L"CGenericTSPIManager::InitResource");
    SavePermanentLineNumbers();
    // A start decides anew: credentials refused in an earlier run are tried once more.
    AllowLoginAgain();
    DWORD dwLinesInUse = 0;
    LogInAndSetLines(LockOwner::InitResource, false, dwLinesInUse);
    trace.Var(L"g_dwDeviceCount", L"%u", g_dwDeviceCount);
    trace.End();
}

DirectoryRead CGenericTSPIManager::LogInAndSetLines(DWORD dwOwnerCode, bool bApplyDifference, DWORD& dwLinesInUse) {
    // The PBX is asked without any lock; exports and the dispatcher go on
    // meanwhile, and the lines change under the lock in one step.
    std::vector<ExtensionInfo> directory;
    const DirectoryRead read = LogInAndReadDirectory(directory);
    {
        CProviderLockGuard lock(dwOwnerCode);
        // A failed login or directory read leaves the device set as it was,
        // and a keep-alive that outlived its run leaves the next run's alone.
        if (read == DirectoryRead::Read && CurrentThreadMayAct()) {
            if (bApplyDifference) ApplyDirectory(directory);
            else SetDeviceSet(std::move(directory));
        }
        dwLinesInUse = CountLinesInUse();
    }
    if (read != DirectoryRead::LoginFailed) RecordLoginSuccess(dwLinesInUse);
    return read;
}

void CGenericTSPIManager::ProviderInit() {
    CFuncTrace trace(2, L"CGenericTSPIManager::ProviderInit");
    trace.End();
}

void CGenericTSPIManager::ProviderInit2() {
    CFuncTrace trace(2, L"CGenericTSPIManager::ProviderInit2");
    // Without lines the keep-alive thread still runs: it retries a failed
    // login and carries out the dialog's re-initialisation.
    if (g_dwDeviceCount == 0) {
        trace.Info(L"No devices");
        StartKeepAlive();
        trace.Var(L"m_hKeepAliveThread", L"0x%p", KeepAliveHandle());
        trace.End();
        return;
    }
    // The numbers LineCapsInit gave, saved before TAPI reads any capabilities.
    SavePermanentLineNumbers();
    for (DWORD dwLinePos = 0; dwLinePos < g_dwDeviceCount && dwLinePos < g_Extensions.size(); ++dwLinePos) {
        const std::wstring& number = g_Extensions[dwLinePos].extension_number;
        if (!number.empty()) ChangeLineAddress(dwLinePos, number.c_str());
    }
    PrintTAPIApps(ProviderStopEvent());
    StartEventMonitor();
    StartKeepAlive();
    trace.Var(L"m_hMonitorThread", L"0x%p", EventMonitorHandle());
    trace.Var(L"m_hKeepAliveThread", L"0x%p", KeepAliveHandle());
    trace.End();
}

void CGenericTSPIManager::ProviderShutdown() {
    CFuncTrace trace(2, L"CGenericTSPIManager::ProviderShutdown");
    // Every thread is asked first, then all are waited for together: each
    // leaves within moments, its PBX requests given up. The caller holds no
    // ProviderLock, which a thread may need on its way out.
    AskBackgroundThreadsToStop();
    EndRequestThreads();
    WaitForBackgroundThreads(kThreadEndWaitMs);
    // No event comes in any more; those still queued belong to the stopped provider.
    StopCallEventScheduler();
    SaveLogSettings();
    trace.End();
}
