#include "model/ProviderLock.h"

#include "log/Trace.h"
#include "model/EventOutbox.h"

CRITICAL_SECTION ProviderLock;
volatile DWORD g_dwLockOwner = 0;

namespace {
// How often the current holder has entered; only the holder touches it.
LONG g_lHoldDepth = 0;

void TraceLockBegin(DWORD dwOwnerCode) {
    Trace(6, L"CS_BEGIN %d (%d)", static_cast<int>(dwOwnerCode), static_cast<int>(g_dwLockOwner));
}

void Entered(DWORD dwOwnerCode) {
    ++g_lHoldDepth;
    g_dwLockOwner = dwOwnerCode;
}
}  // namespace

void InitProviderLock() { InitializeCriticalSection(&ProviderLock); }

void DeleteProviderLock() { DeleteCriticalSection(&ProviderLock); }

void EnterProviderLock(DWORD dwOwnerCode) {
    TraceLockBegin(dwOwnerCode);
    EnterCriticalSection(&ProviderLock);
    Entered(dwOwnerCode);
}

void LeaveProviderLock(DWORD dwOwnerCode) {
    Trace(6, L"CS_END %d (%d)", static_cast<int>(dwOwnerCode), static_cast<int>(g_dwLockOwner));
    const bool bOutermost = --g_lHoldDepth == 0;
    // Queued in the order the holds end, told once the lock is free.
    if (bOutermost) ReleaseHeldMessages();
    LeaveCriticalSection(&ProviderLock);
    g_dwLockOwner = 0;
    if (bOutermost) TellQueuedMessages();
}

bool TryEnterProviderLock(DWORD dwOwnerCode, DWORD dwTimeoutMs) {
    for (DWORD dwWaited = 0;; dwWaited += 10) {
        if (TryEnterCriticalSection(&ProviderLock)) {
            TraceLockBegin(dwOwnerCode);
            Entered(dwOwnerCode);
            return true;
        }
        if (dwWaited >= dwTimeoutMs) return false;
        Sleep(10);
    }
}

bool ProviderLockHeldBy(DWORD dwThreadId) {
    return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(ProviderLock.OwningThread)) == dwThreadId;
}
