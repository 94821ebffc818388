// The call-event dispatcher: each PBX call event moves the TAPI call of the
// extension's line on, in the order of messages TAPI expects. An event is
// carried out by the call-event scheduler as steps under the ProviderLock;
// the short pauses that let applications see each state lie between the
// steps, with the lock free, so that other lines and TAPI requests go on
// meanwhile (manager/CallEventScheduler.h).
#include <functional>
#include <string>

#include "common/CallIdRanges.h"
#include "common/StageClock.h"
#include "log/Trace.h"
#include "manager/CGenericTSPIManager.h"
#include "manager/CallEventScheduler.h"
#include "manager/CallNumbers.h"
#include "manager/DialtoneCloser.h"
#include "manager/PartyNames.h"
#include "model/EventDelivery.h"
#include "model/LineCaps.h"
#include "model/LineTable.h"
#include "model/ProviderLock.h"
#include "model/ProviderState.h"

namespace {
constexpr DWORD kLeftInDialtone = LINECALLSTATE_UNKNOWN | LINECALLSTATE_DIALTONE;
constexpr DWORD kAnswerable = LINECALLSTATE_OFFERING | LINECALLSTATE_RINGBACK | LINECALLSTATE_PROCEEDING |
                              LINECALLSTATE_ONHOLD | LINECALLSTATE_ONHOLDPENDTRANSFER;
constexpr DWORD kOfferedElsewhere = LINECALLSTATE_OFFERING | LINECALLSTATE_ACCEPTED;
// The line position of an event at an extension that has no line here (it
// queues behind the events of its PBX call, in a line queue of its own).
constexpr LONG kNoLineOfOurs = -1;
constexpr DWORD kDialInfoStates = LINECALLINFOSTATE_CALLERID | LINECALLINFOSTATE_ORIGIN | LINECALLINFOSTATE_CALLID;
constexpr DWORD kCalledInfoStates = LINECALLINFOSTATE_CALLEDID | LINECALLINFOSTATE_ORIGIN;
constexpr DWORD kRingInfoStates =
    LINECALLINFOSTATE_CALLERID | LINECALLINFOSTATE_CALLEDID | LINECALLINFOSTATE_ORIGIN | LINECALLINFOSTATE_CALLID;
// Callees this long are outside numbers, which the PBX routes (proceeding) before they ring.
constexpr size_t kProceedingCalleeChars = 5;
// Pauses between messages, so that applications show each state.
constexpr DWORD kShortPauseMs = 10;
constexpr DWORD kCalledInfoPauseMs = 50;

// One event as the dispatcher sees it, with the line it is about.
struct LineEvent {
    LONG lLinePos;
    std::wstring uuid;
    std::wstring extension;
    std::wstring caller;
    std::wstring callee;
    std::wstring direction;
    bool bInbound;

    bool LineOpen() const { return GetPhoneLine(lLinePos)->m_htLine != nullptr; }
};

// Each branch returns null when it ran through, else the text of its abort line.
using BranchAbort = const wchar_t*;

void RaiseState(LONG lLinePos, LONG lCallPos, DWORD dwState, DWORD dwMode) {
    RaiseCallMsg(lLinePos, lCallPos, LINE_CALLSTATE, dwState, dwMode, LINEMEDIAMODE_INTERACTIVEVOICE);
}

void RaiseInfo(LONG lLinePos, LONG lCallPos, DWORD dwInfoStates) {
    RaiseCallMsg(lLinePos, lCallPos, LINE_CALLINFO, dwInfoStates, 0, 0);
}

// Caller and called number (with the names of the account's extensions) and
// the call number, written without an event.
void WriteCallNumbers(LONG lLinePos, LONG lCallPos, const std::wstring& caller, const std::wstring& callee,
                      DWORD dwNumber) {
    PhoneCall* pCall = GetPhoneCall(lLinePos, lCallPos);
    if (pCall == nullptr || pCall->m_pLineCallInfo == nullptr) return;
    WritePartyID(pCall, kNumberCaller, caller);
    WritePartyID(pCall, kNumberCalled, callee);
    pCall->m_pLineCallInfo->dwCallID = dwNumber;
    NoteCallLine(dwNumber, static_cast<DWORD>(lLinePos));
}

// A later step of an event acts on its call where the call is now: slots
// move when another call of the line goes while the event pauses. When the
// call has gone or ended meanwhile, the rest of the event is dropped.
void ThenOnCall(CEventSteps& steps, LONG lLinePos, const PhoneCall* pCall, DWORD dwNumber,
                std::function<void(LONG lCallPos)> fn) {
    steps.Then([=](CEventSteps& rest) {
        const LONG lCallPos = GetCallPosition(static_cast<DWORD>(lLinePos), pCall);
        const PhoneCall* pNow = GetPhoneCall(lLinePos, lCallPos);
        if (pNow == nullptr || pNow->m_pLineCallInfo == nullptr || pNow->m_pLineCallInfo->dwCallID != dwNumber ||
            GetCallState(lLinePos, lCallPos) == LINECALLSTATE_IDLE) {
            Trace(5, L"CGenericTSPIManager::DispatchEvents.Abort.Call gone during a pause");
            return rest.Abandon();
        }
        fn(lCallPos);
    });
}

// The call an outgoing call's event is about: the line's call with its
// number, else the one TAPI's make-call left in dial tone or unknown state
// that no PBX call has claimed yet, else a new one. A call another PBX call
// numbered is never taken over.
LONG OutgoingCallPos(LONG lLinePos, DWORD dwNumber) {
    LONG lUnclaimed = -1;
    for (LONG k = 0; k < kCallSlots; ++k) {
        const PhoneCall* pCall = GetPhoneCall(lLinePos, k);
        if (pCall == nullptr || pCall->m_pLineCallInfo == nullptr) continue;
        const DWORD dwState = GetCallState(lLinePos, k);
        const DWORD dwCallID = pCall->m_pLineCallInfo->dwCallID;
        if (dwCallID == dwNumber && dwState != LINECALLSTATE_IDLE) return k;
        if (lUnclaimed < 0 && (dwState & kLeftInDialtone) != 0 && !IsPbxCallNumber(dwCallID)) lUnclaimed = k;
    }
    if (lUnclaimed >= 0) return lUnclaimed;
    return GenerateNewCall(static_cast<DWORD>(lLinePos), nullptr, LINECALLORIGIN_OUTBOUND, g_dwPBXCallCounter, 0, -1);
}

// Whether a call with the number is still going on some line: then another
// leg of the PBX call (another extension's) may still end, and the number stays.
bool NumberInUse(DWORD dwNumber) {
    for (DWORD dwLinePos : CallLines(dwNumber)) {
        for (LONG k = 0; k < kCallSlots; ++k) {
            const PhoneCall* pCall = GetPhoneCall(static_cast<LONG>(dwLinePos), k);
            if (pCall != nullptr && pCall->m_pLineCallInfo != nullptr && pCall->m_pLineCallInfo->dwCallID == dwNumber &&
                pCall->m_dwLastState != LINECALLSTATE_IDLE)
                return true;
        }
    }
    return false;
}

void ForgetNumberUnlessInUse(DWORD dwNumber) {
    if (!NumberInUse(dwNumber)) ForgetCallNumber(dwNumber);
}

// Whether an event without a direction is about a call coming in: the
// connected number of an "answer" is then the caller's. Told by the call.
bool CallCameIn(const PhoneCall* pCall) {
    return pCall->m_pLineCallInfo == nullptr || pCall->m_pLineCallInfo->dwOrigin != LINECALLORIGIN_OUTBOUND;
}

BranchAbort CallerDial(const LineEvent& e, CEventSteps&) {
    if (e.bInbound) return L"Not outbound";
    if (!e.LineOpen()) return L"Line closed";
    if (LookUpCallNumber(e.uuid) != 0) return L"Call ID already exist";
    const DWORD dwNumber = AssignCallNumber(e.uuid);
    LONG lCallPos = OutgoingCallPos(e.lLinePos, dwNumber);
    // No call took the number: it is given up again, unless another line shows the call.
    if (lCallPos < 0) {
        ForgetNumberUnlessInUse(dwNumber);
        return nullptr;
    }
    const DWORD dwLastState = GetCallState(e.lLinePos, lCallPos);
    SendLineAddressStateMessage(e.lLinePos);
    WriteCallNumbers(e.lLinePos, lCallPos, e.extension, e.callee, dwNumber);
    if (dwLastState != LINECALLSTATE_DIALTONE) RaiseState(e.lLinePos, lCallPos, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL);
    SendLineAddressStateMessage(e.lLinePos);
    return nullptr;
}

BranchAbort Dial(const LineEvent& e, CEventSteps& steps) {
    if (e.bInbound) return L"Not outbound";
    if (!e.LineOpen()) return L"Line closed";
    // Normally numbered by its "caller-dial" already.
    DWORD dwNumber = LookUpCallNumber(e.uuid);
    if (dwNumber == 0) dwNumber = AssignCallNumber(e.uuid);
    LONG lCallPos = OutgoingCallPos(e.lLinePos, dwNumber);
    // No call took the number: it is given up again, unless another line shows the call.
    if (lCallPos < 0) {
        ForgetNumberUnlessInUse(dwNumber);
        return nullptr;
    }
    const bool bProceeding = e.callee.size() >= kProceedingCalleeChars;
    SendLineAddressStateMessage(e.lLinePos);
    WriteCallNumbers(e.lLinePos, lCallPos, e.extension, e.callee, dwNumber);
    if (GetCallState(e.lLinePos, lCallPos) != LINECALLSTATE_DIALTONE)
        RaiseState(e.lLinePos, lCallPos, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL);
    RaiseInfo(e.lLinePos, lCallPos, kDialInfoStates);
    const LONG lLinePos = e.lLinePos;
    const PhoneCall* pCall = GetPhoneCall(lLinePos, lCallPos);
    steps.Pause(kShortPauseMs);
    ThenOnCall(steps, lLinePos, pCall, dwNumber,
               [lLinePos](LONG lPos) { RaiseState(lLinePos, lPos, LINECALLSTATE_DIALING, 0); });
    steps.Pause(kShortPauseMs);
    ThenOnCall(steps, lLinePos, pCall, dwNumber, [lLinePos, bProceeding](LONG lPos) {
        if (bProceeding) RaiseState(lLinePos, lPos, LINECALLSTATE_PROCEEDING, 0);
        RaiseInfo(lLinePos, lPos, kCalledInfoStates);
    });
    steps.Pause(kCalledInfoPauseMs);
    ThenOnCall(steps, lLinePos, pCall, dwNumber,
               [lLinePos](LONG lPos) { RaiseState(lLinePos, lPos, LINECALLSTATE_RINGBACK, 0); });
    steps.Pause(kShortPauseMs);
    steps.Then([lLinePos](CEventSteps&) { SendLineAddressStateMessage(lLinePos); });
    return nullptr;
}

BranchAbort Ring(const LineEvent& e, CEventSteps& steps) {
    if (!e.bInbound) return L"Not inbound";
    if (!e.LineOpen()) return L"Line closed";
    if (!MarkRingSeen(e.uuid, e.extension)) return L"Double Call";
    // One PBX call offered to several extensions has one number on all their lines.
    DWORD dwNumber = LookUpCallNumber(e.uuid);
    if (dwNumber == 0) dwNumber = AssignCallNumber(e.uuid);
    // A CRM tells a colleague's call from a customer's by its origin.
    LONG lCallPos = GenerateNewCall(static_cast<DWORD>(e.lLinePos), nullptr, InboundCallOrigin(e.caller),
                                    g_dwPBXCallCounter, dwNumber, -1);
    // No call took the number: it is given up again, unless another line shows the call.
    if (lCallPos < 0) {
        ForgetNumberUnlessInUse(dwNumber);
        return nullptr;
    }
    SendLineAddressStateMessage(e.lLinePos);
    WriteCallNumbers(e.lLinePos, lCallPos, e.caller, e.callee, dwNumber);
    RaiseState(e.lLinePos, lCallPos, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE);
    SendLineAddressStateMessage(e.lLinePos);
    const LONG lLinePos = e.lLinePos;
    steps.Pause(kShortPauseMs);
    ThenOnCall(steps, lLinePos, GetPhoneCall(lLinePos, lCallPos), dwNumber,
               [lLinePos](LONG lPos) { RaiseInfo(lLinePos, lPos, kRingInfoStates); });
    steps.Pause(kShortPauseMs);
    return nullptr;
}

BranchAbort Answer(CGenericTSPIManager& manager, const LineEvent& e) {
    // A PBX call the provider never numbered has no call here; no other call may stand in for it.
    const DWORD dwNumber = LookUpCallNumber(e.uuid);
    if (dwNumber == 0) return L"Unknown call";
    manager.DropAllOtherCalls(dwNumber, e.extension);
    if (!e.LineOpen()) return L"Line closed";
    // Whatever an earlier request left in dial tone on this line is over now.
    StartDialtoneCloseRequest(static_cast<DWORD>(e.lLinePos), 0);
    if (GetCallCountWithState(static_cast<DWORD>(e.lLinePos), kAnswerable) == 0) return nullptr;
    LONG lCallPos = GetFirstCallPosWithCallID(static_cast<DWORD>(e.lLinePos), dwNumber);
    if (lCallPos < 0) return nullptr;
    PhoneCall* pCall = GetPhoneCall(e.lLinePos, lCallPos);
    const bool bInbound = e.direction.empty() ? CallCameIn(pCall) : e.bInbound;
    WritePartyID(pCall, kNumberConnected, bInbound ? e.caller : e.callee);
    RaiseState(e.lLinePos, lCallPos, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
    RaiseInfo(e.lLinePos, lCallPos, LINECALLINFOSTATE_CONNECTEDID);
    return nullptr;
}

BranchAbort Hangup(CGenericTSPIManager& manager, const LineEvent& e) {
    // A "hangup" of a PBX call never seen must not end another call of the line.
    const DWORD dwNumber = LookUpCallNumber(e.uuid);
    if (dwNumber == 0) return L"Unknown call";
    manager.DropAllOtherCalls(dwNumber, e.extension);
    if (!e.LineOpen()) return L"Line closed";
    // Without calls on the line the numbers stay: another leg may still end.
    if (GetCallCount(static_cast<DWORD>(e.lLinePos)) == 0) return nullptr;
    LONG lCallPos = GetFirstCallPosWithCallID(static_cast<DWORD>(e.lLinePos), dwNumber);
    // A copy idled already (offered here, answered elsewhere) is not ended twice.
    if (lCallPos >= 0 && GetCallState(e.lLinePos, lCallPos) != LINECALLSTATE_IDLE) {
        RaiseState(e.lLinePos, lCallPos, LINECALLSTATE_DISCONNECTED, 0);
        RaiseState(e.lLinePos, lCallPos, LINECALLSTATE_IDLE, 0);
        SendLineAddressStateMessage(e.lLinePos);
    }
    ForgetNumberUnlessInUse(dwNumber);
    return nullptr;
}

// The first step of an event: it decides what the event does, raises what
// comes at once and appends the steps that follow a pause.
void RunFirstStep(CGenericTSPIManager& manager, const LineEvent& event, const std::wstring& state, CEventSteps& steps) {
    CFuncTrace trace(5, L"CGenericTSPIManager::DispatchEvents", TracePrefix::None, false);
    MarkStage(Stage::Dispatched);
    if (event.lLinePos == kNoLineOfOurs) {
        // A ring group member outside the directory took or ended the call:
        // the copies still offered on our lines are over.
        manager.DropAllOtherCalls(LookUpCallNumber(event.uuid), event.extension);
        return trace.End();
    }
    // The lines may have been rebuilt since the event was queued.
    const PhoneLine* pLine = GetPhoneLine(event.lLinePos);
    if (pLine == nullptr || pLine->m_bRemoved || event.extension != pLine->m_szAddress)
        return trace.Line(L"Abort.Wrong line pos");
    BranchAbort pszAbort = nullptr;
    if (state == L"caller-dial")
        pszAbort = CallerDial(event, steps);
    else if (state == L"dial")
        pszAbort = Dial(event, steps);
    else if (state == L"ring")
        pszAbort = Ring(event, steps);
    else if (state == L"answer")
        pszAbort = Answer(manager, event);
    // "bridge" and unknown states change nothing.
    else if (state == L"hangup")
        pszAbort = Hangup(manager, event);
    if (pszAbort != nullptr) return trace.Line(L"Abort.%s", pszAbort);
    trace.End();
}
}  // namespace

bool CGenericTSPIManager::QueueEvent(const std::wstring& uuid, const std::wstring& extension, const std::wstring& caller,
                                     const std::wstring& callee, const std::wstring& state,
                                     const std::wstring& direction, bool bWait) {
    CFuncTrace trace(5, L"CGenericTSPIManager::DispatchEvents", TracePrefix::None);
    trace.Param(L"uuid", L"%s", uuid.c_str());
    trace.Param(L"extension", L"%s", extension.c_str());
    trace.Param(L"caller", L"%s", caller.c_str());
    trace.Param(L"callee", L"%s", callee.c_str());
    trace.Param(L"state", L"%s", state.c_str());
    trace.Param(L"direction", L"%s", direction.c_str());
    LONG lLinePos = -1;
    {
        // The line is looked up under the lock: a re-initialisation may add or
        // remove lines at any time. A line keeps its position once it has one.
        CProviderLockGuard lock(LockOwner::DispatchEvents);
        lLinePos = GetPosFromAddress(extension.c_str());
        // Its number is looked up when the event runs, after the rings queued before it.
        const bool bEndsOurCopies = state == L"answer" || state == L"hangup";
        if (lLinePos < 0 && !bEndsOurCopies) {
            trace.Line(L"Abort.Wrong line pos");
            return false;
        }
        if (lLinePos < 0) lLinePos = kNoLineOfOurs;
        else trace.Var(L"m_htLine", L"%p", GetPhoneLine(lLinePos)->m_htLine);
    }
    LineEvent event{lLinePos, uuid, extension, caller, callee, direction, direction == L"inbound"};
    auto first = [this, event = std::move(event), state](CEventSteps& steps) { RunFirstStep(*this, event, state, steps); };
    if (bWait) RunCallEvent(lLinePos, uuid, std::move(first));
    else PostCallEvent(lLinePos, uuid, std::move(first));
    return true;
}

void CGenericTSPIManager::DispatchEvents(std::wstring uuid, std::wstring extension, std::wstring caller,
                                         std::wstring callee, std::wstring state, std::wstring direction) {
    QueueEvent(uuid, extension, caller, callee, state, direction, true);
}

void CGenericTSPIManager::PostEvents(std::wstring uuid, std::wstring extension, std::wstring caller,
                                     std::wstring callee, std::wstring state, std::wstring direction) {
    QueueEvent(uuid, extension, caller, callee, state, direction, false);
}

void CGenericTSPIManager::CallEnded(DWORD dwCallNumber) {
    // Calls ended by other rules than their hangup, and those whose hangup
    // never came, leave no number behind.
    if (IsPbxCallNumber(dwCallNumber)) ForgetNumberUnlessInUse(dwCallNumber);
}

void CGenericTSPIManager::DropAllOtherCalls(DWORD dwCallNumber, std::wstring extension) {
    // Runs inside the dispatcher's hold of the ProviderLock. No PBX call has number 0.
    if (dwCallNumber == 0) return;
    // Only the lines the number was given on can hold its copies (ascending, as before).
    for (DWORD dwLinePos : CallLines(dwCallNumber)) {
        const PhoneLine* pLine = GetPhoneLine(static_cast<LONG>(dwLinePos));
        // A removed line's calls were ended with it.
        if (pLine == nullptr || pLine->m_bRemoved) continue;
        LONG lCallPos = GetFirstCallPosWithCallID(dwLinePos, dwCallNumber);
        if (lCallPos < 0) continue;
        const DWORD dwLastState = GetPhoneCall(static_cast<LONG>(dwLinePos), lCallPos)->m_dwLastState;
        Trace(5, L"Line %4d State 0x%08X", dwLinePos, dwLastState);
        if (extension == pLine->m_szAddress || (dwLastState & kOfferedElsewhere) == 0) continue;
        Trace(5, L"Drop call from ext %s", pLine->m_szAddress);
        SendIdleState(static_cast<LONG>(dwLinePos), lCallPos);
    }
}
