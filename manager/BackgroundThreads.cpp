#include "manager/BackgroundThreads.h"

#include <iphlpapi.h>

#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "config/CSharedMem.h"
#include "config/ProviderSettings.h"
#include "http/ProxySettings.h"
#include "log/Trace.h"
#include "manager/CGenericTSPIManager.h"
#include "manager/ProviderLock.h"
#include "manager/ProviderState.h"
#include "manager/RequestThreads.h"
#include "model/EventDelivery.h"
#include "model/LineTable.h"
#include "http/CHTTPContactEvent.h"
#include "pbx/EventStream.h"
#include "pbx/ExtensionDirectory.h"
#include "pbx/Session.h"

namespace {
constexpr SIZE_T kStackCommit = 2048;
constexpr DWORD kKeepAliveTickMs = 1000;
constexpr DWORD kRestartPauseMs = 5000;      // after a network change
constexpr DWORD kMonitorRetryMs = 30000;     // after a failed token check or stream
constexpr DWORD kTicksPerOfflineSweep = 60;  // about once a minute
constexpr DWORD kReplyDelayMs = 100;

// Set by the network observer, cleared by the keep-alive thread.
volatile LONG g_lNetworkChanged = 0;
DWORD g_dwKeepAliveTicks = 0;
// How long a stop waits for a thread to leave by itself before ending it,
// and then for it to reach the point where ending it is harmless.
constexpr DWORD kStopWaitMs = 500;
constexpr DWORD kSafePointWaitMs = 2000;

// One long-running thread. The thread identifier is its run flag: the thread
// loops while it is not 0, and a stop sets it to 0 and wakes the thread's waits.
struct CThreadSlot {
    const wchar_t* pszName;
    LPTHREAD_START_ROUTINE pfnProc;
    HANDLE hThread = nullptr;
    volatile DWORD dwRunId = 0;
    HANDLE hWake = nullptr;  // manual-reset; set by a stop

    bool Running() const { return dwRunId != 0; }
    // Waits dwMs or until stopped; false when stopped.
    bool Pause(DWORD dwMs) const { return WaitForSingleObject(hWake, dwMs) == WAIT_TIMEOUT && Running(); }
};

DWORD WINAPI EventMonitorThread(LPVOID);
DWORD WINAPI KeepAliveThread(LPVOID);
DWORD WINAPI NetworkObserverThread(LPVOID);

CThreadSlot g_Monitor{L"EventMonitorThread", EventMonitorThread};
CThreadSlot g_KeepAlive{L"KeepAliveThread", KeepAliveThread};
CThreadSlot g_Observer{L"NetworkObserverThread", NetworkObserverThread};

// Serialises starting and stopping between tapisrv and the keep-alive thread.
std::mutex g_SlotLock;
using CSlotLockGuard = std::lock_guard<std::mutex>;

void StartSlot(CThreadSlot& slot) {
    if (slot.hWake == nullptr) slot.hWake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ResetEvent(slot.hWake);
    // Suspended until the identifier is stored: the thread must find its run flag set.
    DWORD dwId = 0;
    HANDLE hThread = CreateThread(nullptr, kStackCommit, slot.pfnProc, nullptr, CREATE_SUSPENDED, &dwId);
    if (hThread == nullptr) {
        Trace(0, L"Func.CGenericTSPIManager::Start %s.Error.CreateThread %u", slot.pszName, GetLastError());
        return;
    }
    slot.hThread = hThread;
    slot.dwRunId = dwId;
    ResumeThread(hThread);
}

// How a stop reaches a thread that waits inside a call it cannot leave by
// itself (the event stream's read): pfnCancel makes that call return where
// the platform allows it; pfnAtSafePoint tells when the thread sits in it,
// holding nothing of the provider's.
struct CStopMethod {
    void (*pfnCancel)() = nullptr;
    bool (*pfnAtSafePoint)() = nullptr;
    void (*pfnAfterForcedEnd)() = nullptr;
};

// Waits until the thread is at its safe point; false on time-out.
bool WaitForSafePoint(const CStopMethod& method) {
    if (method.pfnAtSafePoint == nullptr) return false;
    for (DWORD dwWaited = 0; dwWaited < kSafePointWaitMs; dwWaited += 10) {
        if (method.pfnAtSafePoint()) return true;
        Sleep(10);
    }
    return false;
}

// Ends a thread that did not leave when asked. Holding the ProviderLock makes
// sure it is not inside it; when the lock cannot be had, because a thread
// that waits for this stop holds it, it is enough that the stopped thread is
// not the holder. A thread that holds the lock is left running rather than
// ending it there.
void EndByForce(const CThreadSlot& slot, HANDLE hThread, const CStopMethod& method) {
    const bool bLocked = TryEnterProviderLock(LockOwner::StopBackgroundThread, kSafePointWaitMs);
    if (!bLocked && ProviderLockHeldBy(GetThreadId(hThread))) {
        Trace(0, L"Func.CGenericTSPIManager::Stop %s.Warning.Left running inside the provider lock", slot.pszName);
        return;
    }
    const bool bAtSafePoint = WaitForSafePoint(method);
    if (WaitForSingleObject(hThread, 0) == WAIT_TIMEOUT) {
        Trace(1, L"Func.CGenericTSPIManager::Stop %s.Warning.TerminateThread%s", slot.pszName,
              bAtSafePoint ? L"" : L" outside its wait");
        TerminateThread(hThread, 0);
        WaitForSingleObject(hThread, INFINITE);
        if (method.pfnAfterForcedEnd != nullptr) method.pfnAfterForcedEnd();
    }
    if (bLocked) LeaveProviderLock(LockOwner::StopBackgroundThread);
}

// Ends the thread of the slot. It is asked first (run flag, wake event, the
// cancel of its blocking call) and normally leaves at once. One that does
// not is ended by force, but only while this thread holds the ProviderLock,
// so that it never dies inside the lock, and preferably at its safe point.
void StopSlot(CThreadSlot& slot, const CStopMethod& method = {}) {
    slot.dwRunId = 0;
    if (slot.hWake != nullptr) SetEvent(slot.hWake);
    if (method.pfnCancel != nullptr) method.pfnCancel();
    HANDLE hThread = slot.hThread;
    slot.hThread = nullptr;
    if (hThread == nullptr) return;
    if (GetThreadId(hThread) != GetCurrentThreadId() && WaitForSingleObject(hThread, kStopWaitMs) == WAIT_TIMEOUT)
        EndByForce(slot, hThread, method);
    CloseHandle(hThread);
}

// The event stream: closing its request makes the read return on Windows;
// where it does not, the monitor is ended while it waits for stream data and
// the client's handles are dropped, so that the next stream starts afresh.
const CStopMethod kStopEventMonitor{
    &AbortCallMonitoring,
    [] { return g_EventClient.m_lWaitingForData != 0; },
    [] { g_EventClient.Close(); },
};

DWORD WINAPI EventMonitorThread(LPVOID) {
    CFuncTrace trace(2, L"CGenericTSPIManager::EventMonitorThread", TracePrefix::None);
    while (g_Monitor.Running()) {
        if (!ORVO_CheckAccessToken() || !ORVO_ActivateCallMonitoring()) {
            if (!g_Monitor.Pause(kMonitorRetryMs)) break;
        }
    }
    trace.End();
    return 0;
}

// Calls still shown on lines whose extension the PBX reports offline or idle go idle.
void ClearCallsOfOfflineExtensions() {
    // The presence is asked without the ProviderLock: it waits for the session,
    // which a login may hold for as long as the PBX takes to answer.
    std::vector<std::wstring> addresses;
    {
        CProviderLockGuard lock(LockOwner::ClearCallsOfOfflineExtensions);
        for (DWORD dwLinePos = 0; dwLinePos < g_dwDeviceCount; ++dwLinePos) {
            PhoneLine* pLine = GetPhoneLine(static_cast<LONG>(dwLinePos));
            if (pLine != nullptr && !pLine->m_bRemoved && GetCallCount(dwLinePos) != 0)
                addresses.emplace_back(pLine->m_szAddress);
        }
    }
    for (const std::wstring& address : addresses) {
        if (!IsExtensionOffline(address.c_str())) continue;
        CProviderLockGuard lock(LockOwner::ClearCallsOfOfflineExtensions);
        // The line is looked up again: it may have gone meanwhile.
        const LONG lLinePos = GetPosFromAddress(address.c_str());
        if (lLinePos < 0) continue;
        Trace(2, L"CGenericTSPIManager::KeepAliveThread.Warning.Remove calls at Device %s", address.c_str());
        for (LONG lCallPos = kCallSlots - 1; lCallPos >= 0; --lCallPos) SendIdleState(lLinePos, lCallPos);
    }
}

DWORD WINAPI KeepAliveThread(LPVOID) {
    while (g_KeepAlive.Pause(kKeepAliveTickMs)) {
        if (InterlockedExchange(&g_lNetworkChanged, 0) != 0) {
            Trace(2, L"CGenericTSPIManager::KeepAliveThread.Info.Reinit");
            ForgetProxySettings();
            StopEventMonitor();
            if (!g_KeepAlive.Pause(kRestartPauseMs)) break;
            StartEventMonitor();
        }
        if (InterlockedExchange(reinterpret_cast<volatile LONG*>(&g_pProviderSettings->ReinitRequested), 0) != 0) {
            Trace(2, L"CGenericTSPIManager::KeepAliveThread.Info.Reinit by config dialog");
            g_pManager->ReinitializeDevices();
        }
        if (++g_dwKeepAliveTicks % kTicksPerOfflineSweep == 0) ClearCallsOfOfflineExtensions();
    }
    return 0;
}

DWORD WINAPI NetworkObserverThread(LPVOID) {
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
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
    CloseHandle(overlapped.hEvent);
    return 0;
}

struct ReplyRequest {
    DWORD dwRequestID;
    LONG lResult;
    HANDLE hThread;
    LONG lGeneration;
};

DWORD WINAPI DelayedReplyThread(LPVOID pParam) {
    ReplyRequest* pRequest = static_cast<ReplyRequest*>(pParam);
    // After the export has returned the request identifier and left the lock.
    if (WaitInRequest(kReplyDelayMs, pRequest->lGeneration) && g_pManager != nullptr)
        g_pManager->SendReply(pRequest->dwRequestID, pRequest->lResult);
    WaitInRequest(kReplyDelayMs, pRequest->lGeneration);
    HANDLE hThread = pRequest->hThread;
    delete pRequest;
    EndRequestThread(hThread);
}
}  // namespace

void StartEventMonitor() {
    CSlotLockGuard slots(g_SlotLock);
    if (g_Monitor.hThread != nullptr) StopSlot(g_Monitor, kStopEventMonitor);
    StartSlot(g_Monitor);
}

void StopEventMonitor() {
    CSlotLockGuard slots(g_SlotLock);
    StopSlot(g_Monitor, kStopEventMonitor);
}

void StartKeepAlive() {
    CSlotLockGuard slots(g_SlotLock);
    if (g_KeepAlive.hThread == nullptr) StartSlot(g_KeepAlive);
}

void StopKeepAlive() {
    CSlotLockGuard slots(g_SlotLock);
    StopSlot(g_KeepAlive);
}

void RestartNetworkObserver() {
    CSlotLockGuard slots(g_SlotLock);
    StopSlot(g_Observer);
    StartSlot(g_Observer);
}

HANDLE EventMonitorHandle() { return g_Monitor.hThread; }
HANDLE KeepAliveHandle() { return g_KeepAlive.hThread; }

void StartReplyRequest(DWORD dwRequestID, LONG lResult) {
    ReplyRequest* pRequest = new (std::nothrow) ReplyRequest{dwRequestID, lResult, nullptr, CurrentRequestGeneration()};
    if (pRequest == nullptr) return;
    pRequest->hThread = CreateRequestThread(DelayedReplyThread, pRequest);
    if (pRequest->hThread == nullptr) {
        delete pRequest;
        return;
    }
    ResumeThread(pRequest->hThread);
}

CNwObserve::~CNwObserve() {
    // At unload the loader lock is held: no thread can end by itself now.
    g_Observer.dwRunId = 0;
    if (g_Observer.hThread != nullptr) {
        TerminateThread(g_Observer.hThread, 0);
        // A thread ended by force runs no detach code, so waiting here is safe.
        WaitForSingleObject(g_Observer.hThread, 1000);
        CloseHandle(g_Observer.hThread);
        g_Observer.hThread = nullptr;
    }
}
