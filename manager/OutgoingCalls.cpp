// TAPI's make-call and drop carried to the PBX. The PBX's answer only decides
// the completion of the request; call states follow from its call events.
#include "common/CallIdRanges.h"
#include "log/Trace.h"
#include "manager/BackgroundThreads.h"
#include "manager/CGenericTSPIManager.h"
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
    ORVO_CheckAccessToken();
    LONG lResult = 0;
    int nAccepted = ORVO_DoMakeCall(pLine->m_szAddress, pszDestination != nullptr ? pszDestination : L"");
    if (nAccepted == 0) lResult = LINEERR_OPERATIONFAILED;
    trace.Info(L"ORVO_DoMakeCall result %d", nAccepted);
    TraceCommand();
    StartReplyRequest(dwRequestID, lResult);
    StartDialtoneCloseRequest(pLine->m_dwLinePos, kMakeCallDialtoneWaitMs);
    return trace.End(static_cast<LONG>(dwRequestID));
}

LONG CGenericTSPIManager::LineDrop(PhoneCall* pCall, DWORD dwRequestID) {
    CFuncTrace trace(2, L"CGenericTSPIManager::LineDrop");
    trace.Param(L"dwRequestID", L"%u", dwRequestID);
    LONG lResult = 0;
    const DWORD dwCallNumber = pCall->m_pLineCallInfo->dwCallID;
    // A call no PBX event has named yet carries a local id, which no PBX call
    // number equals: nothing is sent for it, so the drop can only ever end this call.
    const auto entry = IsPbxCallNumber(dwCallNumber) ? g_mapCallUuid.find(dwCallNumber) : g_mapCallUuid.end();
    const std::wstring callId = entry != g_mapCallUuid.end() ? entry->second : std::wstring();
    trace.Var(L"uuid", L"%s", callId.c_str());
    if (!callId.empty()) {
        ORVO_CheckAccessToken();
        if (ORVO_DoDrop(callId) == 0) lResult = LINEERR_OPERATIONFAILED;
        TraceCommand();
    }
    StartReplyRequest(dwRequestID, lResult);
    return trace.End(static_cast<LONG>(dwRequestID));
}
