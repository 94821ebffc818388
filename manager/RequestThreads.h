// The short-lived request threads: delayed replies and dial-tone closers.
// They run code of this library after the export that started them has
// returned, a dial-tone closer for half a minute. Each one holds a reference
// to the library, so that an unload never takes the code from under it. A
// provider shutdown voids the requests of the stopped provider: their waits
// end at once and they leave without acting.
#pragma once

#include <windows.h>

// Creates a suspended request thread that holds a library reference; null
// when it could not be created. The thread ends with EndRequestThread.
HANDLE CreateRequestThread(LPTHREAD_START_ROUTINE pfnProc, void* pParam);

// Identifies the provider run a request belongs to.
LONG CurrentRequestGeneration();
// Waits dwMs unless the provider shuts down first. True while the request's
// provider run goes on.
bool WaitInRequest(DWORD dwMs, LONG lGeneration);
bool RequestStillValid(LONG lGeneration);

// Closes the thread's own handle and releases its library reference.
[[noreturn]] void EndRequestThread(HANDLE hOwnThread);

// At provider shutdown: voids the running requests, wakes their waits and
// gives their threads up to a second to end.
void EndRequestThreads();
