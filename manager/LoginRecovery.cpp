#include "manager/LoginRecovery.h"

#include <mutex>

#include "common/Backoff.h"
#include "common/SlimLock.h"
#include "common/TimerScale.h"

namespace {
struct CLoginRecovery {
    // Fifth in the lock order (model/ProviderLock.h): nothing else is taken
    // while it is held.
    SlimMutex lock;
    CBackoff backoff{ScaledMs(kPbxRetryFirstMs), ScaledMs(kPbxRetryMaxMs), GetTickCount() ^ GetCurrentProcessId()};
    ULONGLONG qwDue = 0;  // tick count of the next try; 0: none pending
};

CLoginRecovery& Recovery() {
    static CLoginRecovery recovery;
    return recovery;
}
}  // namespace

DWORD NoteLoginOutcome(bool bLoggedIn) {
    CLoginRecovery& recovery = Recovery();
    std::lock_guard<SlimMutex> guard(recovery.lock);
    if (bLoggedIn) {
        recovery.backoff.Reset();
        recovery.qwDue = 0;
        return 0;
    }
    const DWORD dwDelay = recovery.backoff.NextDelay();
    recovery.qwDue = GetTickCount64() + dwDelay;
    return dwDelay;
}

// As after a success, nothing is pending, and a later failure starts at the first pause.
void NoteLoginRefused() { NoteLoginOutcome(true); }

bool LoginRetryDue() {
    CLoginRecovery& recovery = Recovery();
    std::lock_guard<SlimMutex> guard(recovery.lock);
    if (recovery.qwDue == 0 || GetTickCount64() < recovery.qwDue) return false;
    recovery.qwDue = 0;
    return true;
}

bool LoginRetryPending() {
    CLoginRecovery& recovery = Recovery();
    std::lock_guard<SlimMutex> guard(recovery.lock);
    return recovery.qwDue != 0;
}
