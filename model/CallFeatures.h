// Which call operations TAPI may offer on each call, and the call counts and
// features of the line and its address, recomputed after every change.
// Callers hold the ProviderLock.
#pragma once

#include <windows.h>

void UpdateCall(LONG lLinePos, LONG lCallPos, BOOL bSendEvent);
void UpdateAllFeatures(LONG lLinePos, BOOL bSendEvent);
void UpdatePartners(LONG lLinePos, BOOL bSendEvent);
void UpdateLine(LONG lLinePos);
// 0 when the call may do one of dwFeatures now; LINEERR_OPERATIONUNAVAIL when
// its line never can, LINEERR_OPERATIONFAILED when the call cannot in its state.
LONG CheckTSPICommandCallFeatures(LONG lPosActor, LONG lPosCallActor, DWORD dwFeatures);
