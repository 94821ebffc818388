// The only path by which events reach TAPI: its completion and event
// callbacks. It sits on top of the line table (LineTable.h), the records
// (LineCaps.h) and the features computed from them (CallFeatures.h), and is
// the one part of the model that raises events. Around each call event the
// model is kept consistent: the call's state is recorded, features are
// recomputed, and idle calls that nobody can close any more are removed.
#pragma once

#include <windows.h>

#include "model/PhoneCall.h"
#include "model/TapiDefs.h"

// Calls the asynchronous completion procedure, if TAPI has set one.
void RaiseAsyncCompletion(DWORD dwRequestID, LONG lResult);
// One call message for the call in a slot; takes the ProviderLock itself.
void RaiseCallMsg(LONG lLinePos, LONG lCallPos, DWORD dwMessage, DWORD_PTR dwParam1, DWORD_PTR dwParam2,
                  DWORD_PTR dwParam3);
// One line message; the caller holds the ProviderLock.
void RaiseLineMsg(LONG lLinePos, DWORD dwMessage, DWORD_PTR dwParam1, DWORD_PTR dwParam2, DWORD_PTR dwParam3);
// Tells TAPI that the number of calls of an open line changed, as far as its filters ask for it.
void SendLineAddressStateMessage(LONG lLinePos);
// Ends a call towards TAPI: disconnected (if it was talking or held), then idle.
void SendIdleState(LONG lPosActor, LONG lCallPosActor);
// Fills an application's LINECALLSTATUS as the status of an idle call.
void SetCallStatusIdle(LINECALLSTATUS* lpCallStatus);

// Feature updates: each call's features are recomputed (CallFeatures.h);
// with bSendEvent, TAPI hears LINE_CALLINFO for every call whose features
// changed since last announced. The caller holds the ProviderLock.
void UpdateCall(LONG lLinePos, LONG lCallPos, BOOL bSendEvent);
// Every call of the line, then the line's own counts and features.
void UpdateAllFeatures(LONG lLinePos, BOOL bSendEvent);
// The lines of the partners of the line's calls.
void UpdatePartners(LONG lLinePos, BOOL bSendEvent);

// A new call in the first free slot of the line, its records filled; a call
// TAPI did not place is announced with LINE_NEWCALL, then LINE_CALLINFO
// follows. Its slot, or -1.
LONG GenerateNewCall(DWORD dwLinePos, HTAPICALL htCall, DWORD dwOrigin, DWORD dwPBXCall, DWORD dwCallID,
                     LONG lPartnerID);
// Takes the call out of its line (RemovePhoneCallSilent), then tells TAPI
// what the remaining calls and their partners may do now.
void RemovePhoneCall(PhoneCall* pPhoneCall);
// Removes the line's idle calls and idles its unknown second call; non-zero
// when it acted.
DWORD DeadCallTest(LONG lPos);
