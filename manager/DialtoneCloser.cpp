#include "manager/DialtoneCloser.h"

#include <memory>
#include <new>

#include "common/TimerScale.h"
#include "log/Trace.h"
#include "manager/RequestThreads.h"
#include "model/EventDelivery.h"
#include "model/LineTable.h"
#include "model/ProviderLock.h"

namespace {
constexpr DWORD kExtraWaitMs = 100;
constexpr DWORD kLeftInDialtone = LINECALLSTATE_UNKNOWN | LINECALLSTATE_DIALTONE;
}  // namespace

DWORD WINAPI AsyncCloseUnknownDialtoneThread(LPVOID pParam) {
    std::unique_ptr<DialtoneCloseRequest> request(static_cast<DialtoneCloseRequest*>(pParam));
    DialtoneCloseRequest* pRequest = request.get();
    CFuncTrace trace(5, L"AsyncCloseUnknownDialtoneThread", TracePrefix::None);
    trace.Param(L"m_dwLineID", L"%u", pRequest->m_dwLineID);
    trace.Param(L"m_dwWaitTime", L"%u", pRequest->m_dwWaitTime);
    if (WaitInRequest(pRequest->m_dwWaitTime + ScaledMs(kExtraWaitMs), pRequest->m_lGeneration)) {
        CProviderLockGuard lock(LockOwner::AsyncCloseUnknownDialtoneThread);
        const DWORD dwLinePos = pRequest->m_dwLineID;
        // A shutdown that came while this thread waited for the lock voids the request too.
        const bool bValid = RequestStillValid(pRequest->m_lGeneration);
        const LONG lCallPos = bValid ? GetFirstCallPosWithState(dwLinePos, kLeftInDialtone) : -1;
        trace.Var(L"lCallPos", L"%d", lCallPos);
        if (lCallPos >= 0) {
            RaiseCallMsg(static_cast<LONG>(dwLinePos), lCallPos, LINE_CALLSTATE, LINECALLSTATE_IDLE, 0,
                         LINEMEDIAMODE_INTERACTIVEVOICE);
            SendLineAddressStateMessage(static_cast<LONG>(dwLinePos));
        }
    }
    HANDLE hThread = pRequest->m_hThread;
    request.reset();  // EndRequestThread does not return: nothing is destroyed after it
    trace.End();
    EndRequestThread(hThread);
}

void StartDialtoneCloseRequest(DWORD dwLineID, DWORD dwWaitTime) {
    CFuncTrace trace(5, L"StartDialtoneCloseRequest", TracePrefix::None);
    trace.Param(L"_dwLineID", L"%u", dwLineID);
    trace.Param(L"_dwWaitTime", L"%u", dwWaitTime);
    std::unique_ptr<DialtoneCloseRequest> pRequest(
        new (std::nothrow) DialtoneCloseRequest{dwWaitTime, dwLineID, nullptr, CurrentRequestGeneration()});
    if (!pRequest) return trace.Line(L"Abort.Error.No memory");
    if (!StartRequestThread(AsyncCloseUnknownDialtoneThread, pRequest.get(), pRequest->m_hThread))
        return trace.Line(L"Abort.Error.CreateThread %u", GetLastError());
    pRequest.release();  // the thread owns the request from here on and frees it
    trace.End();
}
