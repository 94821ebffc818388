#include "model/EventDelivery.h"

#include "log/Trace.h"
#include "manager/ProviderState.h"

void RaiseAsyncCompletion(DWORD dwRequestID, LONG lResult) {
    CFuncTrace trace(4, L"RaiseAsyncCompletion");
    trace.Param(L"_dwRequestID", L"%u", dwRequestID);
    trace.Param(L"_lResult", L"0x%08X", static_cast<DWORD>(lResult));
    if (g_pfnAsyncCompletion == nullptr) {
        trace.Line(L"Abort.Warning.No completion procedure");
        return;
    }
    g_pfnAsyncCompletion(dwRequestID, lResult);
    trace.End();
}
