// The provider has no phone devices; the phone entry points exist so that
// tapisrv finds a complete provider, and each one refuses.
#include "log/Trace.h"
#include "provider/ExportGuards.h"
#include "provider/TspiExports.h"

namespace {
LONG RefusePhoneRequest(const wchar_t* pszExport, const wchar_t* pszDeviceClass = nullptr, bool bHasClass = false) {
    return RunExport(pszExport, [&](const CFuncTrace& trace) -> LONG {
        if (bHasClass) trace.Param(L"_lpszDeviceClass", L"%s", pszDeviceClass != nullptr ? pszDeviceClass : L"NULL");
        return PHONEERR_OPERATIONUNAVAIL;
    }, kPhoneExport);
}
}  // namespace

extern "C" {

LONG TSPIAPI TSPI_phoneClose(HDRVPHONE) { return RefusePhoneRequest(L"TSPI_phoneClose"); }
LONG TSPIAPI TSPI_phoneDevSpecific(DRV_REQUESTID, HDRVPHONE, LPVOID, DWORD) {
    return RefusePhoneRequest(L"TSPI_phoneDevSpecific");
}
LONG TSPIAPI TSPI_phoneGetButtonInfo(HDRVPHONE, DWORD, LPVOID) { return RefusePhoneRequest(L"TSPI_phoneGetButtonInfo"); }
LONG TSPIAPI TSPI_phoneGetData(HDRVPHONE, DWORD, LPVOID, DWORD) { return RefusePhoneRequest(L"TSPI_phoneGetData"); }
LONG TSPIAPI TSPI_phoneGetDevCaps(DWORD, DWORD, DWORD, LPVOID) { return RefusePhoneRequest(L"TSPI_phoneGetDevCaps"); }
LONG TSPIAPI TSPI_phoneGetDisplay(HDRVPHONE, VARSTRING*) { return RefusePhoneRequest(L"TSPI_phoneGetDisplay"); }
LONG TSPIAPI TSPI_phoneGetExtensionID(DWORD, DWORD, LPVOID) { return RefusePhoneRequest(L"TSPI_phoneGetExtensionID"); }
LONG TSPIAPI TSPI_phoneGetGain(HDRVPHONE, DWORD, LPDWORD) { return RefusePhoneRequest(L"TSPI_phoneGetGain"); }
LONG TSPIAPI TSPI_phoneGetHookSwitch(HDRVPHONE, LPDWORD) { return RefusePhoneRequest(L"TSPI_phoneGetHookSwitch"); }
LONG TSPIAPI TSPI_phoneGetID(HDRVPHONE, VARSTRING*, LPCWSTR lpszDeviceClass, HANDLE) {
    return RefusePhoneRequest(L"TSPI_phoneGetID", lpszDeviceClass, true);
}
LONG TSPIAPI TSPI_phoneGetIcon(DWORD, LPCWSTR lpszDeviceClass, HICON*) {
    return RefusePhoneRequest(L"TSPI_phoneGetIcon", lpszDeviceClass, true);
}
LONG TSPIAPI TSPI_phoneGetLamp(HDRVPHONE, DWORD, LPDWORD) { return RefusePhoneRequest(L"TSPI_phoneGetLamp"); }
LONG TSPIAPI TSPI_phoneGetRing(HDRVPHONE, LPDWORD, LPDWORD) { return RefusePhoneRequest(L"TSPI_phoneGetRing"); }
LONG TSPIAPI TSPI_phoneGetStatus(HDRVPHONE, LPVOID) { return RefusePhoneRequest(L"TSPI_phoneGetStatus"); }
LONG TSPIAPI TSPI_phoneGetVolume(HDRVPHONE, DWORD, LPDWORD) { return RefusePhoneRequest(L"TSPI_phoneGetVolume"); }
LONG TSPIAPI TSPI_phoneOpen(DWORD, HTAPIPHONE, HDRVPHONE*, DWORD, PHONEEVENT) {
    return RefusePhoneRequest(L"TSPI_phoneOpen");
}
LONG TSPIAPI TSPI_phoneSetButtonInfo(DRV_REQUESTID, HDRVPHONE, DWORD, LPVOID) {
    return RefusePhoneRequest(L"TSPI_phoneSetButtonInfo");
}
LONG TSPIAPI TSPI_phoneSetData(DRV_REQUESTID, HDRVPHONE, DWORD, LPVOID, DWORD) {
    return RefusePhoneRequest(L"TSPI_phoneSetData");
}
LONG TSPIAPI TSPI_phoneSetDisplay(DRV_REQUESTID, HDRVPHONE, DWORD, DWORD, LPCWSTR, DWORD) {
    return RefusePhoneRequest(L"TSPI_phoneSetDisplay");
}
LONG TSPIAPI TSPI_phoneSetGain(DRV_REQUESTID, HDRVPHONE, DWORD, DWORD) { return RefusePhoneRequest(L"TSPI_phoneSetGain"); }
LONG TSPIAPI TSPI_phoneSetHookSwitch(DRV_REQUESTID, HDRVPHONE, DWORD, DWORD) {
    return RefusePhoneRequest(L"TSPI_phoneSetHookSwitch");
}
LONG TSPIAPI TSPI_phoneSetLamp(DRV_REQUESTID, HDRVPHONE, DWORD, DWORD) { return RefusePhoneRequest(L"TSPI_phoneSetLamp"); }
LONG TSPIAPI TSPI_phoneSetRing(DRV_REQUESTID, HDRVPHONE, DWORD, DWORD) { return RefusePhoneRequest(L"TSPI_phoneSetRing"); }
LONG TSPIAPI TSPI_phoneSetStatusMessages(HDRVPHONE, DWORD, DWORD, DWORD) {
    return RefusePhoneRequest(L"TSPI_phoneSetStatusMessages");
}
LONG TSPIAPI TSPI_phoneSetVolume(DRV_REQUESTID, HDRVPHONE, DWORD, DWORD) {
    return RefusePhoneRequest(L"TSPI_phoneSetVolume");
}

}  // extern "C"
