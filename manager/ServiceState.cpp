#include "manager/ServiceState.h"

#include <atomic>
#include <string>
#include <vector>

#include "common/TimerScale.h"
#include "log/Trace.h"
#include "manager/CallNumbers.h"
#include "model/EventDelivery.h"
#include "model/LineService.h"
#include "model/LineTable.h"
#include "model/ProviderLock.h"
#include "model/ProviderState.h"
#include "pbx/EventStream.h"
#include "pbx/ExtensionDirectory.h"

namespace {
// Tick count since which the stream has been down; 0 while it is open.
std::atomic<ULONGLONG> g_qwDownSince{0};
// Whether the lines were last put out of service.
std::atomic<bool> g_bLinesOutOfService{false};
// Tick count at which calls left over from before the stream opened are
// checked; 0: none to check.
std::atomic<ULONGLONG> g_qwStaleCheckDue{0};

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

void SetAllLines(bool bInService) {
    CProviderLockGuard lock(LockOwner::ServiceState);
    for (DWORD dwLinePos = 0; dwLinePos < g_dwDeviceCount; ++dwLinePos)
        SetLineInService(static_cast<LONG>(dwLinePos), bInService);
}

// A PBX call still shown on a line: where, and its uuid.
struct LeftOverCall {
    std::wstring uuid;
    std::wstring extension;
};

// Under the ProviderLock: the PBX calls on the lines of which the current stream said nothing.
std::vector<LeftOverCall> CallsNotHeardOf() {
    std::vector<LeftOverCall> calls;
    for (DWORD dwLinePos = 0; dwLinePos < g_dwDeviceCount; ++dwLinePos) {
        PhoneLine* pLine = GetPhoneLine(static_cast<LONG>(dwLinePos));
        if (pLine == nullptr || pLine->m_bRemoved) continue;
        for (LONG lCallPos = 0; lCallPos < kCallSlots; ++lCallPos) {
            PhoneCall* pCall = GetPhoneCall(static_cast<LONG>(dwLinePos), lCallPos);
            if (pCall == nullptr || pCall->m_pLineCallInfo == nullptr) continue;
            if (pCall->m_dwLastState == LINECALLSTATE_IDLE) continue;
            const auto entry = g_mapCallUuid.find(pCall->m_pLineCallInfo->dwCallID);
            if (entry == g_mapCallUuid.end() || CallHeardOnCurrentStream(entry->second)) continue;
            calls.push_back({entry->second, pLine->m_szAddress});
        }
    }
    return calls;
}

bool ShownBusy(const std::vector<ExtensionInfo>& directory, const std::wstring& extension) {
    for (const ExtensionInfo& entry : directory)
        if (entry.extension_number == extension) return entry.presence == L"busy";
    return false;
}

void ClearStaleCalls() {
    CFuncTrace trace(2, L"CGenericTSPIManager::ClearStaleCalls");
    {
        CProviderLockGuard lock(LockOwner::ClearStaleCalls);
        if (CallsNotHeardOf().empty()) {
            g_qwStaleCheckDue = 0;
            return trace.End();
        }
    }
    // The directory is read without the ProviderLock; a failed read ends
    // nothing and is tried again after another settle period.
    std::vector<ExtensionInfo> directory;
    if (!ReadExtensionDirectory(directory)) {
        g_qwStaleCheckDue = NowMs() + ScaledMs(kStaleCallSettleMs);
        return trace.Warning(L"Directory not read, stale calls checked later");
    }
    CProviderLockGuard lock(LockOwner::ClearStaleCalls);
    g_qwStaleCheckDue = 0;
    // Looked up again: calls may have ended or been heard of meanwhile.
    for (const LeftOverCall& call : CallsNotHeardOf()) {
        if (ShownBusy(directory, call.extension)) {
            trace.Info(L"Call %s on %s kept: the extension is busy", call.uuid.c_str(), call.extension.c_str());
            continue;
        }
        const LONG lLinePos = GetPosFromAddress(call.extension.c_str());
        const DWORD dwNumber = LookUpCallNumber(call.uuid);
        const LONG lCallPos = lLinePos < 0 || dwNumber == 0 ? -1 : GetFirstCallPosWithCallID(lLinePos, dwNumber);
        if (lCallPos < 0) continue;
        trace.Warning(L"Call %s on %s ended: nothing heard of it since the reconnection", call.uuid.c_str(),
                      call.extension.c_str());
        SendIdleState(lLinePos, lCallPos);
    }
    trace.End();
}
}  // namespace

void ResetServiceState() {
    g_qwDownSince = 0;
    g_bLinesOutOfService = false;
    g_qwStaleCheckDue = 0;
    ForgetEventHistory();
}

void NoteStreamOpened() {
    g_qwDownSince = 0;
    {
        CProviderLockGuard lock(LockOwner::ServiceState);
        if (AnyCall()) g_qwStaleCheckDue = NowMs() + ScaledMs(kStaleCallSettleMs);
    }
    if (g_bLinesOutOfService.exchange(false)) {
        Trace(2, L"CGenericTSPIManager::ServiceState.Info.PBX reachable again, lines in service");
        SetAllLines(true);
    }
}

void NoteStreamDown() {
    ULONGLONG qwOpen = 0;
    g_qwDownSince.compare_exchange_strong(qwOpen, NowMs());
}

void CheckServiceState() {
    const ULONGLONG qwDownSince = g_qwDownSince;
    if (qwDownSince != 0 && NowMs() - qwDownSince >= ScaledMs(kOutOfServiceGraceMs, kMinScaledGraceMs)) {
        if (!g_bLinesOutOfService.exchange(true))
            Trace(2, L"CGenericTSPIManager::ServiceState.Warning.PBX not reachable for %llu ms, lines out of service",
                  NowMs() - qwDownSince);
        // Every tick: a line that arrives meanwhile goes out of service too.
        SetAllLines(false);
        return;
    }
    const ULONGLONG qwDue = g_qwStaleCheckDue;
    if (qwDownSince == 0 && qwDue != 0 && NowMs() >= qwDue) ClearStaleCalls();
}
