#include "manager/ThreadRun.h"

#include <new>
#include <utility>

#include "common/ThreadSlot.h"
#include "http/RequestStop.h"
#include "manager/LibraryThreads.h"

namespace {
ThreadSlot<CThreadRun*> t_pOwnRun;

struct RunStart {
    std::shared_ptr<CThreadRun> run;
    RunBody body;
};

void RunStarted(std::unique_ptr<RunStart> start) {
    CThreadRun& run = *start->run;
    t_pOwnRun.Set(&run);
    SetThreadStopEvent(run.Wake());
    start->body(run);
    SetThreadStopEvent(nullptr);
    t_pOwnRun.Set(nullptr);
}

DWORD WINAPI RunThread(LPVOID pParam) {
    // The block is let go of before the thread ends: ExitLibraryThread does not return.
    RunStarted(std::unique_ptr<RunStart>(static_cast<RunStart*>(pParam)));
    ExitLibraryThread();
}
}  // namespace

std::shared_ptr<CThreadRun> CThreadRun::Create(const wchar_t* pszName) {
    UniqueHandle wake(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!wake) return nullptr;
    try {
        return std::make_shared<CThreadRun>(pszName, std::move(wake));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool CThreadRun::Pause(DWORD dwMs) const {
    WaitForSingleObject(m_wake.get(), dwMs);
    return Running();
}

void CThreadRun::AskToStop() {
    InterlockedExchange(&m_lRun, 0);
    SetEvent(m_wake.get());
}

HANDLE StartRunThread(const std::shared_ptr<CThreadRun>& run, RunBody body) {
    std::unique_ptr<RunStart> start(new (std::nothrow) RunStart{run, std::move(body)});
    if (!start) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    HANDLE hThread = CreateLibraryThread(RunThread, start.get(), nullptr);
    if (hThread == nullptr) return nullptr;
    start.release();  // the thread owns it from here on
    ResumeThread(hThread);
    return hThread;
}

bool CurrentThreadMayAct() {
    const CThreadRun* pOwnRun = t_pOwnRun.Get();
    return pOwnRun == nullptr || pOwnRun->Running();
}
