#include "model/EventOutbox.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/ConstructionOrder.h"
#include "common/SlimLock.h"
#include "common/StageClock.h"
#include "log/Trace.h"
#include "model/ProviderLock.h"

namespace {
struct CallHold;

struct Message {
    enum Kind { Event, NewCall, Pause, Completion } kind = Event;
    LINEEVENT pfnEvent = nullptr;
    ASYNC_COMPLETION pfnCompletion = nullptr;
    HTAPILINE htLine = nullptr;
    HTAPICALL htCall = nullptr;
    DWORD dwMsg = 0;
    DWORD_PTR dwParam1 = 0, dwParam2 = 0, dwParam3 = 0;
    // The call a message is about: a key, never read through by the teller.
    const PhoneCall* pCall = nullptr;
    // NewCall: where TAPI writes its handle. Event: where TAPI's handle of
    // the call will be, when it was not known as the message was queued.
    std::shared_ptr<HTAPICALL> tapiHandle;
    std::shared_ptr<CallHold> hold;
    DWORD dwRequestID = 0;  // Completion
    LONG lResult = 0;       // Completion
    DWORD dwPauseMs = 0;    // Pause
};

// A make-call's hold on its call's messages.
struct CallHold {
    enum State { Waiting, Released, Dropped } state = Waiting;
    const PhoneCall* pCall;
    // Messages that came due while waiting; at most what one call raises
    // before its completion (a few states and infos).
    std::vector<Message> parked;
};

// Built with the model's objects, so that they outlive the manager's
// (common/ConstructionOrder.h).
// The messages of the current holder of the ProviderLock, in order; only
// that holder touches them.
std::vector<Message> g_Held ORVO_BUILT_IN_ORDER(ORVO_ORDER_MODEL);

SlimMutex g_Mutex;
using COutboxGuard = std::unique_lock<SlimMutex>;
SlimCondition g_Told;  // a message left g_Due
// Everything below is guarded by g_Mutex.
// Due messages in the order their holds of the lock ended. Bounded: the
// call-event scheduler waits while more than kBacklogMessages are due, and
// every other producer raises a few messages per request or tick.
std::deque<Message> g_Due ORVO_BUILT_IN_ORDER(ORVO_ORDER_MODEL);
// Set while one thread tells: the others leave their messages to it.
bool g_bTelling = false;
// Records with a LINE_NEWCALL not yet answered -> where TAPI writes; at most
// one per call record, erased when TAPI answered or the record went.
std::unordered_map<const PhoneCall*, std::shared_ptr<HTAPICALL>> g_NewCallHandles ORVO_BUILT_IN_ORDER(ORVO_ORDER_MODEL);
// Holds by call and by request: one per make-call whose completion is not
// told yet, and (by call) the calls of failed make-calls while their record lives.
std::unordered_map<const PhoneCall*, std::shared_ptr<CallHold>> g_HoldsByCall ORVO_BUILT_IN_ORDER(ORVO_ORDER_MODEL);
std::unordered_map<DWORD, std::shared_ptr<CallHold>> g_HoldsByRequest ORVO_BUILT_IN_ORDER(ORVO_ORDER_MODEL);

bool HeldByThisThread() { return ProviderLockHeldBy(GetCurrentThreadId()); }

// With g_Mutex held: what a message about the call needs to know of it now.
void Describe(Message& message) {
    if (message.pCall == nullptr) return;
    const auto hold = g_HoldsByCall.find(message.pCall);
    if (hold != g_HoldsByCall.end()) message.hold = hold->second;
    if (message.kind != Message::Event) return;
    const auto pending = g_NewCallHandles.find(message.pCall);
    if (pending != g_NewCallHandles.end()) message.tapiHandle = pending->second;
    else message.htCall = message.pCall->m_htCall;
}

void Queue(Message message) {
    if (HeldByThisThread()) {
        {
            COutboxGuard guard(g_Mutex);
            Describe(message);
        }
        g_Held.push_back(std::move(message));
        return;
    }
    // Outside the lock (a completion from a reply thread): due at once.
    {
        COutboxGuard guard(g_Mutex);
        Describe(message);
        g_Due.push_back(std::move(message));
    }
    TellQueuedMessages();
}

void Tell(const Message& message) {
    switch (message.kind) {
        case Message::Event: {
            const HTAPICALL htCall = message.tapiHandle ? *message.tapiHandle : message.htCall;
            MarkStage(Stage::Delivering);
            message.pfnEvent(message.htLine, htCall, message.dwMsg, message.dwParam1, message.dwParam2, message.dwParam3);
            EndStages(message.dwMsg, message.dwParam1);
            break;
        }
        case Message::NewCall:
            message.pfnEvent(message.htLine, nullptr, LINE_NEWCALL, reinterpret_cast<DWORD_PTR>(message.pCall),
                             reinterpret_cast<DWORD_PTR>(message.tapiHandle.get()), 0);
            break;
        case Message::Pause: Sleep(message.dwPauseMs); break;
        case Message::Completion: message.pfnCompletion(message.dwRequestID, message.lResult); break;
    }
}

// With g_Mutex held: ends the request's hold; released messages go first.
void EndHold(DWORD dwRequestID, LONG lResult) {
    const auto entry = g_HoldsByRequest.find(dwRequestID);
    if (entry == g_HoldsByRequest.end()) return;
    const std::shared_ptr<CallHold> hold = entry->second;
    g_HoldsByRequest.erase(entry);
    std::vector<Message> parked = std::move(hold->parked);
    hold->parked.clear();
    if (lResult != 0) {
        // Kept by call while the record lives: its later messages are dropped too.
        hold->state = CallHold::Dropped;
        return;
    }
    hold->state = CallHold::Released;
    const auto byCall = g_HoldsByCall.find(hold->pCall);
    if (byCall != g_HoldsByCall.end() && byCall->second == hold) g_HoldsByCall.erase(byCall);
    g_Due.insert(g_Due.begin(), std::make_move_iterator(parked.begin()), std::make_move_iterator(parked.end()));
}

// With g_Mutex held, after the message was told.
void AfterTold(const Message& message) {
    if (message.kind == Message::NewCall) {
        const auto entry = g_NewCallHandles.find(message.pCall);
        // The record still lives (ForgetCallRecord erases first): it takes TAPI's handle.
        if (entry != g_NewCallHandles.end() && entry->second == message.tapiHandle) {
            const_cast<PhoneCall*>(message.pCall)->m_htCall = *message.tapiHandle;
            g_NewCallHandles.erase(entry);
        }
    } else if (message.kind == Message::Completion) {
        EndHold(message.dwRequestID, message.lResult);
    }
}

// With g_Mutex held: whether a message about a call other than pCall is due.
bool OtherCallDue(const PhoneCall* pCall) {
    return std::any_of(g_Due.begin(), g_Due.end(),
                       [&](const Message& due) { return due.pCall != nullptr && due.pCall != pCall; });
}

// With g_Mutex held: the next message to tell, or false when none is left.
// Messages of a held call are parked or dropped on the way. A hangup's pause
// gives way when other calls' messages are due: they give the application
// its moment, and one sleep per hangup would hold up every line in a burst,
// and the ended calls in their slots, which TAPI frees only after their IDLE.
bool TakeNext(Message& message) {
    while (!g_Due.empty()) {
        message = std::move(g_Due.front());
        g_Due.pop_front();
        g_Told.notify_all();
        if (message.kind == Message::Pause && OtherCallDue(message.pCall)) continue;
        if (!message.hold || message.hold->state == CallHold::Released) return true;
        if (message.hold->state == CallHold::Waiting) message.hold->parked.push_back(std::move(message));
    }
    return false;
}
}  // namespace

void QueueLineEvent(LINEEVENT pfnEvent, HTAPILINE htLine, const PhoneCall* pCall, DWORD dwMsg, DWORD_PTR dwParam1,
                    DWORD_PTR dwParam2, DWORD_PTR dwParam3) {
    if (pfnEvent == nullptr) return;
    Message message;
    message.pfnEvent = pfnEvent;
    message.htLine = htLine;
    message.pCall = pCall;
    message.dwMsg = dwMsg;
    message.dwParam1 = dwParam1;
    message.dwParam2 = dwParam2;
    message.dwParam3 = dwParam3;
    Queue(std::move(message));
}

void QueueNewCall(LINEEVENT pfnEvent, HTAPILINE htLine, PhoneCall* pCall) {
    if (pfnEvent == nullptr || pCall == nullptr) return;
    Message message;
    message.kind = Message::NewCall;
    message.pfnEvent = pfnEvent;
    message.htLine = htLine;
    message.pCall = pCall;
    message.tapiHandle = std::make_shared<HTAPICALL>(nullptr);
    {
        COutboxGuard guard(g_Mutex);
        g_NewCallHandles[pCall] = message.tapiHandle;
    }
    Queue(std::move(message));
}

void QueuePause(const PhoneCall* pCall, DWORD dwMs) {
    Message message;
    message.kind = Message::Pause;
    message.pCall = pCall;
    message.dwPauseMs = dwMs;
    Queue(std::move(message));
}

void QueueCompletion(ASYNC_COMPLETION pfnCompletion, DWORD dwRequestID, LONG lResult) {
    if (pfnCompletion == nullptr) return CompletionTold(dwRequestID, lResult);
    Message message;
    message.kind = Message::Completion;
    message.pfnCompletion = pfnCompletion;
    message.dwRequestID = dwRequestID;
    message.lResult = lResult;
    Queue(std::move(message));
}

void HoldCallMessages(const PhoneCall* pCall, DWORD dwRequestID) {
    auto hold = std::make_shared<CallHold>();
    hold->pCall = pCall;
    {
        COutboxGuard guard(g_Mutex);
        g_HoldsByCall[pCall] = hold;
        g_HoldsByRequest[dwRequestID] = hold;
    }
    // What this hold of the lock queued for the call so far waits too.
    if (!HeldByThisThread()) return;
    for (Message& message : g_Held)
        if (message.pCall == pCall && !message.hold) message.hold = hold;
}

void CompletionTold(DWORD dwRequestID, LONG lResult) {
    {
        COutboxGuard guard(g_Mutex);
        EndHold(dwRequestID, lResult);
    }
    TellQueuedMessages();
}

bool TapiKnowsCall(const PhoneCall& call) {
    COutboxGuard guard(g_Mutex);
    const auto hold = g_HoldsByCall.find(&call);
    if (hold != g_HoldsByCall.end() && hold->second->state == CallHold::Dropped) return false;
    return call.m_htCall != nullptr || g_NewCallHandles.count(&call) != 0;
}

void ForgetCallRecord(const PhoneCall* pCall) {
    COutboxGuard guard(g_Mutex);
    g_NewCallHandles.erase(pCall);
    g_HoldsByCall.erase(pCall);
}

void ReleaseHeldMessages() noexcept {
    if (g_Held.empty()) return;
    COutboxGuard guard(g_Mutex);
    try {
        for (Message& message : g_Held) g_Due.push_back(std::move(message));
    } catch (...) {
        Trace(0, L"Func.ReleaseHeldMessages.Error.Out of memory, messages for TAPI lost");
    }
    g_Held.clear();
}

void TellQueuedMessages() noexcept {
    // Never inside the lock: its holder tells once it has let go of it.
    if (HeldByThisThread()) return;
    for (;;) {
        Message message;
        {
            COutboxGuard guard(g_Mutex);
            // One teller at a time keeps the order; it tells what others queue meanwhile.
            if (g_bTelling || !TakeNext(message)) return;
            g_bTelling = true;
        }
        try {
            Tell(message);
        } catch (...) {
            Trace(0, L"Func.TellQueuedMessages.Warning.Exception in a TAPI callback");
        }
        COutboxGuard guard(g_Mutex);
        g_bTelling = false;
        AfterTold(message);
    }
}

bool WaitForMessageBacklog(DWORD dwTimeoutMs) {
    TellQueuedMessages();
    COutboxGuard guard(g_Mutex);
    return g_Told.wait_for(guard, std::chrono::milliseconds(dwTimeoutMs),
                           [] { return g_Due.size() <= kBacklogMessages; });
}

void DiscardQueuedMessages() {
    if (HeldByThisThread()) g_Held.clear();
    COutboxGuard guard(g_Mutex);
    g_Due.clear();
    g_NewCallHandles.clear();
    g_HoldsByCall.clear();
    g_HoldsByRequest.clear();
    g_Told.notify_all();
}

size_t QueuedMessageCount() {
    COutboxGuard guard(g_Mutex);
    size_t nCount = g_Due.size();
    for (const auto& [dwRequestID, hold] : g_HoldsByRequest) nCount += hold->parked.size();
    return nCount;
}
