// TAPI's make-call and drop carried to the PBX. The PBX's answer only decides
// the completion of the request; call states follow from its call events.
#include "common/CallIdRanges.h"
#include "common/TimerScale.h"
#include "log/Trace.h"
#include "manager/BackgroundThreads.h"
#include "manager/CGenericTSPIManager.h"
#include "manager/CallEvidence.h"
#include "manager/CallNumbers.h"
#include "manager/DialtoneCloser.h"
#include "model/PhoneCall.h"
#include "model/PhoneLine.h"
#include "model/TapiDefs.h"
#include "pbx/CallCommands.h"
#include "pbx/Session.h"

namespace {
// A make-call whose PBX events never arrive leaves dial tone after this wait.
constexpr DWORD kMakeCallDialtoneWaitMs = 30000;

void TraceCommand() { Trace(2, L"Func.CGenericTSPIManager::APICALL %s", LastCommandSummary().c_str()); }
}  // namespace

LONG CGenericTSPIManager::LineMakeCall(PhoneLine* pLine, DWORD dwRequestID, const wchar_t* pszDestination) {
    CFuncTrace trace(2, L"CGenericTSPIManager::LineMakeCall");
    trace.Param(L"dwRequestID", L"%u", dwRequestID);
    // The export holds the ProviderLock: the PBX is asked on the reply's own
    // thread, with copies of what the request needs.
    const std::wstring extension = pLine->m_szAddress;
    const std::wstring destination = pszDestination != nullptr ? pszDestination : L"";
    // The call just made, for its dial-tone closer, whose wait starts once the
    // PBX has the command: commands wait their turn on the request thread.
    const DWORD dwLinePos = pLine->m_dwLinePos;
    DialtoneCalls placed = DialtoneCallsOf(dwLinePos);
    StartReplyRequest(dwRequestID, [extension, destination, dwLinePos, placed]() -> LONG {
        ORVO_CheckAccessToken();
        const int nAccepted = ORVO_DoMakeCall(extension, destination);
        Trace(2, L"Func.CGenericTSPIManager::LineMakeCall.Info.ORVO_DoMakeCall result %d", nAccepted);
        TraceCommand();
        StartDialtoneCloseRequest(dwLinePos, placed, ScaledMs(kMakeCallDialtoneWaitMs));
        return nAccepted != 0 ? 0 : LINEERR_OPERATIONFAILED;
    });
    return trace.End(static_cast<LONG>(dwRequestID));
}

LONG CGenericTSPIManager::LineDrop(PhoneCall* pCall, DWORD dwRequestID) {
    CFuncTrace trace(2, L"CGenericTSPIManager::LineDrop");
    trace.Param(L"dwRequestID", L"%u", dwRequestID);
    const DWORD dwCallNumber = pCall->m_pLineCallInfo->dwCallID;
    // A call no PBX event has named yet carries a local id, which no PBX call
    // number equals: nothing is sent for it, so the drop can only ever end this call.
    const auto entry = IsPbxCallNumber(dwCallNumber) ? g_mapCallUuid.find(dwCallNumber) : g_mapCallUuid.end();
    const std::wstring callId = entry != g_mapCallUuid.end() ? entry->second : std::wstring();
    trace.Var(L"uuid", L"%s", callId.c_str());
    if (callId.empty()) {
        StartReplyRequest(dwRequestID, 0L);
        return trace.End(static_cast<LONG>(dwRequestID));
    }
    // As for a make-call: the PBX is asked outside the export's ProviderLock.
    StartReplyRequest(dwRequestID, [callId]() -> LONG {
        ORVO_CheckAccessToken();
        const DropAnswer answer = ORVO_DoDrop(callId);
        TraceCommand();
        if (answer == DropAnswer::Failed) return LINEERR_OPERATIONFAILED;
        // The PBX has no such call: its hangup was missed, and the drop is
        // done. The call ends now, before the completion goes out.
        if (answer == DropAnswer::NoSuchCall) EndCallUnknownToPbx(callId);
        return 0;
    });
    return trace.End(static_cast<LONG>(dwRequestID));
}
