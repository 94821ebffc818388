// The provider's long-running threads and the short-lived request threads:
//   event monitor   holds the PBX call event stream open (one at a time),
//                   reopening it with back-off when it fails or ends early
//   keep-alive      one-second tick: reconnects the monitor after a network
//                   change, re-initialises on request of the dialog or to
//                   retry a failed login, and once a minute clears calls of
//                   extensions the PBX reports offline
//   network observer  raises a flag when the IP address table changes
//   reply request   carries a TAPI request to the PBX and completes it
//
// Every one of them is stopped by asking: a stop sets its run flag to 0 and
// wakes each of its waits, its PBX requests included (http/RequestStop.h), so
// that it leaves within moments. Each holds a reference to the library while
// it runs (LibraryThreads.h). Starting and stopping is serialised by the slot
// lock, which is taken after the ProviderLock and never held while waiting
// for a thread (model/ProviderLock.h gives the whole order).
#pragma once

#include <windows.h>

#include <functional>

// The event that tells every waiting PBX request of the provider to give up;
// set from the moment the provider stops until it is started again.
HANDLE ProviderStopEvent();
// A new provider run: the stop of the last one is over (TSPI_providerEnumDevices).
void BeginProviderRun();

// Starts the event monitor; one that runs already reopens its stream at once,
// with the token and settings of now.
void StartEventMonitor();
// Makes the running monitor drop its stream, wait dwPauseMs and reopen it.
void ReconnectEventMonitor(DWORD dwPauseMs);
// Starting a running keep-alive thread leaves it running: a re-initialisation
// runs on that very thread.
void StartKeepAlive();
// Starts the network observer unless one runs.
void StartNetworkObserver();

// Asks every background thread to stop, all at once, and sets the provider's
// stop event; returns without waiting. Nothing starts again until
// BeginProviderRun.
void AskBackgroundThreadsToStop();
// Waits until every thread asked to stop has ended (at most dwTimeoutMs; one
// that has not is traced and left to end by itself, never killed).
void WaitForBackgroundThreads(DWORD dwTimeoutMs);

HANDLE EventMonitorHandle();
HANDLE KeepAliveHandle();

// Completes TAPI request dwRequestID on a thread of its own, about 100 ms
// from now at the earliest, so that the completion follows the export's
// return. The command, when there is one, runs first on that thread, outside
// every lock, and its result is the request's; without one it is lResult.
void StartReplyRequest(DWORD dwRequestID, LONG lResult);
void StartReplyRequest(DWORD dwRequestID, std::function<LONG()> command);

// The network observer's owner at unload. The observer is stopped with the
// other threads at provider shutdown; at unload there is nothing left to stop.
class CNwObserve {
public:
    virtual ~CNwObserve();
};
extern CNwObserve g_NwObserve;
