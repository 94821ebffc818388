// Idles a call left in dial tone (or still unknown): an outgoing call that no
// PBX event moved on within its wait, or what remains of one after another
// call of the line was answered. A closer belongs to the calls it was
// started for, named by record and serial: when it falls due it idles those
// of them still on the line in dial tone or unknown state, and leaves every
// other call alone, a call placed later on the same line included. Closers
// wait on the request thread (RequestThreads.h); a provider shutdown drops them.
#pragma once

#include <windows.h>

// For the calls of line dwLineID in dial tone or unknown state now (after a
// make-call: the call just made, the only one the line may have). The wait
// is dwWaitTime plus 100 ms. The caller holds the ProviderLock.
void StartDialtoneCloseRequest(DWORD dwLineID, DWORD dwWaitTime);
