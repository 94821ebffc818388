// A lock and a condition of Windows' own, for the provider's process-wide
// tables that threads wait on. std::mutex and std::condition_variable come
// from the statically linked pthread layer here: a contended one keeps an
// event or semaphores it only gives back when destroyed, and a wait makes
// the waiting thread known to that layer with a copy of its handle, freed
// when the thread ends. The telephony service loads and unloads the library
// again and again, and threads end after the unload (FreeLibraryAndExitThread):
// each cycle would leave those handles behind. A slim lock and a condition
// variable hold no handle at all.
#pragma once

#include <windows.h>

#include <chrono>
#include <mutex>

// Usable with std::lock_guard and std::unique_lock. Not re-entrant.
class SlimMutex {
public:
    SlimMutex() = default;
    SlimMutex(const SlimMutex&) = delete;
    SlimMutex& operator=(const SlimMutex&) = delete;

    void lock() { AcquireSRWLockExclusive(&m_lock); }
    bool try_lock() { return TryAcquireSRWLockExclusive(&m_lock) != FALSE; }
    void unlock() { ReleaseSRWLockExclusive(&m_lock); }

private:
    friend class SlimCondition;
    SRWLOCK m_lock = SRWLOCK_INIT;
};

// Re-entrant, for a lock a thread may take again while it holds it. A
// critical section keeps a semaphore only once it was contended, and gives
// it back when the object goes (with the library, for a static one).
class SlimRecursiveMutex {
public:
    SlimRecursiveMutex() { InitializeCriticalSection(&m_section); }
    ~SlimRecursiveMutex() { DeleteCriticalSection(&m_section); }
    SlimRecursiveMutex(const SlimRecursiveMutex&) = delete;
    SlimRecursiveMutex& operator=(const SlimRecursiveMutex&) = delete;

    void lock() { EnterCriticalSection(&m_section); }
    bool try_lock() { return TryEnterCriticalSection(&m_section) != FALSE; }
    void unlock() { LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section;
};

class SlimCondition {
public:
    SlimCondition() = default;
    SlimCondition(const SlimCondition&) = delete;
    SlimCondition& operator=(const SlimCondition&) = delete;

    void notify_all() { WakeAllConditionVariable(&m_condition); }

    // Waits until pred holds; the lock is held whenever pred is asked.
    template <typename Pred>
    void wait(std::unique_lock<SlimMutex>& lock, Pred pred) {
        while (!pred()) SleepConditionVariableSRW(&m_condition, &lock.mutex()->m_lock, INFINITE, 0);
    }

    // As wait, for at most the given time: whether pred holds at the end.
    template <typename Rep, typename Period, typename Pred>
    bool wait_for(std::unique_lock<SlimMutex>& lock, std::chrono::duration<Rep, Period> timeout, Pred pred) {
        const ULONGLONG qwEnd =
            GetTickCount64() + std::chrono::duration_cast<std::chrono::milliseconds>(timeout).count();
        while (!pred()) {
            const ULONGLONG qwNow = GetTickCount64();
            if (qwNow >= qwEnd) return false;
            SleepConditionVariableSRW(&m_condition, &lock.mutex()->m_lock, static_cast<DWORD>(qwEnd - qwNow), 0);
        }
        return true;
    }

private:
    CONDITION_VARIABLE m_condition = CONDITION_VARIABLE_INIT;
};
