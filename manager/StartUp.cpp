// Bringing the provider up and down: where settings and logs live, the device
// set, the line names.
#include <shlobj.h>

#include "common/BoundedString.h"
#include "config/ProviderIdentity.h"
#include "log/ExeName.h"
#include "log/FileSecurity.h"
#include "log/Trace.h"
#include "manager/CGenericTSPIManager.h"
#include "manager/ProviderState.h"

namespace {
constexpr LONGLONG kDefaultMaxLogFileSize = 52428800;  // 50 MiB
constexpr DWORD kDefaultMaxFiles = 5;

void CreateSharedFolder(const wchar_t* pszPath) { CreateDirectoryW(pszPath, GetOpenSecurityAttributes()); }

// <common application data>\ORVO\<provider's subfolder>, open to every account
// because the service and the users' dialogs write there alike.
void PrepareLogFolder() {
    wchar_t szFolder[260] = {};
    SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, szFolder);
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
}  // namespace

void CGenericTSPIManager::AttachInstance() {
    SetupFileData(g_hModule);
    BuildLocalRegPath();
    PrepareLogFolder();
    ConfigureTraceLog();
    g_dwDeviceCount = 0;

    // Each start of a host begins a fresh file 000.
    TraceLog.OnRotate();
    Trace(0, L"ORVO Third Party TAPI");
    Trace(0, L"Registry path HKLM\\%s", g_szLocalRegPath);
    Trace(0, L"Module %s", g_szModulePath);
    Trace(0, L"Log folder %s", g_szLogPath);
    Trace(0, L"DebugLevel %u MaxFiles %u MaxLogFileSize %lld", TraceLog.m_dwDebugLevel, TraceLog.m_dwMaxFiles,
          TraceLog.m_nMaxLogFileSize);
    GrantFullAccess(TraceLog.m_szFileName);
}

void CGenericTSPIManager::InitResource() {
    CFuncTrace trace(2, L"CGenericTSPIManager::InitResource");
    trace.Var(L"g_dwDeviceCount", L"%u", g_dwDeviceCount);
    trace.End();
}

void CGenericTSPIManager::ProviderInit() {
    CFuncTrace trace(2, L"CGenericTSPIManager::ProviderInit");
    trace.End();
}

void CGenericTSPIManager::ProviderInit2() {
    CFuncTrace trace(2, L"CGenericTSPIManager::ProviderInit2");
    if (g_dwDeviceCount == 0) trace.Info(L"No devices");
    trace.End();
}

void CGenericTSPIManager::ProviderShutdown() {
    CFuncTrace trace(2, L"CGenericTSPIManager::ProviderShutdown");
    trace.End();
}
