// Logins that failed are tried again in the background: the keep-alive tick
// re-runs the initialisation once the back-off pause after the last failure
// has passed (about 1 s, doubling up to 30 s), so that lines that could not
// be had at start-up still arrive, without a restart.
#pragma once

#include <windows.h>

// The outcome of InitResource's login. A failure schedules the next try and
// returns the pause before it in milliseconds; a success cancels retries (0).
DWORD NoteLoginOutcome(bool bLoggedIn);
// True once per failure, when its pause has passed (the keep-alive tick).
bool LoginRetryDue();
// A failed login waits for its next try: the directory is not worth asking for meanwhile.
bool LoginRetryPending();
