// Which call operations TAPI may offer on each call, and the call counts and
// features of the line and its address, computed from the line table and
// written into the records. Nothing here tells TAPI: the updates that
// announce changed features are part of event delivery (EventDelivery.h).
// Callers hold the ProviderLock.
#pragma once

#include <windows.h>

#include "model/PhoneCall.h"

// Computes the features of the call in slot lCallPos of the line from the
// line's calls, its partner's and the line's capabilities, and writes them
// into the call's LINECALLSTATUS (which, like its LINECALLINFO, must exist).
// Returns them as dwCallFeatures << 32 | dwCallFeatures2.
ULONGLONG StoreCallFeatures(LONG lLinePos, LONG lCallPos, PhoneCall& call);
// The call counts and the features of the line and its address.
void UpdateLine(LONG lLinePos);
// 0 when the call may do one of dwFeatures now; LINEERR_OPERATIONUNAVAIL when
// its line never can, LINEERR_OPERATIONFAILED when the call cannot in its state.
LONG CheckTSPICommandCallFeatures(LONG lPosActor, LONG lPosCallActor, DWORD dwFeatures);
