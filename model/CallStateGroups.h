// Groups of call states (LINECALLSTATE_* masks) that decide which call
// operations a line allows. The feature rules of the call model and the state
// checks of the call control exports ask the same questions, so they use the
// same groups.
#pragma once

#include <windows.h>

#include "common/TapiConstants.h"

// Every call state TAPI 2.x defines.
constexpr DWORD kAllCallStates =
    LINECALLSTATE_IDLE | LINECALLSTATE_OFFERING | LINECALLSTATE_ACCEPTED | LINECALLSTATE_DIALTONE |
    LINECALLSTATE_DIALING | LINECALLSTATE_RINGBACK | LINECALLSTATE_BUSY | LINECALLSTATE_SPECIALINFO |
    LINECALLSTATE_CONNECTED | LINECALLSTATE_PROCEEDING | LINECALLSTATE_ONHOLD | LINECALLSTATE_CONFERENCED |
    LINECALLSTATE_ONHOLDPENDCONF | LINECALLSTATE_ONHOLDPENDTRANSFER | LINECALLSTATE_DISCONNECTED |
    LINECALLSTATE_UNKNOWN;
// A conference being held or set up.
constexpr DWORD kConferencing = LINECALLSTATE_CONFERENCED | LINECALLSTATE_ONHOLDPENDCONF;
// With a call in one of these, a line answers no other call.
constexpr DWORD kBusyForAnswer = LINECALLSTATE_DIALTONE | LINECALLSTATE_DIALING | LINECALLSTATE_RINGBACK |
                                 LINECALLSTATE_CONNECTED | LINECALLSTATE_PROCEEDING | LINECALLSTATE_CONFERENCED |
                                 LINECALLSTATE_ONHOLDPENDCONF;
// With a call in one of these, a line neither holds a call nor sets up a transfer.
constexpr DWORD kHeldOrPending = LINECALLSTATE_DIALTONE | LINECALLSTATE_ONHOLD | LINECALLSTATE_CONFERENCED |
                                 LINECALLSTATE_ONHOLDPENDCONF | LINECALLSTATE_ONHOLDPENDTRANSFER;
// Held calls that a swap or a completed transfer takes back.
constexpr DWORD kHeld = LINECALLSTATE_ONHOLD | LINECALLSTATE_ONHOLDPENDTRANSFER;
// With a call in one of these, a line takes no held call back.
constexpr DWORD kActiveForUnhold = LINECALLSTATE_DIALING | LINECALLSTATE_RINGBACK | LINECALLSTATE_CONNECTED |
                                   LINECALLSTATE_PROCEEDING;
