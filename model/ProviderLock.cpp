#include "model/ProviderLock.h"

#include "log/Trace.h"

CRITICAL_SECTION ProviderLock;
volatile DWORD g_dwLockOwner = 0;

void InitProviderLock() { InitializeCriticalSection(&ProviderLock); }

void DeleteProviderLock() { DeleteCriticalSection(&ProviderLock); }

namespace {
void TraceLockBegin(DWORD dwOwnerCode) {
    Trace(6, L"CS_BEGIN %d (%d)", static_cast<int>(dwOwnerCode), static_cast<int>(g_dwLockOwner));
}
}  // namespace

void EnterProviderLock(DWORD dwOwnerCode) {
    TraceLockBegin(dwOwnerCode);
    EnterCriticalSection(&ProviderLock);
    g_dwLockOwner = dwOwnerCode;
}

void LeaveProviderLock(DWORD dwOwnerCode) {
    Trace(6, L"CS_END %d (%d)", static_cast<int>(dwOwnerCode), static_cast<int>(g_dwLockOwner));
    LeaveCriticalSection(&ProviderLock);
    g_dwLockOwner = 0;
}

bool TryEnterProviderLock(DWORD dwOwnerCode, DWORD dwTimeoutMs) {
    for (DWORD dwWaited = 0;; dwWaited += 10) {
        if (TryEnterCriticalSection(&ProviderLock)) {
            TraceLockBegin(dwOwnerCode);
            g_dwLockOwner = dwOwnerCode;
            return true;
        }
        if (dwWaited >= dwTimeoutMs) return false;
        Sleep(10);
    }
}

bool ProviderLockHeldBy(DWORD dwThreadId) {
    return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(ProviderLock.OwningThread)) == dwThreadId;
}
