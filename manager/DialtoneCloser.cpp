#include "manager/DialtoneCloser.h"

#include <vector>

#include "common/TimerScale.h"
#include "log/Trace.h"
#include "manager/RequestThreads.h"
#include "manager/ServiceState.h"
#include "manager/ThreadRun.h"
#include "model/EventDelivery.h"
#include "model/LineTable.h"
#include "model/ProviderLock.h"

namespace {
constexpr DWORD kExtraWaitMs = 100;
constexpr DWORD kLeftInDialtone = LINECALLSTATE_UNKNOWN | LINECALLSTATE_DIALTONE;

// bStreamWasOpen and qwStreamDowns: the event stream as the wait began.
void CloseCallsLeftInDialtone(DWORD dwLinePos, const std::vector<CallIdentity>& calls, bool bStreamWasOpen,
                              ULONGLONG qwStreamDowns) {
    CFuncTrace trace(5, L"AsyncCloseUnknownDialtoneThread", TracePrefix::None);
    trace.Param(L"m_dwLineID", L"%u", dwLinePos);
    // Silence is evidence only while the stream was there to carry the call's
    // events: a call whose wait saw the stream down is left to the check of
    // calls not heard of after a reconnection (ServiceState.h).
    if (!bStreamWasOpen || !StreamIsOpen() || StreamDowns() != qwStreamDowns) {
        trace.Line(L"Info.Stream down during the wait: its calls are left to the reconnection's check");
        return trace.End();
    }
    CProviderLockGuard lock(LockOwner::AsyncCloseUnknownDialtoneThread);
    // A shutdown that came while the closer waited for the lock voids it too.
    if (!CurrentThreadMayAct()) return trace.End();
    const LONG lLinePos = static_cast<LONG>(dwLinePos);
    for (const CallIdentity& call : calls) {
        const LONG lCallPos = GetCallPosition(dwLinePos, call.pCall);
        const PhoneCall* pNow = GetPhoneCall(lLinePos, lCallPos);
        // Gone, another call in its record, or moved on: not this closer's to end.
        if (pNow == nullptr || pNow->m_dwSerial != call.dwSerial || (GetCallState(lLinePos, lCallPos) & kLeftInDialtone) == 0)
            continue;
        trace.Var(L"lCallPos", L"%d", lCallPos);
        RaiseCallMsg(lLinePos, lCallPos, LINE_CALLSTATE, LINECALLSTATE_IDLE, 0, LINEMEDIAMODE_INTERACTIVEVOICE);
        SendLineAddressStateMessage(lLinePos);
    }
    trace.End();
}
}  // namespace

DialtoneCalls DialtoneCallsOf(DWORD dwLineID) {
    DialtoneCalls calls;
    for (LONG lCallPos = 0; lCallPos < kCallSlots; ++lCallPos) {
        const PhoneCall* pCall = GetPhoneCall(static_cast<LONG>(dwLineID), lCallPos);
        if (pCall != nullptr && (GetCallState(static_cast<LONG>(dwLineID), lCallPos) & kLeftInDialtone) != 0)
            calls.push_back(CallIdentity{pCall, pCall->m_dwSerial});
    }
    return calls;
}

void StartDialtoneCloseRequest(DWORD dwLineID, DialtoneCalls calls, DWORD dwWaitTime) {
    CFuncTrace trace(5, L"StartDialtoneCloseRequest", TracePrefix::None);
    trace.Param(L"_dwLineID", L"%u", dwLineID);
    trace.Param(L"_dwWaitTime", L"%u", dwWaitTime);
    if (calls.empty()) return trace.Line(L"End.No call in dial tone");
    const bool bStreamOpen = StreamIsOpen();
    const ULONGLONG qwStreamDowns = StreamDowns();
    const RequestQueued queued = QueueRequest(dwWaitTime + ScaledMs(kExtraWaitMs), [=] {
        CloseCallsLeftInDialtone(dwLineID, calls, bStreamOpen, qwStreamDowns);
    });
    if (queued != RequestQueued::Yes) return trace.Line(L"Abort.Error.Not queued %d", static_cast<int>(queued));
    trace.End();
}

void StartDialtoneCloseRequest(DWORD dwLineID, DWORD dwWaitTime) {
    StartDialtoneCloseRequest(dwLineID, DialtoneCallsOf(dwLineID), dwWaitTime);
}
