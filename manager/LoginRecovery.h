// Logins that failed are tried again in the background: the keep-alive tick
// re-runs the initialisation once the back-off pause after the last failure
// has passed (about 1 s, doubling up to 30 s), so that lines that could not
// be had at start-up still arrive, without a restart. Refused credentials are
// not tried again: only a new decision about them brings the next login.
#pragma once

#include <windows.h>

// The outcome of InitResource's login. A failure schedules the next try and
// returns the pause before it in milliseconds; a success cancels retries (0).
DWORD NoteLoginOutcome(bool bLoggedIn);
// The PBX refused the credentials: nothing is tried again on its own, and a
// retry still pending is dropped (pbx/SessionState.h).
void NoteLoginRefused();
// True once per failure, when its pause has passed (the keep-alive tick).
bool LoginRetryDue();
// A failed login waits for its next try: the directory is not worth asking for meanwhile.
bool LoginRetryPending();
