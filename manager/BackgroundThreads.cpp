#include "manager/BackgroundThreads.h"

#include <iphlpapi.h>

#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>

#include "common/Backoff.h"
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
#include "manager/RequestThreads.h"
#include "manager/ServiceState.h"
#include "model/EventDelivery.h"
#include "model/LineTable.h"
#include "model/ProviderLock.h"
#include "model/ProviderState.h"
#include "pbx/EventStream.h"
#include "pbx/Session.h"

namespace {
constexpr DWORD kKeepAliveTickMs = 1000;
constexpr DWORD kNetworkChangePauseMs = 5000;  // before the stream is reopened after a network change
constexpr DWORD kReplyDelayMs = 100;
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

// One long-running thread. The run flag is not 0 while the thread is to go
// on; a stop sets it to 0 and the wake event, which every wait of the thread
// (its PBX requests too) watches. The monitor's wake event also carries a
// reconnect request, told apart by g_lReconnectPauseMs.
struct CThreadSlot {
    const wchar_t* pszName;
    LPTHREAD_START_ROUTINE pfnProc;
    HANDLE hThread = nullptr;
    volatile LONG lRun = 0;
    HANDLE hWake = nullptr;  // manual-reset

    bool Running() const { return lRun != 0; }
    // Waits dwMs or until woken; whether the thread is still to go on.
    bool Pause(DWORD dwMs) const {
        WaitForSingleObject(hWake, dwMs);
        return Running();
    }
};

DWORD WINAPI EventMonitorThread(LPVOID);
DWORD WINAPI KeepAliveThread(LPVOID);
DWORD WINAPI NetworkObserverThread(LPVOID);

CThreadSlot g_Monitor{L"EventMonitorThread", EventMonitorThread};
CThreadSlot g_KeepAlive{L"KeepAliveThread", KeepAliveThread};
CThreadSlot g_Observer{L"NetworkObserverThread", NetworkObserverThread};
CThreadSlot* const g_Slots[] = {&g_Monitor, &g_KeepAlive, &g_Observer};

// Serialises starting and stopping between tapisrv and the keep-alive thread.
// Fourth in the lock order (model/ProviderLock.h), after the ProviderLock;
// never held while waiting for a thread or the PBX.
std::mutex g_SlotLock;
using CSlotLockGuard = std::lock_guard<std::mutex>;
// Threads asked to stop and not yet seen to end (under g_SlotLock). The slots
// and this list stay plain handles, with nothing to destroy at unload; the
// handles are closed by the owners of whoever takes them out
// (WaitForBackgroundThreads, ~CNwObserve).
HANDLE g_hStopping[3] = {};
DWORD g_dwStopping = 0;

HANDLE StopEvent() {
    static const UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return event.get();
}

bool ProviderStopping() { return WaitForSingleObject(StopEvent(), 0) == WAIT_OBJECT_0; }

// Under g_SlotLock. Nothing starts while the provider stops.
void StartSlot(CThreadSlot& slot) {
    if (slot.hThread != nullptr || ProviderStopping()) return;
    if (slot.hWake == nullptr) slot.hWake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ResetEvent(slot.hWake);
    // Suspended until the run flag is set: the thread must find it so.
    HANDLE hThread = CreateLibraryThread(slot.pfnProc, nullptr, nullptr);
    if (hThread == nullptr) {
        Trace(0, L"Func.CGenericTSPIManager::Start %s.Error.CreateThread %u", slot.pszName, GetLastError());
        return;
    }
    slot.hThread = hThread;
    slot.lRun = 1;
    ResumeThread(hThread);
}

// Under g_SlotLock: the thread is asked to leave and will be waited for.
void AskToStop(CThreadSlot& slot) {
    slot.lRun = 0;
    if (slot.hWake != nullptr) SetEvent(slot.hWake);
    if (slot.hThread == nullptr) return;
    g_hStopping[g_dwStopping++] = slot.hThread;
    slot.hThread = nullptr;
}

// The monitor's PBX session: a token that is valid, renewed or had by a fresh login.
bool HaveAccessToken() { return ORVO_CheckAccessToken() != 0; }

// Stopped, or woken for a reconnect: not a failure of the PBX.
bool EndedByUs(const CHTTPContactBase& client) {
    return client.m_dwLastError == ERROR_WINHTTP_OPERATION_CANCELLED;
}

DWORD WINAPI EventMonitorThread(LPVOID) {
    // Its PBX requests give up when the monitor is asked to stop or reconnect.
    SetThreadStopEvent(g_Monitor.hWake);
    {
        CFuncTrace trace(2, L"CGenericTSPIManager::EventMonitorThread", TracePrefix::None);
        CBackoff backoff(ScaledMs(kPbxRetryFirstMs), ScaledMs(kPbxRetryMaxMs), GetTickCount() ^ GetCurrentThreadId());
        auto retryLater = [&](const wchar_t* pszWhat, ULONGLONG qwHeldMs) {
            const DWORD dwDelay = backoff.NextDelay();
            trace.Warning(L"%s after %llu ms, next try in %u ms", pszWhat, qwHeldMs, dwDelay);
            g_Monitor.Pause(dwDelay);
        };
        for (;;) {
            // Every wake is a stop or a reconnect; both are looked at here.
            ResetEvent(g_Monitor.hWake);
            if (!g_Monitor.Running()) break;
            const LONG lPauseMs = InterlockedExchange(&g_lReconnectPauseMs, -1);
            if (lPauseMs > 0) {
                trace.Info(L"Reconnect in %d ms", lPauseMs);
                if (!g_Monitor.Pause(static_cast<DWORD>(lPauseMs))) break;
            }
            g_EventClient.m_dwIdleTimeoutMs = ScaledMs(g_dwStreamIdleTimeout * 1000, kMinIdleTimeoutMs);
            const ULONGLONG qwStart = GetTickCount64();
            if (!HaveAccessToken()) {
                NoteStreamDown();
                if (!EndedByUs(g_SessionClient)) retryLater(L"No valid token", GetTickCount64() - qwStart);
                continue;
            }
            const int nOpened = ORVO_ActivateCallMonitoring(&NoteStreamOpened);
            const ULONGLONG qwHeldMs = GetTickCount64() - qwStart;
            NoteStreamDown();
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
    ExitLibraryThread();
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

// Login, directory and lines anew, as after the dialog's OK.
DWORD WINAPI KeepAliveThread(LPVOID) {
    // A re-initialisation's login and directory read give up on a stop.
    SetThreadStopEvent(g_KeepAlive.hWake);
    ULONGLONG qwLastDirectoryRead = GetTickCount64();
    while (g_KeepAlive.Pause(ScaledMs(kKeepAliveTickMs))) {
        if (InterlockedExchange(&g_lNetworkChanged, 0) != 0) {
            Trace(2, L"CGenericTSPIManager::KeepAliveThread.Info.Reinit");
            ForgetProxySettings();
            ReconnectEventMonitor(ScaledMs(kNetworkChangePauseMs));
        }
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
        if (!g_KeepAlive.Running()) break;
        CheckServiceState();
    }
    ExitLibraryThread();
}

DWORD WINAPI NetworkObserverThread(LPVOID) {
    {
        // Closed at the end of this block: ExitLibraryThread does not return.
        const UniqueHandle changed(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        OVERLAPPED overlapped = {};
        overlapped.hEvent = changed.get();
        HANDLE hNotify = nullptr;
        const HANDLE waits[] = {g_Observer.hWake, overlapped.hEvent};
        NotifyAddrChange(&hNotify, &overlapped);
        g_Observer.Pause(1000);
        while (g_Observer.Running()) {
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) break;
            NotifyAddrChange(&hNotify, &overlapped);
            InterlockedExchange(&g_lNetworkChanged, 1);
        }
        CancelIPChangeNotify(&overlapped);
    }
    ExitLibraryThread();
}

struct ReplyRequest {
    DWORD dwRequestID;
    LONG lResult;
    std::function<LONG()> command;
    HANDLE hThread;
    LONG lGeneration;
};

DWORD WINAPI DelayedReplyThread(LPVOID pParam) {
    std::unique_ptr<ReplyRequest> request(static_cast<ReplyRequest*>(pParam));
    ReplyRequest* pRequest = request.get();
    const ULONGLONG qwStart = GetTickCount64();
    // The PBX is asked here, without any lock, while the export has long returned.
    if (pRequest->command) pRequest->lResult = pRequest->command();
    const ULONGLONG qwSpent = GetTickCount64() - qwStart;
    const DWORD dwReplyDelayMs = ScaledMs(kReplyDelayMs);
    const DWORD dwRest = qwSpent < dwReplyDelayMs ? static_cast<DWORD>(dwReplyDelayMs - qwSpent) : 0;
    if (WaitInRequest(dwRest, pRequest->lGeneration) && g_pManager != nullptr)
        g_pManager->SendReply(pRequest->dwRequestID, pRequest->lResult);
    WaitInRequest(dwReplyDelayMs, pRequest->lGeneration);
    HANDLE hThread = pRequest->hThread;
    request.reset();  // EndRequestThread does not return: nothing is destroyed after it
    EndRequestThread(hThread);
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
    if (g_Monitor.hThread == nullptr) {
        // A reconnect asked of an earlier monitor is nothing to a new one.
        InterlockedExchange(&g_lReconnectPauseMs, -1);
        return StartSlot(g_Monitor);
    }
    InterlockedExchange(&g_lReconnectPauseMs, 0);
    SetEvent(g_Monitor.hWake);
}

void ReconnectEventMonitor(DWORD dwPauseMs) {
    CSlotLockGuard slots(g_SlotLock);
    if (g_Monitor.hThread == nullptr) return;
    InterlockedExchange(&g_lReconnectPauseMs, static_cast<LONG>(dwPauseMs));
    SetEvent(g_Monitor.hWake);
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
    UniqueHandle stopping[3];
    DWORD dwCount = 0;
    {
        CSlotLockGuard slots(g_SlotLock);
        dwCount = g_dwStopping;
        for (DWORD i = 0; i < dwCount; ++i) stopping[i].reset(g_hStopping[i]);
        g_dwStopping = 0;
    }
    if (dwCount == 0) return;
    // A thread never waits for itself: the keep-alive thread may be the one
    // that stops the monitor.
    HANDLE others[3];
    DWORD dwOthers = 0;
    for (DWORD i = 0; i < dwCount; ++i)
        if (GetThreadId(stopping[i].get()) != GetCurrentThreadId()) others[dwOthers++] = stopping[i].get();
    if (dwOthers != 0 && WaitForMultipleObjects(dwOthers, others, TRUE, dwTimeoutMs) == WAIT_TIMEOUT)
        Trace(0, L"Func.CGenericTSPIManager::ProviderShutdown.Warning.A thread did not end in %u ms", dwTimeoutMs);
}

HANDLE EventMonitorHandle() { return g_Monitor.hThread; }
HANDLE KeepAliveHandle() { return g_KeepAlive.hThread; }

namespace {
void StartReply(DWORD dwRequestID, LONG lResult, std::function<LONG()> command) {
    std::unique_ptr<ReplyRequest> pRequest(new (std::nothrow)
        ReplyRequest{dwRequestID, lResult, std::move(command), nullptr, CurrentRequestGeneration()});
    if (!pRequest) return;
    if (StartRequestThread(DelayedReplyThread, pRequest.get(), pRequest->hThread))
        pRequest.release();  // the thread owns the request from here on and frees it
}
}  // namespace

void StartReplyRequest(DWORD dwRequestID, LONG lResult) { StartReply(dwRequestID, lResult, {}); }

void StartReplyRequest(DWORD dwRequestID, std::function<LONG()> command) {
    StartReply(dwRequestID, 0, std::move(command));
}

CNwObserve::~CNwObserve() {
    // The observer holds a reference to the library while it runs, so an
    // unload finds it ended: by the provider's shutdown, or by the system at
    // process exit, which ends every other thread before the libraries are
    // unloaded. Under the loader lock there is nothing to wait for.
    g_Observer.lRun = 0;
    const UniqueHandle observer(g_Observer.hThread);
    g_Observer.hThread = nullptr;
}
