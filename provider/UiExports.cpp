// The user-interface half of the provider. TAPI loads the library into the
// process of an application that configures, installs or removes it and
// calls these there, outside the telephony service; installers call the
// TUISPI_Dll* functions. None of them takes the provider lock.
#include "log/Trace.h"
#include "manager/CGenericTSPIManager.h"
#include "manager/Installation.h"
#include "model/ProviderState.h"
#include "provider/ExportGuards.h"
#include "provider/TspiExports.h"

namespace {
constexpr DWORD kRemoveWaitMs = 250;   // lets TAPI let go of the file before it is deleted
constexpr DWORD kInstallWaitMs = 500;  // the same between removal and the new copy
constexpr LONG kNotFromSystemFolder = 1;

// Installers' hand-over of initial data is traced at the manager level.
constexpr ExportKind kUiSetupExport{2, LINEERR_NOMEM, LINEERR_OPERATIONFAILED};

const wchar_t* TextOrNull(const wchar_t* psz) { return psz != nullptr ? psz : L"NULL"; }

// The arguments every provider-wide UI call carries.
void TraceProviderCall(const CFuncTrace& trace, TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner,
                       DWORD dwPermanentProviderID) {
    trace.Param(L"_lpfnUIDLLCallback", L"0x%p", lpfnUIDLLCallback);
    trace.Param(L"_hwndOwner", L"0x%p", hwndOwner);
    trace.Param(L"_dwPermanentProviderID", L"%u", dwPermanentProviderID);
}
}  // namespace

extern "C" {

LONG TSPIAPI TUISPI_lineConfigDialog(TUISPIDLLCALLBACK lpfnUIDLLCallback, DWORD dwDeviceID, HWND hwndOwner,
                                     LPCWSTR lpszDeviceClass) {
    return RunExport(L"TUISPI_lineConfigDialog", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_lpfnUIDLLCallback", L"0x%p", lpfnUIDLLCallback);
        trace.Param(L"_dwDeviceID", L"%u", dwDeviceID);
        trace.Param(L"_hwndOwner", L"0x%p", hwndOwner);
        trace.Param(L"_lpszDeviceClass", L"%s", TextOrNull(lpszDeviceClass));
        // One dialog for the whole provider, whichever line asked.
        g_Manager.ShowInfoDialog(hwndOwner);
        return 0;
    });
}

LONG TSPIAPI TUISPI_providerConfig(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner, DWORD dwPermanentProviderID) {
    return RunExport(L"TUISPI_providerConfig", [&](const CFuncTrace& trace) -> LONG {
        TraceProviderCall(trace, lpfnUIDLLCallback, hwndOwner, dwPermanentProviderID);
        g_Manager.ShowInfoDialog(hwndOwner);
        return 0;
    });
}

LONG TSPIAPI TUISPI_lineConfigDialogEdit(TUISPIDLLCALLBACK lpfnUIDLLCallback, DWORD dwDeviceID, HWND hwndOwner,
                                         LPCWSTR lpszDeviceClass, LPVOID const lpDeviceConfigIn, DWORD dwSize,
                                         VARSTRING* lpDeviceConfigOut) {
    return RunExport(L"TUISPI_lineConfigDialogEdit", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_lpfnUIDLLCallback", L"0x%p", lpfnUIDLLCallback);
        trace.Param(L"_dwDeviceID", L"%u", dwDeviceID);
        trace.Param(L"_hwndOwner", L"0x%p", hwndOwner);
        trace.Param(L"_lpszDeviceClass", L"%s", TextOrNull(lpszDeviceClass));
        trace.Param(L"_lpDeviceConfigIn", L"0x%p", lpDeviceConfigIn);
        trace.Param(L"_dwSize", L"%u", dwSize);
        trace.Param(L"_lpDeviceConfigOut", L"0x%p", lpDeviceConfigOut);
        return LINEERR_OPERATIONUNAVAIL;
    });
}

LONG TSPIAPI TUISPI_providerGenericDialog(TUISPIDLLCALLBACK lpfnUIDLLCallback, HTAPIDIALOGINSTANCE htDlgInst,
                                          LPVOID lpParams, DWORD dwSize, HANDLE hEvent) {
    return RunExport(L"TUISPI_providerGenericDialog", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_lpfnUIDLLCallback", L"0x%p", lpfnUIDLLCallback);
        trace.Param(L"_htDlgInst", L"0x%p", htDlgInst);
        trace.Param(L"_lpParams", L"0x%p", lpParams);
        trace.Param(L"_dwSize", L"%u", dwSize);
        trace.Param(L"_hEvent", L"0x%p", hEvent);
        return 0;
    });
}

LONG TSPIAPI TUISPI_providerGenericDialogData(HTAPIDIALOGINSTANCE htDlgInst, LPVOID lpParams, DWORD dwSize) {
    return RunExport(L"TUISPI_providerGenericDialogData", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_htDlgInst", L"0x%p", htDlgInst);
        trace.Param(L"_lpParams", L"0x%p", lpParams);
        trace.Param(L"_dwSize", L"%u", dwSize);
        return 0;
    });
}

LONG TSPIAPI TUISPI_providerInstall(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner,
                                    DWORD dwPermanentProviderID) {
    return RunExport(L"TUISPI_providerInstall", [&](const CFuncTrace& trace) -> LONG {
        TraceProviderCall(trace, lpfnUIDLLCallback, hwndOwner, dwPermanentProviderID);
        g_dwPermanentProviderID = dwPermanentProviderID;
        ConfigureTapiService();
        return CheckProviderNotInstalled(trace);
    });
}

LONG TSPIAPI TUISPI_providerRemove(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner, DWORD dwPermanentProviderID) {
    return RunExport(L"TUISPI_providerRemove", [&](const CFuncTrace& trace) -> LONG {
        TraceProviderCall(trace, lpfnUIDLLCallback, hwndOwner, dwPermanentProviderID);
        g_Manager.ProviderRemove();
        return 0;
    });
}

LONG TSPIAPI TUISPI_DllRemove(DWORD dwParam) {
    return RunExport(L"TUISPI_DllRemove", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_dwParam", L"%u", dwParam);
        if (!IsHostInSystemFolder()) return kNotFromSystemFolder;
        UnregisterProvider();
        Sleep(kRemoveWaitMs);
        g_Manager.AfterProviderRemove();
        return 0;
    });
}

LONG TSPIAPI TUISPI_DllUpdate(DWORD dwParam) {
    return RunExport(L"TUISPI_DllUpdate", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_dwParam", L"%u", dwParam);
        g_Manager.UpdateTSPFile();
        return 0;
    });
}

LONG TSPIAPI TUISPI_DllInstall(DWORD dwParam) {
    return RunExport(L"TUISPI_DllInstall", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_dwParam", L"%u", dwParam);
        if (!IsHostInSystemFolder()) return kNotFromSystemFolder;
        // An earlier registration and copy go first.
        TUISPI_DllRemove(0);
        Sleep(kInstallWaitMs);
        TUISPI_DllUpdate(dwParam);
        RegisterProvider();
        return 0;
    });
}

LONG TSPIAPI TUISPI_providerSetInitialData(LPCWSTR pszParams) {
    return RunExport(L"TUISPI_providerSetInitialData", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_pszParams", L"%s", TextOrNull(pszParams));
        return 0;
    }, kUiSetupExport);
}

}  // extern "C"
