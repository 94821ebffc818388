// Whether a line can be used: out of service while the PBX cannot be reached.
#pragma once

#include <windows.h>

// Puts a line in or out of service: m_bOutOfService (call operations are
// refused while it is set), LINEDEVSTATUSFLAGS_INSERVICE of its status, and,
// on an open line whose status-message mask asks for it, LINE_LINEDEVSTATE
// with LINEDEVSTATE_INSERVICE or LINEDEVSTATE_OUTOFSERVICE. A line already in
// that state hears nothing. The caller holds the ProviderLock.
void SetLineInService(LONG lLinePos, bool bInService);
