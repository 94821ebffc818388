#include "manager/CallEvidence.h"

#include <map>

#include "log/Trace.h"
#include "manager/CGenericTSPIManager.h"
#include "manager/CallNumbers.h"
#include "model/LineTable.h"
#include "model/ProviderLock.h"
#include "model/ProviderState.h"
#include "pbx/EventStream.h"

namespace {
// The end of a PBX call on one extension's line, as its own hangup would bring it.
void QueueHangup(const std::wstring& uuid, const std::wstring& extension, bool bWait) {
    if (g_pManager == nullptr) return;
    if (bWait) g_pManager->DispatchEvents(uuid, extension, L"", L"", L"hangup", L"");
    else g_pManager->PostEvents(uuid, extension, L"", L"", L"hangup", L"");
}

bool SameCall(const ShownCall& a, const ShownCall& b) {
    return a.uuid == b.uuid && a.extension == b.extension && a.dwState == b.dwState;
}
}  // namespace

std::vector<ShownCall> FindShownCalls(ShownCalls which) {
    std::vector<ShownCall> calls;
    for (DWORD dwLinePos = 0; dwLinePos < g_dwDeviceCount; ++dwLinePos) {
        const PhoneLine* pLine = GetPhoneLine(static_cast<LONG>(dwLinePos));
        if (pLine == nullptr || pLine->m_bRemoved) continue;
        for (LONG lCallPos = 0; lCallPos < kCallSlots; ++lCallPos) {
            const PhoneCall* pCall = GetPhoneCall(static_cast<LONG>(dwLinePos), lCallPos);
            if (pCall == nullptr || pCall->m_pLineCallInfo == nullptr) continue;
            if (pCall->m_dwLastState == LINECALLSTATE_IDLE) continue;
            const auto entry = g_mapCallUuid.find(pCall->m_pLineCallInfo->dwCallID);
            if (entry == g_mapCallUuid.end()) continue;
            if (which == ShownCalls::NotHeardOf && CallHeardOnCurrentStream(entry->second)) continue;
            calls.push_back({entry->second, pLine->m_szAddress, pCall->m_dwLastState});
        }
    }
    return calls;
}

size_t EndCallsShownWithoutCall(const std::vector<ShownCall>& before, const std::vector<ExtensionInfo>& directory,
                                ShownCalls which) {
    if (before.empty()) return 0;
    CFuncTrace trace(2, L"EndCallsShownWithoutCall");
    // A later record of the same number stands for it, as everywhere else.
    std::map<std::wstring, std::wstring> presences;
    for (const ExtensionInfo& entry : directory) presences[entry.extension_number] = entry.presence;
    std::vector<ShownCall> ending;
    {
        // The presence speaks of the moment of the read: a call that changed
        // meanwhile may have begun since, and is left alone.
        CProviderLockGuard lock(LockOwner::ClearCallsOfOfflineExtensions);
        const std::vector<ShownCall> now = FindShownCalls(which);
        for (const ShownCall& call : before) {
            const auto found = presences.find(call.extension);
            const std::wstring presence = found != presences.end() ? found->second : std::wstring();
            if (!ShowsNoCall(presence)) {
                trace.Info(L"Call %s on %s kept: presence \"%s\"", call.uuid.c_str(), call.extension.c_str(),
                           presence.c_str());
                continue;
            }
            bool bUnchanged = false;
            for (const ShownCall& current : now) bUnchanged = bUnchanged || SameCall(call, current);
            if (!bUnchanged) continue;
            trace.Warning(L"Call %s on %s ended: presence \"%s\"", call.uuid.c_str(), call.extension.c_str(),
                          presence.c_str());
            ending.push_back(call);
        }
    }
    for (const ShownCall& call : ending) QueueHangup(call.uuid, call.extension, false);
    trace.End();
    return ending.size();
}

void EndCallUnknownToPbx(const std::wstring& uuid) {
    CFuncTrace trace(2, L"EndCallUnknownToPbx");
    trace.Param(L"uuid", L"%s", uuid.c_str());
    std::vector<std::wstring> extensions;
    {
        CProviderLockGuard lock(LockOwner::ClearCallsOfOfflineExtensions);
        const DWORD dwNumber = LookUpCallNumber(uuid);
        // Ended meanwhile (its hangup came after all): nothing is left to end.
        if (dwNumber == 0) return trace.Line(L"Info.Already ended");
        for (DWORD dwLinePos : CallLines(dwNumber)) {
            const PhoneLine* pLine = GetPhoneLine(static_cast<LONG>(dwLinePos));
            if (pLine == nullptr || pLine->m_bRemoved) continue;
            const LONG lCallPos = GetFirstCallPosWithCallID(dwLinePos, dwNumber);
            if (lCallPos >= 0 && GetCallState(static_cast<LONG>(dwLinePos), lCallPos) != LINECALLSTATE_IDLE)
                extensions.emplace_back(pLine->m_szAddress);
        }
    }
    for (const std::wstring& extension : extensions) {
        trace.Warning(L"Ended on %s: the PBX knows the call no more", extension.c_str());
        QueueHangup(uuid, extension, true);
    }
    trace.End();
}
