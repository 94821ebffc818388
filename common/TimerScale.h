// The provider's timers, shortened for tests. The settings value
// TestTimeDivisor (REG_DWORD, for test systems only) is read once at start;
// every timer the provider waits out goes through ScaledMs and is divided by
// it. Missing, 0 or 1: the timers keep their production lengths.
#pragma once

#include "common/Types.h"

// A larger divisor is taken as this one.
constexpr DWORD kMaxTimerDivisor = 100;
// No timer is shortened below this many milliseconds (nor lengthened to it).
constexpr DWORD kMinScaledMs = 10;

// Sets the divisor the timers are divided by (at start, before any thread
// waits); the divisor in effect, after the bounds above.
DWORD SetTimerDivisor(DWORD dwDivisor);
DWORD TimerDivisor();

// dwMs divided by the divisor, never below dwFloorMs, never above dwMs.
DWORD ScaledMs(DWORD dwMs, DWORD dwFloorMs = kMinScaledMs);
