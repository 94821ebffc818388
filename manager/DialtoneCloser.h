// Idles a call that is left in dial tone (or still unknown) on a line: an
// outgoing call that no PBX event moved on, or what remains of one after
// another call of the line was answered. Each request has a thread of its
// own, which waits, then takes the ProviderLock. A provider shutdown voids
// the waiting requests.
#pragma once

#include <windows.h>

struct DialtoneCloseRequest {
    DWORD m_dwWaitTime;  // milliseconds before the line is looked at (plus 100)
    DWORD m_dwLineID;    // line index
    HANDLE m_hThread;    // the thread serving the request; it closes the handle itself
    LONG m_lGeneration;  // the provider run it belongs to (RequestThreads.h)
};

// Serves one request and frees it.
DWORD WINAPI AsyncCloseUnknownDialtoneThread(LPVOID pParam);

// Starts a request for a line. Nothing starts when the request cannot be
// allocated or its thread cannot be created.
void StartDialtoneCloseRequest(DWORD dwLineID, DWORD dwWaitTime);
