// The control block of one started thread: its stop flag and its wake event.
// Every start makes a new block, and no later start reuses it: a thread that
// outlives its provider run (a PBX request that would not give up in time)
// only ever sees its own block, stopped, and so never acts for the next run.
// The block lives as long as the thread or its starter holds it.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <utility>

#include "common/UniqueHandle.h"

class CThreadRun {
public:
    // Null when the wake event cannot be made.
    static std::shared_ptr<CThreadRun> Create(const wchar_t* pszName);

    const wchar_t* Name() const { return m_pszName; }
    // Whether the thread is still to go on: not asked to stop.
    bool Running() const { return m_lRun != 0; }
    // Waits dwMs or until woken; whether the thread is still to go on.
    bool Pause(DWORD dwMs) const;
    // Manual-reset; every wait of the thread watches it, its PBX requests too.
    HANDLE Wake() const { return m_wake.get(); }
    // Asks the thread to leave: the flag goes to 0 for good, the wake event is set.
    void AskToStop();

    CThreadRun(const wchar_t* pszName, UniqueHandle wake) : m_pszName(pszName), m_wake(std::move(wake)) {}

private:
    const wchar_t* m_pszName;
    volatile LONG m_lRun = 1;
    UniqueHandle m_wake;
};

using RunBody = std::function<void(CThreadRun& run)>;

// Starts body(run) on a thread of its own that holds a library reference
// (LibraryThreads.h) and names run's wake event as its stop event for PBX
// requests. The thread ends when the body returns. Its handle, or null when
// no thread could be created (GetLastError tells why).
HANDLE StartRunThread(const std::shared_ptr<CThreadRun>& run, RunBody body);

// Whether the calling thread may still act for the provider: true for
// tapisrv's threads, for a run thread only while its own run goes on. A run
// thread asks this under the ProviderLock before it touches lines or calls,
// and before it starts a thread.
bool CurrentThreadMayAct();
