#include "common/TimerScale.h"

namespace {
volatile LONG g_lTimerDivisor = 1;
}  // namespace

DWORD SetTimerDivisor(DWORD dwDivisor) {
    if (dwDivisor == 0) dwDivisor = 1;
    if (dwDivisor > kMaxTimerDivisor) dwDivisor = kMaxTimerDivisor;
    g_lTimerDivisor = static_cast<LONG>(dwDivisor);
    return dwDivisor;
}

DWORD TimerDivisor() { return static_cast<DWORD>(g_lTimerDivisor); }

DWORD ScaledMs(DWORD dwMs, DWORD dwFloorMs) {
    const DWORD dwDivisor = TimerDivisor();
    if (dwDivisor <= 1) return dwMs;
    const DWORD dwScaled = dwMs / dwDivisor;
    if (dwScaled >= dwFloorMs) return dwScaled;
    return dwFloorMs < dwMs ? dwFloorMs : dwMs;
}
