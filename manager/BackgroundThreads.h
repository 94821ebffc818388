// The provider's long-running threads:
//   event monitor   holds the PBX call event stream open (one at a time),
//                   reopening it with back-off when it fails or ends early
//   keep-alive      one-second tick: reconnects the monitor after a network
//                   change, re-initialises on request of the dialog or to
//                   retry a failed login, and once a minute clears calls of
//                   extensions the PBX reports offline
//   network observer  raises a flag when the IP address table changes
// (The request thread, for completions and dial-tone closers, is in
// RequestThreads.h.)
//
// A run owns its threads: every start gives the thread a control block of
// its own (ThreadRun.h), which no later start reuses. A stop asks that block:
// its run flag goes to 0 and its wake event, which every wait of the thread
// and its PBX requests watch (http/RequestStop.h), is set, so that the thread
// leaves within moments. One that does not (a PBX request that would not give
// up) still acts on nothing: it looks at its own block before it touches
// lines, takes a request of the dialog or starts a thread, and a new event
// monitor waits until the earlier one has ended. Each thread holds a
// reference to the library while it runs (LibraryThreads.h). Starting and
// stopping is serialised by the slot lock, which is taken after the
// ProviderLock and never held while waiting for a thread
// (model/ProviderLock.h gives the whole order).
#pragma once

#include <windows.h>

// Completions of TAPI requests have a header of their own; it comes along.
#include "manager/DelayedReply.h"

// The event that tells every waiting PBX request of the provider to give up;
// set from the moment the provider stops until it is started again.
HANDLE ProviderStopEvent();
// A new provider run: the stop of the last one is over (TSPI_providerEnumDevices).
void BeginProviderRun();

// Starts the event monitor; one that runs already reopens its stream at once,
// with the token and settings of now. While a monitor of an earlier start
// still ends, the new one waits for it (the keep-alive tick starts it).
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
// that has not is traced and left to end by itself, never killed, and is
// looked at again by the next start of its kind).
void WaitForBackgroundThreads(DWORD dwTimeoutMs);

HANDLE EventMonitorHandle();
HANDLE KeepAliveHandle();

// The network observer's owner at unload. The observer is stopped with the
// other threads at provider shutdown; at unload there is nothing left to stop.
class CNwObserve {
public:
    virtual ~CNwObserve();
};
extern CNwObserve g_NwObserve;
