// Whether the PBX can be reached, as the lines show it. The event stream
// decides: while it is open the lines are in service; once it has been down
// (not reopened, or no token to reopen it with) for longer than a short grace
// period, every line goes out of service, until a stream is answered again.
// A quick reconnect shows nothing. Credentials the PBX refused put the lines
// out of service at once, until a login succeeds again, and the login state
// says so.
//
// Calls left over from before a reconnection: the PBX is asked to send what
// was missed ("Last-Event-ID"), but one that cannot may have ended calls
// meanwhile. A call that was on a line when the stream opened again, and of
// which the new stream has said nothing for kStaleCallSettleMs, is ended
// (disconnected, then idle) only when a directory read made after that time
// shows its extension's presence "idle" or "offline". Any other presence, or
// none, keeps it: silence is no evidence that a call ended (its drop, which
// the PBX answers 404, ends it then). A failed read ends nothing.
#pragma once

#include <windows.h>

constexpr DWORD kOutOfServiceGraceMs = 10000;
// Shortened for tests (common/TimerScale.h), the grace still leaves a
// reconnect time to finish: its connection and login do not get shorter.
constexpr DWORD kMinScaledGraceMs = 2000;
constexpr DWORD kStaleCallSettleMs = 10000;

// A new run of the provider: the PBX counts as reachable, nothing pending.
void ResetServiceState();
// The event monitor: a stream was answered (its thread, no lock held).
void NoteStreamOpened();
// The event monitor: the stream ended or could not be opened.
void NoteStreamDown();
// How often the stream went down since the library was loaded; with
// StreamIsOpen it tells whether the stream stayed open through a wait.
ULONGLONG StreamDowns();
bool StreamIsOpen();
// The keep-alive tick: puts the lines out of service once the grace period
// has passed or the credentials were refused, and checks calls left over from
// before a reconnection once they are due. Takes the ProviderLock only for
// the lines, never around a PBX request.
void CheckServiceState();
