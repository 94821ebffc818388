// The short-lived request threads: delayed replies and dial-tone closers.
// They run code of this library after the export that started them has
// returned, a dial-tone closer for half a minute. Each one holds a reference
// to the library, so that an unload never takes the code from under it. A
// provider shutdown voids the requests of the stopped provider: their waits
// end at once and they leave without acting.
#pragma once

#include <windows.h>

// Starts pfnProc(pParam) on a request thread of its own, which holds a
// library reference and is counted until it ends. hOwnThread (a field of the
// request pParam points to) receives the thread's handle before the thread
// runs; the thread hands it to EndRequestThread, its one way out. False when
// no thread could be created (GetLastError tells why): pParam is then still
// the caller's.
bool StartRequestThread(LPTHREAD_START_ROUTINE pfnProc, void* pParam, HANDLE& hOwnThread);

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
