#include "manager/CTspiManager.h"

#include "log/Trace.h"
#include "model/EventDelivery.h"
#include "model/ProviderLock.h"
#include "model/TapiDefs.h"

CTspiManager::CTspiManager() { InitProviderLock(); }

CTspiManager::~CTspiManager() {
    Trace(0, L"CTspiManager::~CTspiManager");
    Trace(0, L"ProgramEnd");
    for (int i = 0; i < 3; ++i) Trace(0, L"");
    DeleteProviderLock();
}

void CTspiManager::SendReply(DWORD dwRequestID, LONG lResult) {
    CFuncTrace trace(3, L"CTspiManager::SendReply");
    trace.Param(L"_dwRequestID", L"%u", dwRequestID);
    trace.Param(L"_lResult", L"0x%08X", static_cast<DWORD>(lResult));
    RaiseAsyncCompletion(dwRequestID, lResult);
    trace.End();
}

// The defaults of the line requests that no manager of this provider uses.
LONG CTspiManager::LineRequest12(void*, DWORD) { return LINEERR_OPERATIONUNAVAIL; }
LONG CTspiManager::LineRequest13(void*, void*, DWORD) { return LINEERR_OPERATIONUNAVAIL; }
LONG CTspiManager::LineRequest14(void*, DWORD) { return LINEERR_OPERATIONUNAVAIL; }
LONG CTspiManager::LineRequest15(void*, DWORD, void*) { return LINEERR_OPERATIONUNAVAIL; }
LONG CTspiManager::LineClose(PhoneLine*) { return 0; }
LONG CTspiManager::LineRequest17(void*, void*, DWORD) { return LINEERR_OPERATIONUNAVAIL; }
LONG CTspiManager::LineRequest18(void*, DWORD, DWORD) { return LINEERR_OPERATIONUNAVAIL; }
LONG CTspiManager::LineRequest19(void*, DWORD, void*) { return LINEERR_OPERATIONUNAVAIL; }
LONG CTspiManager::LineDrop(PhoneCall*, DWORD) { return LINEERR_OPERATIONUNAVAIL; }
LONG CTspiManager::LineRequest21(void*, DWORD, void*) { return LINEERR_OPERATIONUNAVAIL; }
LONG CTspiManager::LineRequest22(void*, DWORD, DWORD) { return LINEERR_OPERATIONUNAVAIL; }
LONG CTspiManager::LineRequest23(void*, DWORD) { return LINEERR_OPERATIONUNAVAIL; }
LONG CTspiManager::LineMakeCall(PhoneLine*, DWORD, const wchar_t*) { return LINEERR_OPERATIONUNAVAIL; }
LONG CTspiManager::LineOpen(PhoneLine*) { return 0; }
LONG CTspiManager::LineRequest26(void*, DWORD, void*) { return LINEERR_OPERATIONUNAVAIL; }
LONG CTspiManager::LineRequest27(void*, void*, DWORD) { return LINEERR_OPERATIONUNAVAIL; }
LONG CTspiManager::LineRequest28(void*, DWORD, void*) { return LINEERR_OPERATIONUNAVAIL; }
LONG CTspiManager::LineRequest29(void*, DWORD) { return LINEERR_OPERATIONUNAVAIL; }
LONG CTspiManager::LineRequest30(void*, DWORD) { return LINEERR_OPERATIONUNAVAIL; }
LONG CTspiManager::LineRequest31(void*, DWORD) { return LINEERR_OPERATIONUNAVAIL; }
LONG CTspiManager::LineRequest32(void*, void*, DWORD) { return LINEERR_OPERATIONUNAVAIL; }
