// What TAPI is told (its event, line-create and completion procedures) is
// queued here and told once the ProviderLock is released; the why and the
// order are written where the lock is defined (model/ProviderLock.h).
#pragma once

#include <windows.h>

#include <cstddef>

#include "model/PhoneCall.h"
#include "model/TapiDefs.h"

// A message for pfnEvent (TAPI's event or line-create procedure). For a
// call's message pCall names the call: TAPI gets the call's handle as TAPI
// knows it when the message is told, also when it learns that handle from a
// LINE_NEWCALL queued before. A null procedure tells nothing.
void QueueLineEvent(LINEEVENT pfnEvent, HTAPILINE htLine, const PhoneCall* pCall, DWORD dwMsg, DWORD_PTR dwParam1,
                    DWORD_PTR dwParam2, DWORD_PTR dwParam3);
// LINE_NEWCALL for pCall. TAPI writes its handle for the call into a place
// the queue owns, which lives as long as the message, and the record's
// m_htCall takes it as soon as TAPI has answered (unless the record went).
void QueueNewCall(LINEEVENT pfnEvent, HTAPILINE htLine, PhoneCall* pCall);
// Waits dwMs before telling what comes after; with pCall, it waits with that
// call's messages when they are held.
void QueuePause(const PhoneCall* pCall, DWORD dwMs);
void QueueCompletion(ASYNC_COMPLETION pfnCompletion, DWORD dwRequestID, LONG lResult);

// A call TAPI asked for with request dwRequestID (a make-call) must not be
// heard of before that request's completion: its messages, the ones queued
// in this hold of the lock included, wait until CompletionTold.
void HoldCallMessages(const PhoneCall* pCall, DWORD dwRequestID);
// The request's completion reached TAPI (RaiseAsyncCompletion marks this
// itself), or a request that TAPI got an error for at once: the held
// messages follow now; after a failure TAPI has no such call, so they and
// the call's later messages are dropped.
void CompletionTold(DWORD dwRequestID, LONG lResult);

// Whether TAPI holds, or is about to learn, a handle for the call: it gave
// one, or a LINE_NEWCALL for it is queued; not after its make-call failed.
bool TapiKnowsCall(const PhoneCall& call);
// The record is freed or retired: nothing told later writes into it.
void ForgetCallRecord(const PhoneCall* pCall);

// The ProviderLock's side: the holder's messages become due as it leaves its
// outermost hold (still inside the lock, so that holds are told in the order
// they ended), and are told after it let go of the lock.
void ReleaseHeldMessages() noexcept;
void TellQueuedMessages() noexcept;
// Waits while more than kBacklogMessages are due, up to dwTimeoutMs; true
// when they are fewer. For a producer that raises many messages and holds no lock.
bool WaitForMessageBacklog(DWORD dwTimeoutMs);
constexpr size_t kBacklogMessages = 4096;
// The provider has shut down: what was not told yet never will be.
void DiscardQueuedMessages();
// Messages due and not told yet, those waiting for a completion included
// (diagnostics, tests).
size_t QueuedMessageCount();
