// Starting, identifying and stopping the provider, and settling versions.
#include "common/BoundedString.h"
#include "log/Trace.h"
#include "manager/BackgroundThreads.h"
#include "manager/CGenericTSPIManager.h"
#include "manager/DeviceSet.h"
#include "model/LineCaps.h"
#include "model/ProviderLock.h"
#include "model/ProviderState.h"
#include "provider/ExportGuards.h"
#include "provider/TspiExports.h"

namespace {
constexpr DWORD kHighestTspiVersion = 0x00020002;  // TAPI 2.2
}

extern "C" {

LONG TSPIAPI TSPI_lineNegotiateTSPIVersion(DWORD dwDeviceID, DWORD dwLowVersion, DWORD dwHighVersion,
                                           LPDWORD lpdwTSPIVersion) {
    return RunExport(L"TSPI_lineNegotiateTSPIVersion", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_dwDeviceID", L"0x%08X", dwDeviceID);
        trace.Param(L"_dwLowVersion", L"0x%08X", dwLowVersion);
        trace.Param(L"_dwHighVersion", L"0x%08X", dwHighVersion);
        if (lpdwTSPIVersion == nullptr || IsBadWritePtr(lpdwTSPIVersion, sizeof(DWORD)))
            return trace.Abort(LINEERR_INVALPOINTER, 1);

        DWORD dwVersion = dwHighVersion < kHighestTspiVersion ? dwHighVersion : kHighestTspiVersion;
        if (dwLowVersion > dwVersion) return trace.Abort(LINEERR_INCOMPATIBLEAPIVERSION, 2);

        *lpdwTSPIVersion = dwVersion;
        trace.Var(L"dwVersion", L"0x%08X", dwVersion);
        return 0;
    });
}

LONG TSPIAPI TSPI_providerEnumDevices(DWORD dwPermanentProviderID, LPDWORD lpdwNumLines, LPDWORD lpdwNumPhones,
                                      HPROVIDER hProvider, LINEEVENT lpfnLineCreateProc,
                                      PHONEEVENT lpfnPhoneCreateProc) {
    return RunExport(L"TSPI_providerEnumDevices", [&](const CFuncTrace& trace) -> LONG {
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
        return 0;
    });
}

LONG TSPIAPI TSPI_providerInit(DWORD dwTSPIVersion, DWORD dwPermanentProviderID, DWORD dwLineDeviceIDBase,
                               DWORD dwPhoneDeviceIDBase, DWORD_PTR dwNumLines, DWORD_PTR dwNumPhones,
                               ASYNC_COMPLETION lpfnCompletionProc, LPDWORD lpdwTSPIOptions) {
    return RunLockedExport(LockOwner::providerInit, L"TSPI_providerInit", [&](const CFuncTrace& trace) -> LONG {
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
        return 0;
    });
}

LONG TSPIAPI TSPI_providerShutdown(DWORD dwTSPIVersion, DWORD dwPermanentProviderID) {
    return RunExport(L"TSPI_providerShutdown", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_dwTSPIVersion", L"0x%08X", dwTSPIVersion);
        trace.Param(L"_dwPermanentProviderID", L"%u", dwPermanentProviderID);
        // The threads are stopped before the lock is taken: the dispatcher and a
        // dial-tone closer need it to finish what they are doing and leave.
        g_Manager.ProviderShutdown();
        CProviderLockGuard lock(LockOwner::providerShutdown);
        LineCapsDelete();
        return 0;
    });
}

LONG TSPIAPI TSPI_providerUIIdentify(LPWSTR lpszUIDLLName) {
    return RunExport(L"TSPI_providerUIIdentify", [&](const CFuncTrace& trace) -> LONG {
        // The library is its own UI library.
        wchar_t szPath[MAX_PATH] = {};
        GetModuleFileNameW(g_hModule, szPath, MAX_PATH - 1);
        BoundedCopy(lpszUIDLLName, MAX_PATH, szPath, MAX_PATH - 1);
        trace.Var(L"lpszUIDLLName", L"%s", szPath);
        return 0;
    });
}

LONG TSPIAPI TSPI_lineNegotiateExtVersion(DWORD dwDeviceID, DWORD dwTSPIVersion, DWORD dwLowVersion,
                                          DWORD dwHighVersion, LPDWORD lpdwExtVersion) {
    return RunExport(L"TSPI_lineNegotiateExtVersion", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_dwDeviceID", L"0x%08X", dwDeviceID);
        if (lpdwExtVersion != nullptr) *lpdwExtVersion = 0;
        return 0;
    });
}

LONG TSPIAPI TSPI_lineSelectExtVersion(HDRVLINE hdLine, DWORD dwExtVersion) {
    return RunExport(L"TSPI_lineSelectExtVersion", [](const CFuncTrace&) -> LONG { return LINEERR_OPERATIONUNAVAIL; });
}

LONG TSPIAPI TSPI_phoneNegotiateTSPIVersion(DWORD dwDeviceID, DWORD dwLowVersion, DWORD dwHighVersion,
                                            LPDWORD lpdwTSPIVersion) {
    return RunExport(L"TSPI_phoneNegotiateTSPIVersion", [](const CFuncTrace&) -> LONG { return PHONEERR_OPERATIONUNAVAIL; });
}

LONG TSPIAPI TSPI_phoneNegotiateExtVersion(DWORD dwDeviceID, DWORD dwTSPIVersion, DWORD dwLowVersion,
                                           DWORD dwHighVersion, LPDWORD lpdwExtVersion) {
    return RunExport(L"TSPI_phoneNegotiateExtVersion", [](const CFuncTrace&) -> LONG { return PHONEERR_OPERATIONUNAVAIL; });
}

LONG TSPIAPI TSPI_phoneSelectExtVersion(HDRVPHONE hdPhone, DWORD dwExtVersion) {
    return RunExport(L"TSPI_phoneSelectExtVersion", [](const CFuncTrace&) -> LONG { return PHONEERR_OPERATIONUNAVAIL; });
}

// TAPI numbers a line announced with LINE_CREATE.
LONG TSPIAPI TSPI_providerCreateLineDevice(DWORD_PTR dwTempID, DWORD dwDeviceID) {
    return RunLockedExport(LockOwner::providerCreateLineDevice, L"TSPI_providerCreateLineDevice",
                           [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_dwTempID", L"%u", static_cast<DWORD>(dwTempID));
        trace.Param(L"_dwDeviceID", L"%u", dwDeviceID);
        return CreateLineDevice(dwTempID, dwDeviceID);
    });
}

LONG TSPIAPI TSPI_providerCreatePhoneDevice(DWORD_PTR dwTempID, DWORD dwDeviceID) {
    return RunExport(L"TSPI_providerCreatePhoneDevice", [](const CFuncTrace&) -> LONG { return LINEERR_OPERATIONUNAVAIL; });
}

LONG TSPIAPI TSPI_providerConfig(HWND hwndOwner, DWORD dwPermanentProviderID) {
    return RunExport(L"TSPI_providerConfig", [](const CFuncTrace&) -> LONG { return 0; });
}

LONG TSPIAPI TSPI_providerInstall(HWND hwndOwner, DWORD dwPermanentProviderID) {
    return RunExport(L"TSPI_providerInstall", [](const CFuncTrace&) -> LONG { return 0; });
}

LONG TSPIAPI TSPI_providerRemove(HWND hwndOwner, DWORD dwPermanentProviderID) {
    return RunExport(L"TSPI_providerRemove", [](const CFuncTrace&) -> LONG { return 0; });
}

LONG TSPIAPI TSPI_providerFreeDialogInstance(HDRVDIALOGINSTANCE hdDlgInst) {
    return RunExport(L"TSPI_providerFreeDialogInstance", [](const CFuncTrace&) -> LONG { return 0; });
}

LONG TSPIAPI TSPI_providerGenericDialogData(DWORD_PTR dwObjectID, DWORD dwObjectType, LPVOID lpParams,
                                            DWORD dwSize) {
    return RunExport(L"TSPI_providerGenericDialogData", [](const CFuncTrace&) -> LONG { return LINEERR_OPERATIONUNAVAIL; });
}

}  // extern "C"
