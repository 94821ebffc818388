#include "manager/BackgroundThreads.h"

#include <iphlpapi.h>

#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>

#include "common/Backoff.h"
#include "common/SlimLock.h"
#include "common/TimerScale.h"
#include "common/UniqueHandle.h"
#include "config/CSharedMem.h"
#include "config/ProviderSettings.h"
#include "config/Settings.h"
#include "http/CHTTPContactEvent.h"
#include "http/ProxySettings.h"
#include "http/RequestStop.h"
#include "log/Trace.h"
#include "manager/CGenericTSPIManager.h"
#include "manager/LibraryThreads.h"
#include "manager/LoginRecovery.h"
#include "manager/ServiceState.h"
#include "manager/ThreadRun.h"
#include "model/EventDelivery.h"
#include "model/LineTable.h"
#include "model/ProviderLock.h"
#include "model/ProviderState.h"
#include "pbx/EventStream.h"
#include "pbx/Session.h"

namespace {
constexpr DWORD kKeepAliveTickMs = 1000;
constexpr DWORD kNetworkChangePauseMs = 5000;  // before the stream is reopened after a network change
// The event stream's retries step as every PBX retry (common/Backoff.h). A
// stream that ends within kShortStreamMs of opening is a failure; one that
// held kHealthyStreamMs is reopened at once and clears the count.
constexpr DWORD kShortStreamMs = 5000;
constexpr DWORD kHealthyStreamMs = 60000;
// Shortened for tests, the idle limit stays long enough for a loaded machine.
constexpr DWORD kMinIdleTimeoutMs = 1000;

// Set by the network observer, cleared by the keep-alive thread.
volatile LONG g_lNetworkChanged = 0;
// Pause the monitor takes before it reopens its stream; -1: no reconnect asked.
volatile LONG g_lReconnectPauseMs = -1;

// One long-running thread. Each start gets a control block of its own
// (ThreadRun.h); the slot holds the current one while the thread is to run.
// A stop asks the block, and the thread's handle moves to the earlier
// threads, which are waited for and may outlive the wait (a PBX request that
// would not give up): they end by themselves, acting on nothing, since their
// block stays stopped. The event monitor alone never starts beside an
// earlier one, which would share its event client: its start waits, and the
// keep-alive tick tries it again.
struct CThreadSlot {
    const wchar_t* pszName;
    void (*pfnBody)(CThreadRun&);
    bool bAlone;  // never beside an earlier thread of the slot
    std::shared_ptr<CThreadRun> run;
    UniqueHandle thread;
    std::vector<UniqueHandle> earlier;
    bool bStartWaiting = false;

    HANDLE Wake() const { return run ? run->Wake() : nullptr; }
};

void EventMonitorBody(CThreadRun& run);
void KeepAliveBody(CThreadRun& run);
void NetworkObserverBody(CThreadRun& run);

CThreadSlot g_Monitor{L"EventMonitorThread", EventMonitorBody, true};
CThreadSlot g_KeepAlive{L"KeepAliveThread", KeepAliveBody, false};
CThreadSlot g_Observer{L"NetworkObserverThread", NetworkObserverBody, false};
CThreadSlot* const g_Slots[] = {&g_Monitor, &g_KeepAlive, &g_Observer};

// Serialises starting and stopping between tapisrv and the keep-alive thread.
// Fourth in the lock order (model/ProviderLock.h), after the ProviderLock;
// never held while waiting for a thread or the PBX.
SlimMutex g_SlotLock;
using CSlotLockGuard = std::lock_guard<SlimMutex>;

HANDLE StopEvent() {
    static const UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return event.get();
}

bool ProviderStopping() { return WaitForSingleObject(StopEvent(), 0) == WAIT_OBJECT_0; }

// Under g_SlotLock: the earlier threads that have ended are let go of.
void ForgetEndedThreads(CThreadSlot& slot) {
    std::erase_if(slot.earlier, [](const UniqueHandle& thread) {
        return WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0;
    });
}

// Under g_SlotLock. Nothing starts while the provider stops, nor on behalf
// of a thread whose own run is over.
void StartSlot(CThreadSlot& slot) {
    if (slot.thread || ProviderStopping()) return;
    if (!CurrentThreadMayAct()) {
        Trace(2, L"Func.CGenericTSPIManager::Start %s.Warning.Asked by a stopped thread", slot.pszName);
        return;
    }
    ForgetEndedThreads(slot);
    if (slot.bAlone && !slot.earlier.empty()) {
        if (!slot.bStartWaiting)
            Trace(0, L"Func.CGenericTSPIManager::Start %s.Warning.An earlier one still ends, the start waits", slot.pszName);
        slot.bStartWaiting = true;
        return;
    }
    std::shared_ptr<CThreadRun> run = CThreadRun::Create(slot.pszName);
    HANDLE hThread = run ? StartRunThread(run, slot.pfnBody) : nullptr;
    if (hThread == nullptr) {
        Trace(0, L"Func.CGenericTSPIManager::Start %s.Error.CreateThread %u", slot.pszName, GetLastError());
        return;
    }
    slot.run = std::move(run);
    slot.thread.reset(hThread);
    slot.bStartWaiting = false;
}

// Under g_SlotLock: the thread is asked to leave and will be waited for.
void AskToStop(CThreadSlot& slot) {
    slot.bStartWaiting = false;
    if (!slot.run) return;
    slot.run->AskToStop();
    slot.run.reset();
    try {
        slot.earlier.push_back(std::move(slot.thread));
    } catch (const std::bad_alloc&) {
        // Not waited for: it still ends by itself, and holds the library meanwhile.
        slot.thread.reset();
    }
}

// The monitor's PBX session: a token that is valid, renewed or had by a fresh login.
bool HaveAccessToken() { return ORVO_CheckAccessToken() != 0; }

// Stopped, or woken for a reconnect: not a failure of the PBX.
bool EndedByUs(const CHTTPContactBase& client) {
    return client.m_dwLastError == ERROR_WINHTTP_OPERATION_CANCELLED;
}

// What the stream tells of the PBX's reach counts only for the current run.
void NoteOpenedForRun() {
    if (CurrentThreadMayAct()) NoteStreamOpened();
}

void NoteDownForRun() {
    if (CurrentThreadMayAct()) NoteStreamDown();
}

void EventMonitorBody(CThreadRun& run) {
    // Its PBX requests give up when the monitor is asked to stop or reconnect.
    CFuncTrace trace(2, L"CGenericTSPIManager::EventMonitorThread", TracePrefix::None);
    CBackoff backoff(ScaledMs(kPbxRetryFirstMs), ScaledMs(kPbxRetryMaxMs), GetTickCount() ^ GetCurrentThreadId());
    auto retryLater = [&](const wchar_t* pszWhat, ULONGLONG qwHeldMs) {
        const DWORD dwDelay = backoff.NextDelay();
        trace.Warning(L"%s after %llu ms, next try in %u ms", pszWhat, qwHeldMs, dwDelay);
        run.Pause(dwDelay);
    };
    for (;;) {
        // Every wake is a stop or a reconnect; both are looked at here.
        ResetEvent(run.Wake());
        if (!run.Running()) break;
        const LONG lPauseMs = InterlockedExchange(&g_lReconnectPauseMs, -1);
        if (lPauseMs > 0) {
            trace.Info(L"Reconnect in %d ms", lPauseMs);
            if (!run.Pause(static_cast<DWORD>(lPauseMs))) break;
        }
        g_EventClient.m_dwIdleTimeoutMs = ScaledMs(g_dwStreamIdleTimeout * 1000, kMinIdleTimeoutMs);
        const ULONGLONG qwStart = GetTickCount64();
        if (!HaveAccessToken()) {
            NoteDownForRun();
            if (!EndedByUs(g_SessionClient)) retryLater(L"No valid token", GetTickCount64() - qwStart);
            continue;
        }
        const int nOpened = ORVO_ActivateCallMonitoring(&NoteOpenedForRun);
        const ULONGLONG qwHeldMs = GetTickCount64() - qwStart;
        NoteDownForRun();
        if (EndedByUs(g_EventClient)) continue;
        if (!nOpened) {
            retryLater(L"Stream not opened", qwHeldMs);
        } else if (qwHeldMs < ScaledMs(kShortStreamMs)) {
            retryLater(L"Stream ended", qwHeldMs);
        } else {
            if (qwHeldMs >= ScaledMs(kHealthyStreamMs)) backoff.Reset();
            trace.Info(L"Stream ended after %llu ms, reopened at once", qwHeldMs);
        }
    }
    trace.End();
}

// Whether the periodic directory read is due (keep-alive thread only). The
// period counts from the last read of the directory, a re-initialisation's included.
bool DirectoryRefreshDue(ULONGLONG& qwLastRead) {
    if (g_dwDirectoryRefreshSeconds == 0) return false;
    const ULONGLONG qwNow = GetTickCount64();
    if (qwNow - qwLastRead < ScaledMs(g_dwDirectoryRefreshSeconds * 1000)) return false;
    qwLastRead = qwNow;
    return true;
}

void StartWaitingMonitor();

// The one-second tick. Before each of its steps it makes sure that its run
// goes on, so that a keep-alive that outlived its run leaves the next one
// alone: it takes none of its requests and starts none of its threads.
void KeepAliveBody(CThreadRun& run) {
    ULONGLONG qwLastDirectoryRead = GetTickCount64();
    while (run.Pause(ScaledMs(kKeepAliveTickMs))) {
        StartWaitingMonitor();
        if (InterlockedExchange(&g_lNetworkChanged, 0) != 0) {
            Trace(2, L"CGenericTSPIManager::KeepAliveThread.Info.Reinit");
            ForgetProxySettings();
            ReconnectEventMonitor(ScaledMs(kNetworkChangePauseMs));
        }
        if (!run.Running()) break;
        // Login, directory and lines anew, as after the dialog's OK.
        if (InterlockedExchange(reinterpret_cast<volatile LONG*>(&g_pProviderSettings->ReinitRequested), 0) != 0) {
            Trace(2, L"CGenericTSPIManager::KeepAliveThread.Info.Reinit by config dialog");
            g_pManager->ReinitializeDevices(true);
            qwLastDirectoryRead = GetTickCount64();
        } else if (LoginRetryDue()) {
            Trace(2, L"CGenericTSPIManager::KeepAliveThread.Info.Reinit after failed login");
            g_pManager->ReinitializeDevices();
            qwLastDirectoryRead = GetTickCount64();
        } else if (!LoginRetryPending() && DirectoryRefreshDue(qwLastDirectoryRead)) {
            Trace(2, L"CGenericTSPIManager::KeepAliveThread.Info.Directory refresh");
            g_pManager->RefreshDirectory();
        }
        if (!run.Running()) break;
        CheckServiceState();
    }
}

void NetworkObserverBody(CThreadRun& run) {
    const UniqueHandle changed(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    OVERLAPPED overlapped = {};
    overlapped.hEvent = changed.get();
    HANDLE hNotify = nullptr;
    const HANDLE waits[] = {run.Wake(), overlapped.hEvent};
    NotifyAddrChange(&hNotify, &overlapped);
    run.Pause(1000);
    while (run.Running()) {
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) break;
        NotifyAddrChange(&hNotify, &overlapped);
        if (run.Running()) InterlockedExchange(&g_lNetworkChanged, 1);
    }
    CancelIPChangeNotify(&overlapped);
}
}  // namespace

HANDLE ProviderStopEvent() { return StopEvent(); }

void BeginProviderRun() {
    CSlotLockGuard slots(g_SlotLock);
    ResetEvent(StopEvent());
    ResetServiceState();
}

void StartEventMonitor() {
    CSlotLockGuard slots(g_SlotLock);
    if (!g_Monitor.thread) {
        // A reconnect asked of an earlier monitor is nothing to a new one.
        InterlockedExchange(&g_lReconnectPauseMs, -1);
        return StartSlot(g_Monitor);
    }
    if (!CurrentThreadMayAct()) return;
    InterlockedExchange(&g_lReconnectPauseMs, 0);
    SetEvent(g_Monitor.Wake());
}

namespace {
// A monitor start that waited for an earlier monitor to end, now that it has.
void StartWaitingMonitor() {
    CSlotLockGuard slots(g_SlotLock);
    if (!g_Monitor.bStartWaiting) return;
    InterlockedExchange(&g_lReconnectPauseMs, -1);
    StartSlot(g_Monitor);
}
}  // namespace

void ReconnectEventMonitor(DWORD dwPauseMs) {
    CSlotLockGuard slots(g_SlotLock);
    if (!g_Monitor.thread || !CurrentThreadMayAct()) return;
    InterlockedExchange(&g_lReconnectPauseMs, static_cast<LONG>(dwPauseMs));
    SetEvent(g_Monitor.Wake());
}

void StartKeepAlive() {
    CSlotLockGuard slots(g_SlotLock);
    StartSlot(g_KeepAlive);
}

void StartNetworkObserver() {
    CSlotLockGuard slots(g_SlotLock);
    StartSlot(g_Observer);
}

void AskBackgroundThreadsToStop() {
    CSlotLockGuard slots(g_SlotLock);
    SetEvent(StopEvent());
    for (CThreadSlot* pSlot : g_Slots) AskToStop(*pSlot);
}

void WaitForBackgroundThreads(DWORD dwTimeoutMs) {
    // Copies of the handles, so that the wait needs no lock.
    std::vector<UniqueHandle> waits;
    {
        CSlotLockGuard slots(g_SlotLock);
        for (CThreadSlot* pSlot : g_Slots) {
            for (const UniqueHandle& thread : pSlot->earlier) {
                // A thread never waits for itself: the keep-alive thread may be the one that stops the monitor.
                if (GetThreadId(thread.get()) == GetCurrentThreadId()) continue;
                HANDLE hCopy = nullptr;
                if (DuplicateHandle(GetCurrentProcess(), thread.get(), GetCurrentProcess(), &hCopy, SYNCHRONIZE,
                                    FALSE, 0))
                    waits.emplace_back(hCopy);
            }
        }
    }
    std::vector<HANDLE> handles;
    for (const UniqueHandle& wait : waits) handles.push_back(wait.get());
    if (!handles.empty() &&
        WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, dwTimeoutMs) == WAIT_TIMEOUT)
        Trace(0, L"Func.CGenericTSPIManager::ProviderShutdown.Warning.A thread did not end in %u ms", dwTimeoutMs);
    CSlotLockGuard slots(g_SlotLock);
    for (CThreadSlot* pSlot : g_Slots) ForgetEndedThreads(*pSlot);
}

HANDLE EventMonitorHandle() { return g_Monitor.thread.get(); }
HANDLE KeepAliveHandle() { return g_KeepAlive.thread.get(); }

CNwObserve::~CNwObserve() {
    // Every thread holds a reference to the library while it runs, so an
    // unload finds them ended: by the provider's shutdown, or by the system
    // at process exit, which ends every other thread before the libraries
    // are unloaded. The slots let go of their handles and events themselves.
}
