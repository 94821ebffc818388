// The provider's long-running threads and the short-lived request threads:
//   event monitor   holds the PBX call event stream open (one at a time)
//   keep-alive      one-second tick: restarts the monitor after a network
//                   change, re-initialises on request of the dialog, and once
//                   a minute clears calls of extensions the PBX reports offline
//   network observer  raises a flag when the IP address table changes
//   reply request   completes an asynchronous TAPI request 100 ms later
#pragma once

#include <windows.h>

// Starting a running monitor restarts it; stopping ends it promptly, also
// while it waits for stream data, and never while it holds the ProviderLock.
void StartEventMonitor();
void StopEventMonitor();
// Starting a running keep-alive thread leaves it running: a re-initialisation
// runs on that very thread.
void StartKeepAlive();
void StopKeepAlive();
// Replaces the observer thread, if one runs, by a new one.
void RestartNetworkObserver();

HANDLE EventMonitorHandle();
HANDLE KeepAliveHandle();

// Completes TAPI request dwRequestID with lResult about 100 ms from now, on a
// thread of its own, so that the completion follows the export's return.
void StartReplyRequest(DWORD dwRequestID, LONG lResult);

// The network observer, stopped when the library unloads.
class CNwObserve {
public:
    virtual ~CNwObserve();
};
extern CNwObserve g_NwObserve;
