// The wall clock that the benchmark compares with the PBX simulator's.
//
// GetSystemTimePreciseAsFileTime under Wine reads the Linux CLOCK_REALTIME
// (clock_gettime), the clock behind Python's time.time() in the simulator,
// which runs on the same machine. Both are therefore one clock, only counted
// from different epochs: 100 ns steps since 1601 here, seconds since 1970
// there. (GetSystemTimeAsFileTime would not do: Wine serves it from the
// coarse real-time clock, a few milliseconds behind.) The benchmark checks
// the offset between the two at every run.
#pragma once

#include <windows.h>

// FILETIME ticks (100 ns since 1601-01-01) now.
inline ULONGLONG WallClockTicks() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    return (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// Seconds since 1970-01-01 of FILETIME ticks, as Python's time.time() counts.
inline double UnixSeconds(ULONGLONG qwTicks) {
    constexpr ULONGLONG kTicksFrom1601To1970 = 116444736000000000ULL;
    return static_cast<double>(static_cast<LONGLONG>(qwTicks - kTicksFrom1601To1970)) / 1e7;
}
