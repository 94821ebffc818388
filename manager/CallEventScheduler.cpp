#include "manager/CallEventScheduler.h"

#include <functional>
#include <memory>
#include <mutex>
#include <queue>
#include <unordered_map>
#include <vector>

#include "common/SlimLock.h"
#include "common/UniqueHandle.h"
#include "log/Trace.h"
#include "manager/LibraryThreads.h"
#include "model/EventOutbox.h"
#include "model/ProviderLock.h"

namespace {
struct Job {
    LONG lLinePos;
    std::wstring uuid;
    CEventSteps steps;
    HANDLE hDone;  // set when the event is over or dropped; null when nobody waits
    ULONGLONG qwSeq;
    bool bStarted = false;
};

// A running event whose next entry is due at qwDue; equal times keep posting order.
struct DueJob {
    ULONGLONG qwDue;
    ULONGLONG qwSeq;
    Job* pJob;
    bool operator>(const DueJob& other) const {
        return qwDue != other.qwDue ? qwDue > other.qwDue : qwSeq > other.qwSeq;
    }
};

SlimMutex g_Mutex;
using CSchedulerGuard = std::unique_lock<SlimMutex>;
SlimCondition g_Room;  // an event is over, or a stop
// Per line and per PBX call, the events not yet over in posting order; an
// event runs when it is first in both. Each holds only events of g_Jobs, and
// an empty queue is erased.
std::unordered_map<LONG, std::deque<Job*>> g_LineQueues;
std::unordered_map<std::wstring, std::deque<Job*>> g_CallQueues;
// The started events, at most one entry each.
std::priority_queue<DueJob, std::vector<DueJob>, std::greater<>> g_Due;
// Owns every event not yet over, by sequence number; the queues point into
// it. At most kMaxCallEvents (CallEventScheduler.h).
std::unordered_map<ULONGLONG, std::unique_ptr<Job>> g_Jobs;
ULONGLONG g_qwNextSeq = 0;
HANDLE g_hThread = nullptr;
HANDLE g_hWake = nullptr;  // auto-reset: something was queued, or a stop
// Set while the delivery thread waits on g_hWake or is about to: only then
// does a post wake it. A burst is posted while the thread is busy, and a
// wake-up per event would cost a trip to the wine server each.
bool g_bDeliveryWaits = false;
volatile LONG g_lStop = 0;
CallEventClock g_pfnClock = nullptr;

ULONGLONG SteadyMilliseconds() {
    // The performance counter: the tick count moves in steps of up to 16 ms
    // on Windows, which would cut pauses short.
    static const LONGLONG llFrequency = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return frequency.QuadPart;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<ULONGLONG>(counter.QuadPart / llFrequency * 1000 + counter.QuadPart % llFrequency * 1000 / llFrequency);
}

ULONGLONG Now() {
    CallEventClock pfnClock = g_pfnClock;
    return pfnClock != nullptr ? pfnClock() : SteadyMilliseconds();
}

// With g_Mutex held: starts the event if it is first for its line and its call.
void StartIfFirst(Job* pJob) {
    if (pJob->bStarted || g_LineQueues[pJob->lLinePos].front() != pJob || g_CallQueues[pJob->uuid].front() != pJob)
        return;
    pJob->bStarted = true;
    g_Due.push(DueJob{Now(), pJob->qwSeq, pJob});
}

template <typename Key>
void RemoveFront(std::unordered_map<Key, std::deque<Job*>>& queues, const Key& key) {
    auto entry = queues.find(key);
    entry->second.pop_front();
    if (entry->second.empty()) {
        queues.erase(entry);
    } else {
        StartIfFirst(entry->second.front());
    }
}

void Release(Job* pJob) {
    if (pJob->hDone != nullptr) SetEvent(pJob->hDone);
    g_Jobs.erase(pJob->qwSeq);
    g_Room.notify_all();
}

// With g_Mutex held: the event is over; the next ones of its line and call may start.
void Finish(Job* pJob) {
    const LONG lLinePos = pJob->lLinePos;
    const std::wstring uuid = pJob->uuid;
    Release(pJob);
    RemoveFront(g_LineQueues, lLinePos);
    RemoveFront(g_CallQueues, uuid);
}

// The ProviderLock, unless a stop comes first: a shutdown holds the lock
// while it waits for this thread to end. The holders of the lock keep it
// briefly, so the thread first only yields before it sleeps.
bool EnterProviderLockUnlessStopped() {
    constexpr int kYields = 64;
    for (int nTry = 0; !TryEnterProviderLock(LockOwner::DispatchEvents, 0); ++nTry) {
        if (g_lStop != 0) return false;
        if (nTry < kYields) SwitchToThread();
        else Sleep(1);
    }
    return true;
}

// Runs the event's steps up to its next pause, then queues it again for
// when that pause is over, or finishes it.
void Serve(Job* pJob) {
    if (!pJob->steps.Empty() && pJob->steps.PauseInFront() == 0) {
        // While TAPI is far behind with the messages raised so far, no more are raised.
        while (g_lStop == 0 && !WaitForMessageBacklog(100)) {
        }
        if (!EnterProviderLockUnlessStopped()) return;
        while (!pJob->steps.Empty() && pJob->steps.PauseInFront() == 0) pJob->steps.TakeFront()(pJob->steps);
        LeaveProviderLock(LockOwner::DispatchEvents);
    }
    CSchedulerGuard guard(g_Mutex);
    if (pJob->steps.Empty()) return Finish(pJob);
    const DWORD dwPauseMs = pJob->steps.PauseInFront();
    pJob->steps.TakeFront();
    g_Due.push(DueJob{Now() + dwPauseMs, pJob->qwSeq, pJob});
}

DWORD WINAPI DeliveryThread(LPVOID) {
    CFuncTrace trace(5, L"CallEventDeliveryThread", TracePrefix::None);
    for (;;) {
        Job* pJob = nullptr;
        DWORD dwWaitMs = INFINITE;
        {
            CSchedulerGuard guard(g_Mutex);
            if (g_lStop != 0) break;
            if (!g_Due.empty()) {
                const ULONGLONG qwNow = Now();
                if (g_Due.top().qwDue <= qwNow) {
                    pJob = g_Due.top().pJob;
                    g_Due.pop();
                } else {
                    dwWaitMs = static_cast<DWORD>(g_Due.top().qwDue - qwNow);
                }
            }
            g_bDeliveryWaits = pJob == nullptr;
        }
        if (pJob != nullptr) Serve(pJob);
        else WaitForSingleObject(g_hWake, dwWaitMs);
    }
    trace.End();
    ExitLibraryThread();
}

// With g_Mutex held. The thread holds a reference to the library, so that an
// unload without a provider shutdown never takes its code away.
bool EnsureDeliveryThread() {
    if (g_hThread != nullptr) return true;
    // A stop under way: a thread started now would end at once and leave
    // its handle behind as the scheduler's thread.
    if (g_lStop != 0) return false;
    // Made once and closed at unload: a reload of the library makes its own.
    static const UniqueHandle wake(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    g_hWake = wake.get();
    if (g_hWake == nullptr) return false;
    g_hThread = CreateLibraryThread(DeliveryThread, nullptr, nullptr);
    if (g_hThread == nullptr) {
        Trace(0, L"Func.CallEventScheduler.Error.CreateThread %u", GetLastError());
        return false;
    }
    ResumeThread(g_hThread);
    return true;
}

// With g_Mutex held: waits for room unless the caller holds the ProviderLock.
void WaitForRoom(CSchedulerGuard& guard) {
    if (g_Jobs.size() < kMaxCallEvents) return;
    if (ProviderLockHeldBy(GetCurrentThreadId())) {
        Trace(0, L"Func.CallEventScheduler.Warning.%u events waiting, one more queued inside the lock",
              static_cast<DWORD>(g_Jobs.size()));
        return;
    }
    Trace(0, L"Func.CallEventScheduler.Warning.%u events waiting, the poster waits for room",
          static_cast<DWORD>(g_Jobs.size()));
    g_Room.wait(guard, [] { return g_Jobs.size() < kMaxCallEvents || g_lStop != 0; });
}

void Post(LONG lLinePos, const std::wstring& uuid, CEventSteps::Step first, HANDLE hDone) {
    bool bWake = false;
    {
        CSchedulerGuard guard(g_Mutex);
        WaitForRoom(guard);
        if (!EnsureDeliveryThread()) {
            Trace(0, L"Func.CallEventScheduler.Error.Event dropped, no delivery thread");
            if (hDone != nullptr) SetEvent(hDone);
            return;
        }
        std::unique_ptr<Job>& owned = g_Jobs[g_qwNextSeq];
        owned.reset(new Job{lLinePos, uuid, {}, hDone, g_qwNextSeq++});
        Job* pJob = owned.get();
        pJob->steps.Then(std::move(first));
        g_LineQueues[lLinePos].push_back(pJob);
        g_CallQueues[uuid].push_back(pJob);
        StartIfFirst(pJob);
        bWake = g_bDeliveryWaits;
        g_bDeliveryWaits = false;
    }
    if (bWake) SetEvent(g_hWake);
}
}  // namespace

CEventSteps::Step CEventSteps::TakeFront() {
    Step step = std::move(m_entries.front().step);
    m_entries.pop_front();
    return step;
}

size_t CallEventsNotOver() {
    CSchedulerGuard guard(g_Mutex);
    return g_Jobs.size();
}

void PostCallEvent(LONG lLinePos, const std::wstring& uuid, CEventSteps::Step first) {
    Post(lLinePos, uuid, std::move(first), nullptr);
}

void RunCallEvent(LONG lLinePos, const std::wstring& uuid, CEventSteps::Step first) {
    if (ProviderLockHeldBy(GetCurrentThreadId())) {
        // The delivery thread could not take the lock before this caller
        // lets go of it: the event runs here, its pauses inside the caller's lock.
        CEventSteps steps;
        steps.Then(std::move(first));
        while (!steps.Empty()) {
            const DWORD dwPauseMs = steps.PauseInFront();
            CEventSteps::Step step = steps.TakeFront();
            if (step) step(steps);
            else Sleep(dwPauseMs);
        }
        return;
    }
    const UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!done) return Trace(0, L"Func.RunCallEvent.Error.CreateEvent %u", GetLastError());
    Post(lLinePos, uuid, std::move(first), done.get());
    WaitForSingleObject(done.get(), INFINITE);
}

void StopCallEventScheduler() {
    CFuncTrace trace(2, L"StopCallEventScheduler");
    UniqueHandle thread;
    {
        CSchedulerGuard guard(g_Mutex);
        thread.reset(g_hThread);
        g_hThread = nullptr;
        InterlockedExchange(&g_lStop, 1);
        g_Room.notify_all();
    }
    if (thread) {
        SetEvent(g_hWake);
        // It leaves between two steps; a step is never cut short.
        if (GetThreadId(thread.get()) != GetCurrentThreadId()) WaitForSingleObject(thread.get(), INFINITE);
        thread.reset();
    }
    CSchedulerGuard guard(g_Mutex);
    size_t nDropped = 0;
    for (auto& [lLinePos, jobs] : g_LineQueues) {
        for (Job* pJob : jobs) Release(pJob);
        nDropped += jobs.size();
    }
    g_LineQueues.clear();
    g_CallQueues.clear();
    g_Due = {};
    InterlockedExchange(&g_lStop, 0);
    trace.Var(L"dropped", L"%u", static_cast<DWORD>(nDropped));
    trace.End();
}

void SetCallEventClock(CallEventClock pfnNow) {
    {
        CSchedulerGuard guard(g_Mutex);
        g_pfnClock = pfnNow;
    }
    if (g_hWake != nullptr) SetEvent(g_hWake);
}
