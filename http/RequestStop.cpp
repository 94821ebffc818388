#include "http/RequestStop.h"

#include "common/ThreadSlot.h"

namespace {
HANDLE g_hProcessStop = nullptr;
ThreadSlot<HANDLE> t_hThreadStop;
bool (*g_pfnForbiddenLockHeld)() = nullptr;
}  // namespace

void SetProcessStopEvent(HANDLE hEvent) { g_hProcessStop = hEvent; }

void SetThreadStopEvent(HANDLE hEvent) { t_hThreadStop.Set(hEvent); }

DWORD CurrentStopEvents(HANDLE (&phEvents)[2]) {
    DWORD dwCount = 0;
    if (g_hProcessStop != nullptr) phEvents[dwCount++] = g_hProcessStop;
    if (HANDLE hThreadStop = t_hThreadStop.Get()) phEvents[dwCount++] = hThreadStop;
    return dwCount;
}

void SetForbiddenLockCheck(bool (*pfnHeld)()) { g_pfnForbiddenLockHeld = pfnHeld; }

bool CallerHoldsForbiddenLock() { return g_pfnForbiddenLockHeld != nullptr && g_pfnForbiddenLockHeld(); }
