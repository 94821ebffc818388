#include "manager/RequestThreads.h"

#include <memory>
#include <mutex>
#include <new>
#include <queue>
#include <utility>
#include <vector>

#include "common/SlimLock.h"
#include "common/UniqueHandle.h"
#include "log/Trace.h"
#include "manager/BackgroundThreads.h"
#include "manager/ThreadRun.h"

namespace {
constexpr DWORD kEndWaitMs = 1000;

struct Entry {
    ULONGLONG qwDue;
    ULONGLONG qwSeq;
    std::function<void()> action;
};

// Earliest first; requests due at the same time keep the order they came in.
struct DueLater {
    bool operator()(const Entry& a, const Entry& b) const {
        return a.qwDue != b.qwDue ? a.qwDue > b.qwDue : a.qwSeq > b.qwSeq;
    }
};

// What one start of the request thread serves. A later start has its own:
// a thread that outlived its run finds only its own queue, dropped.
struct CRequestRun {
    std::shared_ptr<CThreadRun> run;
    UniqueHandle queued;  // auto-reset: a request came in
    UniqueHandle thread;
    SlimMutex lock;      // the entries; nothing is taken inside it
    std::priority_queue<Entry, std::vector<Entry>, DueLater> entries;
    ULONGLONG qwNextSeq = 0;
};

// Guards the current request run and the earlier threads; a run's own lock
// (its queue) is taken inside it. Fifth in the lock order
// (model/ProviderLock.h), after the ProviderLock; held briefly.
SlimMutex g_RunLock;
std::shared_ptr<CRequestRun> g_Current;
std::vector<UniqueHandle> g_Earlier;

bool ProviderStopping() { return WaitForSingleObject(ProviderStopEvent(), 0) == WAIT_OBJECT_0; }

// The next entry once it is due; else how long to wait for it.
bool TakeDue(CRequestRun& requests, std::function<void()>& action, DWORD& dwWaitMs) {
    std::lock_guard<SlimMutex> guard(requests.lock);
    dwWaitMs = INFINITE;
    if (requests.entries.empty()) return false;
    const ULONGLONG qwNow = GetTickCount64();
    const ULONGLONG qwDue = requests.entries.top().qwDue;
    if (qwDue > qwNow) {
        dwWaitMs = static_cast<DWORD>(qwDue - qwNow);
        return false;
    }
    // top() is const: the entry is copied out before it goes.
    action = requests.entries.top().action;
    requests.entries.pop();
    return true;
}

void ServeRequests(const std::shared_ptr<CRequestRun>& requests, CThreadRun& run) {
    CFuncTrace trace(5, L"RequestThread", TracePrefix::None);
    const HANDLE waits[] = {run.Wake(), requests->queued.get()};
    while (run.Running()) {
        std::function<void()> action;
        DWORD dwWaitMs = INFINITE;
        if (TakeDue(*requests, action, dwWaitMs)) {
            action();
            continue;
        }
        WaitForMultipleObjects(2, waits, FALSE, dwWaitMs);
    }
    trace.End();
}

// Under g_RunLock: the current run, started if there is none.
CRequestRun* CurrentRun(RequestQueued& failure) {
    if (g_Current) return g_Current.get();
    std::erase_if(g_Earlier, [](const UniqueHandle& thread) { return WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0; });
    std::shared_ptr<CRequestRun> requests(new (std::nothrow) CRequestRun);
    if (!requests) {
        failure = RequestQueued::NoMemory;
        return nullptr;
    }
    requests->run = CThreadRun::Create(L"RequestThread");
    requests->queued.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    HANDLE hThread = requests->run && requests->queued
                         ? StartRunThread(requests->run, [requests](CThreadRun& run) { ServeRequests(requests, run); })
                         : nullptr;
    if (hThread == nullptr) {
        Trace(0, L"Func.RequestThread.Error.CreateThread %u", GetLastError());
        failure = RequestQueued::NoThread;
        return nullptr;
    }
    requests->thread.reset(hThread);
    g_Current = std::move(requests);
    return g_Current.get();
}
}  // namespace

RequestQueued QueueRequest(DWORD dwDelayMs, std::function<void()> action) {
    std::lock_guard<SlimMutex> guard(g_RunLock);
    if (ProviderStopping() || !CurrentThreadMayAct()) return RequestQueued::Stopping;
    RequestQueued failure = RequestQueued::Yes;
    CRequestRun* pRequests = CurrentRun(failure);
    if (pRequests == nullptr) return failure;
    try {
        std::lock_guard<SlimMutex> entries(pRequests->lock);
        pRequests->entries.push(Entry{GetTickCount64() + dwDelayMs, pRequests->qwNextSeq++, std::move(action)});
    } catch (const std::bad_alloc&) {
        return RequestQueued::NoMemory;
    }
    SetEvent(pRequests->queued.get());
    return RequestQueued::Yes;
}

void EndRequestThreads() {
    std::shared_ptr<CRequestRun> ended;
    HANDLE hWait = nullptr;
    {
        std::lock_guard<SlimMutex> guard(g_RunLock);
        ended = std::move(g_Current);
        g_Current.reset();
        if (ended) {
            ended->run->AskToStop();
            // A thread never waits for itself.
            if (GetThreadId(ended->thread.get()) != GetCurrentThreadId()) hWait = ended->thread.get();
        }
    }
    if (!ended) return;
    {
        // Dropped now: what a request holds goes with it, also while the thread ends.
        std::lock_guard<SlimMutex> entries(ended->lock);
        ended->entries = {};
    }
    if (hWait != nullptr && WaitForSingleObject(hWait, kEndWaitMs) == WAIT_TIMEOUT)
        Trace(0, L"Func.EndRequestThreads.Warning.The request thread did not end in %u ms", kEndWaitMs);
    std::lock_guard<SlimMutex> guard(g_RunLock);
    try {
        g_Earlier.push_back(std::move(ended->thread));
    } catch (const std::bad_alloc&) {
        // Not kept: it still ends by itself, and holds the library meanwhile.
    }
}
