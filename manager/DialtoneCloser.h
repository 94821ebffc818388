// Idles a call left in dial tone (or still unknown): an outgoing call that no
// PBX event moved on within its wait, or what remains of one after another
// call of the line was answered. A closer belongs to the calls it was
// started for, named by record and serial: when it falls due it idles those
// of them still on the line in dial tone or unknown state, and leaves every
// other call alone, a call placed later on the same line included. A closer
// whose wait saw the event stream down ends nothing: the call's events may
// have been lost with the stream, so its calls are left to the check of calls
// not heard of after a reconnection (ServiceState.h). Closers wait on the
// request thread (RequestThreads.h); a provider shutdown drops them.
#pragma once

#include <windows.h>

#include <vector>

struct PhoneCall;

// One call as it was when the closer was set up. The record is only compared,
// never read, until it is found on the line again with the same serial.
struct CallIdentity {
    const PhoneCall* pCall;
    DWORD dwSerial;
};
using DialtoneCalls = std::vector<CallIdentity>;

// The calls of line dwLineID in dial tone or unknown state now (after a
// make-call: the call just made). The caller holds the ProviderLock.
DialtoneCalls DialtoneCallsOf(DWORD dwLineID);
// Their closer, due dwWaitTime plus 100 ms from now; no lock needed. A
// make-call starts the wait once its command has reached the PBX, so that
// commands queued behind others do not eat into it.
void StartDialtoneCloseRequest(DWORD dwLineID, DialtoneCalls calls, DWORD dwWaitTime);
// Both at once, for the calls of the line now. The caller holds the ProviderLock.
void StartDialtoneCloseRequest(DWORD dwLineID, DWORD dwWaitTime);
