// The only path by which events reach TAPI: its completion and event
// callbacks. Around each call event the model is kept consistent: the call's
// state is recorded, features are recomputed, and idle calls that nobody can
// close any more are removed.
#pragma once

#include <windows.h>

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
