// The guards of the library's function-local statics, with a slim lock and a
// condition variable of Windows' own. The C++ runtime's guards go through
// the statically linked pthread layer: their first use runs a pthread
// "once", which makes the calling thread known to that layer with a copy of
// its handle and an event, given back only when the thread ends. A
// telephony service thread that first met a static would keep those two
// handles after every unload of the library. These are the three functions
// the compiler calls around such a static's construction (the Itanium C++
// ABI, which GCC follows on Windows too): byte 0 of the 64-bit guard says
// "constructed", byte 1 "being constructed by some thread".
#include <windows.h>

#include <cstdint>

namespace {
SRWLOCK g_lock = SRWLOCK_INIT;
CONDITION_VARIABLE g_constructed = CONDITION_VARIABLE_INIT;

char* Flags(uint64_t* pGuard) { return reinterpret_cast<char*>(pGuard); }

void SetFlags(uint64_t* pGuard, char cConstructed, char cUnderWay) {
    AcquireSRWLockExclusive(&g_lock);
    __atomic_store_n(&Flags(pGuard)[0], cConstructed, __ATOMIC_RELEASE);
    Flags(pGuard)[1] = cUnderWay;
    ReleaseSRWLockExclusive(&g_lock);
    WakeAllConditionVariable(&g_constructed);
}
}  // namespace

// 1: the caller constructs the static now; 0: it is constructed already.
// A thread that finds another one constructing it waits until that is over.
extern "C" int __cxa_guard_acquire(uint64_t* pGuard) {
    if (__atomic_load_n(&Flags(pGuard)[0], __ATOMIC_ACQUIRE) != 0) return 0;
    AcquireSRWLockExclusive(&g_lock);
    int nConstruct = 0;
    for (;;) {
        if (Flags(pGuard)[0] != 0) break;
        if (Flags(pGuard)[1] == 0) {
            Flags(pGuard)[1] = 1;
            nConstruct = 1;
            break;
        }
        SleepConditionVariableSRW(&g_constructed, &g_lock, INFINITE, 0);
    }
    ReleaseSRWLockExclusive(&g_lock);
    return nConstruct;
}

extern "C" void __cxa_guard_release(uint64_t* pGuard) { SetFlags(pGuard, 1, 0); }

// The construction threw: the next thread to come tries again.
extern "C" void __cxa_guard_abort(uint64_t* pGuard) { SetFlags(pGuard, 0, 0); }
