#include "http/RequestStop.h"

namespace {
HANDLE g_hProcessStop = nullptr;
thread_local HANDLE t_hThreadStop = nullptr;
bool (*g_pfnForbiddenLockHeld)() = nullptr;
}  // namespace

void SetProcessStopEvent(HANDLE hEvent) { g_hProcessStop = hEvent; }

void SetThreadStopEvent(HANDLE hEvent) { t_hThreadStop = hEvent; }

DWORD CurrentStopEvents(HANDLE (&phEvents)[2]) {
    DWORD dwCount = 0;
    if (g_hProcessStop != nullptr) phEvents[dwCount++] = g_hProcessStop;
    if (t_hThreadStop != nullptr) phEvents[dwCount++] = t_hThreadStop;
    return dwCount;
}

void SetForbiddenLockCheck(bool (*pfnHeld)()) { g_pfnForbiddenLockHeld = pfnHeld; }

bool CallerHoldsForbiddenLock() { return g_pfnForbiddenLockHeld != nullptr && g_pfnForbiddenLockHeld(); }
