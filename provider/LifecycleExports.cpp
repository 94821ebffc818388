// Starting, identifying and stopping the provider, and settling versions.
#include "common/BoundedString.h"
#include "log/Trace.h"
#include "manager/BackgroundThreads.h"
#include "manager/CGenericTSPIManager.h"
#include "manager/ProviderLock.h"
#include "manager/ProviderState.h"
#include "model/LineCaps.h"
#include "provider/TspiExports.h"

namespace {
constexpr DWORD kHighestTspiVersion = 0x00020002;  // TAPI 2.2
}

extern "C" {

LONG TSPIAPI TSPI_lineNegotiateTSPIVersion(DWORD dwDeviceID, DWORD dwLowVersion, DWORD dwHighVersion,
                                           LPDWORD lpdwTSPIVersion) {
    CFuncTrace trace(1, L"TSPI_lineNegotiateTSPIVersion");
    trace.Param(L"_dwDeviceID", L"0x%08X", dwDeviceID);
    trace.Param(L"_dwLowVersion", L"0x%08X", dwLowVersion);
    trace.Param(L"_dwHighVersion", L"0x%08X", dwHighVersion);
    if (lpdwTSPIVersion == nullptr || IsBadWritePtr(lpdwTSPIVersion, sizeof(DWORD)))
        return trace.End(trace.Abort(LINEERR_INVALPOINTER, 1));

    DWORD dwVersion = dwHighVersion < kHighestTspiVersion ? dwHighVersion : kHighestTspiVersion;
    if (dwLowVersion > dwVersion) return trace.End(trace.Abort(LINEERR_INCOMPATIBLEAPIVERSION, 2));

    *lpdwTSPIVersion = dwVersion;
    trace.Var(L"dwVersion", L"0x%08X", dwVersion);
    return trace.End(0);
}

LONG TSPIAPI TSPI_providerEnumDevices(DWORD dwPermanentProviderID, LPDWORD lpdwNumLines, LPDWORD lpdwNumPhones,
                                      HPROVIDER hProvider, LINEEVENT lpfnLineCreateProc,
                                      PHONEEVENT lpfnPhoneCreateProc) {
    CFuncTrace trace(1, L"TSPI_providerEnumDevices");
    trace.Param(L"_dwPermanentProviderID", L"%u", dwPermanentProviderID);
    BeginProviderRun();
    g_Manager.InitResource();

    g_hProvider = hProvider;
    g_dwPermanentProviderID = dwPermanentProviderID;
    g_pfnLineCreateProc = lpfnLineCreateProc;
    g_pfnPhoneCreateProc = lpfnPhoneCreateProc;

    if (lpdwNumLines != nullptr) *lpdwNumLines = g_dwDeviceCount;
    if (lpdwNumPhones != nullptr) *lpdwNumPhones = 0;
    trace.Var(L"dwNumLines", L"%u", g_dwDeviceCount);
    return trace.End(0);
}

LONG TSPIAPI TSPI_providerInit(DWORD dwTSPIVersion, DWORD dwPermanentProviderID, DWORD dwLineDeviceIDBase,
                               DWORD dwPhoneDeviceIDBase, DWORD_PTR dwNumLines, DWORD_PTR dwNumPhones,
                               ASYNC_COMPLETION lpfnCompletionProc, LPDWORD lpdwTSPIOptions) {
    CProviderLockGuard lock(LockOwner::providerInit);
    CFuncTrace trace(1, L"TSPI_providerInit");
    trace.Param(L"_dwTSPIVersion", L"0x%08X", dwTSPIVersion);
    trace.Param(L"_dwPermanentProviderID", L"%u", dwPermanentProviderID);
    trace.Param(L"_dwLineDeviceIDBase", L"%u", dwLineDeviceIDBase);

    g_dwPermanentProviderID = dwPermanentProviderID;
    g_dwLineDeviceIDBase = dwLineDeviceIDBase;
    g_pfnAsyncCompletion = lpfnCompletionProc;
    // tapisrv must not call in from more than one thread at a time.
    if (lpdwTSPIOptions != nullptr) *lpdwTSPIOptions = LINETSPIOPTION_NONREENTRANT;

    g_Manager.ProviderInit();
    LineCapsInit();
    g_Manager.ProviderInit2();
    return trace.End(0);
}

LONG TSPIAPI TSPI_providerShutdown(DWORD dwTSPIVersion, DWORD dwPermanentProviderID) {
    CFuncTrace trace(1, L"TSPI_providerShutdown");
    trace.Param(L"_dwTSPIVersion", L"0x%08X", dwTSPIVersion);
    trace.Param(L"_dwPermanentProviderID", L"%u", dwPermanentProviderID);
    // The threads are stopped before the lock is taken: the dispatcher and a
    // dial-tone closer need it to finish what they are doing and leave.
    g_Manager.ProviderShutdown();
    CProviderLockGuard lock(LockOwner::providerShutdown);
    LineCapsDelete();
    return trace.End(0);
}

LONG TSPIAPI TSPI_providerUIIdentify(LPWSTR lpszUIDLLName) {
    CFuncTrace trace(1, L"TSPI_providerUIIdentify");
    // The library is its own UI library.
    wchar_t szPath[MAX_PATH] = {};
    GetModuleFileNameW(g_hModule, szPath, MAX_PATH - 1);
    BoundedCopy(lpszUIDLLName, MAX_PATH, szPath, MAX_PATH - 1);
    trace.Var(L"lpszUIDLLName", L"%s", szPath);
    return trace.End(0);
}

LONG TSPIAPI TSPI_lineNegotiateExtVersion(DWORD dwDeviceID, DWORD dwTSPIVersion, DWORD dwLowVersion,
                                          DWORD dwHighVersion, LPDWORD lpdwExtVersion) {
    CFuncTrace trace(1, L"TSPI_lineNegotiateExtVersion");
    trace.Param(L"_dwDeviceID", L"0x%08X", dwDeviceID);
    if (lpdwExtVersion != nullptr) *lpdwExtVersion = 0;
    return trace.End(0);
}

LONG TSPIAPI TSPI_lineSelectExtVersion(HDRVLINE hdLine, DWORD dwExtVersion) {
    CFuncTrace trace(1, L"TSPI_lineSelectExtVersion");
    return trace.End(LINEERR_OPERATIONUNAVAIL);
}

LONG TSPIAPI TSPI_phoneNegotiateTSPIVersion(DWORD dwDeviceID, DWORD dwLowVersion, DWORD dwHighVersion,
                                            LPDWORD lpdwTSPIVersion) {
    CFuncTrace trace(1, L"TSPI_phoneNegotiateTSPIVersion");
    return trace.End(PHONEERR_OPERATIONUNAVAIL);
}

LONG TSPIAPI TSPI_phoneNegotiateExtVersion(DWORD dwDeviceID, DWORD dwTSPIVersion, DWORD dwLowVersion,
                                           DWORD dwHighVersion, LPDWORD lpdwExtVersion) {
    CFuncTrace trace(1, L"TSPI_phoneNegotiateExtVersion");
    return trace.End(PHONEERR_OPERATIONUNAVAIL);
}

LONG TSPIAPI TSPI_phoneSelectExtVersion(HDRVPHONE hdPhone, DWORD dwExtVersion) {
    CFuncTrace trace(1, L"TSPI_phoneSelectExtVersion");
    return trace.End(PHONEERR_OPERATIONUNAVAIL);
}

LONG TSPIAPI TSPI_providerCreateLineDevice(DWORD_PTR dwTempID, DWORD dwDeviceID) {
    CFuncTrace trace(1, L"TSPI_providerCreateLineDevice");
    return trace.End(0);
}

LONG TSPIAPI TSPI_providerCreatePhoneDevice(DWORD_PTR dwTempID, DWORD dwDeviceID) {
    CFuncTrace trace(1, L"TSPI_providerCreatePhoneDevice");
    return trace.End(LINEERR_OPERATIONUNAVAIL);
}

LONG TSPIAPI TSPI_providerConfig(HWND hwndOwner, DWORD dwPermanentProviderID) {
    CFuncTrace trace(1, L"TSPI_providerConfig");
    return trace.End(0);
}

LONG TSPIAPI TSPI_providerInstall(HWND hwndOwner, DWORD dwPermanentProviderID) {
    CFuncTrace trace(1, L"TSPI_providerInstall");
    return trace.End(0);
}

LONG TSPIAPI TSPI_providerRemove(HWND hwndOwner, DWORD dwPermanentProviderID) {
    CFuncTrace trace(1, L"TSPI_providerRemove");
    return trace.End(0);
}

LONG TSPIAPI TSPI_providerFreeDialogInstance(HDRVDIALOGINSTANCE hdDlgInst) {
    CFuncTrace trace(1, L"TSPI_providerFreeDialogInstance");
    return trace.End(0);
}

LONG TSPIAPI TSPI_providerGenericDialogData(DWORD_PTR dwObjectID, DWORD dwObjectType, LPVOID lpParams,
                                            DWORD dwSize) {
    CFuncTrace trace(1, L"TSPI_providerGenericDialogData");
    return trace.End(LINEERR_OPERATIONUNAVAIL);
}

}  // extern "C"
