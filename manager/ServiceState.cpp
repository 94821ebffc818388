#include "manager/ServiceState.h"

#include <atomic>
#include <vector>

#include "common/TimerScale.h"
#include "config/UiLanguage.h"
#include "log/Trace.h"
#include "manager/CGenericTSPIManager.h"
#include "manager/CallEvidence.h"
#include "model/LineService.h"
#include "model/LineTable.h"
#include "model/ProviderLock.h"
#include "model/ProviderState.h"
#include "pbx/EventStream.h"
#include "pbx/ExtensionDirectory.h"
#include "pbx/SessionState.h"

namespace {
// Tick count since which the stream has been down; 0 while it is open.
std::atomic<ULONGLONG> g_qwDownSince{0};
// Times the stream went down; only ever counts up.
std::atomic<ULONGLONG> g_qwDowns{0};
// Whether the lines were last put out of service. Written only under the
// ProviderLock, together with the lines, so that two threads deciding at once
// cannot leave the lines in a state neither of them decided last.
std::atomic<bool> g_bLinesOutOfService{false};
// Tick count at which calls left over from before the stream opened are
// checked; 0: none to check.
std::atomic<ULONGLONG> g_qwStaleCheckDue{0};
// Whether the login state names the refusal (keep-alive thread only).
bool g_bRefusalRecorded = false;

ULONGLONG NowMs() {
    const ULONGLONG qwNow = GetTickCount64();
    return qwNow == 0 ? 1 : qwNow;
}

// Under the ProviderLock.
bool AnyCall() {
    for (DWORD dwLinePos = 0; dwLinePos < g_dwDeviceCount; ++dwLinePos)
        if (GetCallCount(dwLinePos) != 0) return true;
    return false;
}

// How long the stream has been down; 0 while it is open.
ULONGLONG DownForMs() {
    const ULONGLONG qwDownSince = g_qwDownSince;
    return qwDownSince == 0 ? 0 : NowMs() - qwDownSince;
}

bool ShouldBeOutOfService() {
    return CredentialsRefused() || DownForMs() >= ScaledMs(kOutOfServiceGraceMs, kMinScaledGraceMs);
}

// Brings the lines to the state the PBX's reachability asks for. What decides
// is read under the ProviderLock, so whoever applies last applies the latest.
void ApplyServiceState() {
    if (!g_bLinesOutOfService && !ShouldBeOutOfService()) return;
    CProviderLockGuard lock(LockOwner::ServiceState);
    const bool bOut = ShouldBeOutOfService();
    if (bOut != g_bLinesOutOfService.exchange(bOut)) {
        if (!bOut)
            Trace(2, L"CGenericTSPIManager::ServiceState.Info.PBX reachable again, lines in service");
        else if (CredentialsRefused())
            Trace(2, L"CGenericTSPIManager::ServiceState.Warning.Credentials refused, lines out of service");
        else
            Trace(2, L"CGenericTSPIManager::ServiceState.Warning.PBX not reachable for %llu ms, lines out of service",
                  DownForMs());
    } else if (!bOut) {
        return;
    }
    // Out of service every tick: a line that arrives meanwhile goes out of service too.
    for (DWORD dwLinePos = 0; dwLinePos < g_dwDeviceCount; ++dwLinePos)
        SetLineInService(static_cast<LONG>(dwLinePos), !bOut);
}

// The login state says that the PBX refused the credentials, once per refusal,
// whichever thread's login heard it.
void RecordRefusal() {
    const bool bRefused = CredentialsRefused();
    if (bRefused && !g_bRefusalRecorded && g_pManager != nullptr) g_pManager->SetLastLoginState(CredentialsRefusedText());
    g_bRefusalRecorded = bRefused;
}

void ClearStaleCalls() {
    CFuncTrace trace(2, L"CGenericTSPIManager::ClearStaleCalls");
    std::vector<ShownCall> before;
    {
        CProviderLockGuard lock(LockOwner::ClearStaleCalls);
        before = FindShownCalls(ShownCalls::NotHeardOf);
    }
    if (before.empty()) {
        g_qwStaleCheckDue = 0;
        return trace.End();
    }
    // The directory is read without the ProviderLock; a failed read ends
    // nothing and is tried again after another settle period.
    std::vector<ExtensionInfo> directory;
    if (!ReadExtensionDirectory(directory)) {
        g_qwStaleCheckDue = NowMs() + ScaledMs(kStaleCallSettleMs);
        return trace.Warning(L"Directory not read, stale calls checked later");
    }
    g_qwStaleCheckDue = 0;
    trace.Var(L"ended", L"%u", static_cast<DWORD>(EndCallsShownWithoutCall(before, directory, ShownCalls::NotHeardOf)));
    trace.End();
}
}  // namespace

void ResetServiceState() {
    g_qwDownSince = 0;
    g_bLinesOutOfService = false;
    g_qwStaleCheckDue = 0;
    g_bRefusalRecorded = false;
    ForgetEventHistory();
}

void NoteStreamOpened() {
    g_qwDownSince = 0;
    {
        CProviderLockGuard lock(LockOwner::ServiceState);
        if (AnyCall()) g_qwStaleCheckDue = NowMs() + ScaledMs(kStaleCallSettleMs);
    }
    ApplyServiceState();
}

void NoteStreamDown() {
    ULONGLONG qwOpen = 0;
    if (g_qwDownSince.compare_exchange_strong(qwOpen, NowMs())) ++g_qwDowns;
}

ULONGLONG StreamDowns() { return g_qwDowns; }

bool StreamIsOpen() { return g_qwDownSince == 0; }

void CheckServiceState() {
    RecordRefusal();
    ApplyServiceState();
    const ULONGLONG qwDue = g_qwStaleCheckDue;
    if (g_qwDownSince == 0 && qwDue != 0 && NowMs() >= qwDue) ClearStaleCalls();
}
