// What ends a PBX request that is still waiting for the server: the provider
// stopping (one event for the whole process) or the calling thread being asked
// to stop (an event each background thread names for itself). A request ended
// this way gives up within moments with ERROR_WINHTTP_OPERATION_CANCELLED.
#pragma once

#include <windows.h>

// The provider's stop event; set by the manager at start-up.
void SetProcessStopEvent(HANDLE hEvent);
// The calling thread's own stop event, null for none.
void SetThreadStopEvent(HANDLE hEvent);
// The stop events that concern the calling thread (0 to 2 of them).
DWORD CurrentStopEvents(HANDLE (&phEvents)[2]);

// Whether the calling thread holds a lock under which no PBX request may be
// made (the ProviderLock: its holders must never wait for the PBX). The
// manager installs the check; a request made inside such a lock is traced as
// an error, so that a fault of this kind shows in every log.
void SetForbiddenLockCheck(bool (*pfnHeld)());
bool CallerHoldsForbiddenLock();
