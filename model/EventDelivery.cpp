#include "model/EventDelivery.h"

#include "log/Trace.h"
#include "model/CallFeatures.h"
#include "model/LineTable.h"
#include "model/ProviderLock.h"
#include "model/ProviderState.h"

namespace {
constexpr DWORD kDisconnectPauseMs = 25;

// The features of the line, of the partner's line and of the partners of the
// line's calls; with events, TAPI hears of every call whose features changed.
void UpdateAround(LONG lLinePos, LONG lPartner, BOOL bSendEvent) {
    UpdateAllFeatures(lLinePos, bSendEvent);
    UpdateAllFeatures(lPartner, bSendEvent);
    UpdatePartners(lLinePos, bSendEvent);
}

bool IsIdleState(DWORD dwMessage, DWORD_PTR dwParam1) {
    return dwMessage == LINE_CALLSTATE && dwParam1 == LINECALLSTATE_IDLE;
}
}  // namespace

void RaiseAsyncCompletion(DWORD dwRequestID, LONG lResult) {
    CFuncTrace trace(4, L"RaiseAsyncCompletion");
    trace.Param(L"_dwRequestID", L"%u", dwRequestID);
    trace.Param(L"_lResult", L"0x%08X", static_cast<DWORD>(lResult));
    if (g_pfnAsyncCompletion == nullptr) {
        trace.Line(L"Abort.Warning.No completion procedure");
        return;
    }
    g_pfnAsyncCompletion(dwRequestID, lResult);
    trace.End();
}

void RaiseCallMsg(LONG lLinePos, LONG lCallPos, DWORD dwMessage, DWORD_PTR dwParam1, DWORD_PTR dwParam2,
                  DWORD_PTR dwParam3) {
    CFuncTrace trace(4, L"RaiseCallMsg");
    trace.Param(L"_lLinePos", L"%d", lLinePos);
    trace.Param(L"_lCallPos", L"%d", lCallPos);
    trace.Param(L"_dwMessage", L"%u", dwMessage);
    trace.Param(L"_dwParam1", L"0x%08X", static_cast<DWORD>(dwParam1));
    if (lLinePos < 0) return trace.Line(L"Abort.Warning.Bad line index");
    if (static_cast<DWORD>(lLinePos) >= g_dwDeviceCount) return trace.Line(L"Abort.Warning.Line index overflow");
    if (lCallPos < 0) return trace.Line(L"Abort.Warning.Bad call index");
    if (lCallPos >= kCallSlots) return trace.Line(L"Abort.Warning.Call index overflow");

    CProviderLockGuard lock(LockOwner::RaiseCallMsg);
    PhoneLine* pLine = GetPhoneLine(lLinePos);
    PhoneCall* pCall = GetPhoneCall(lLinePos, lCallPos);
    if (pCall == nullptr || IsBadWritePtr(pCall, sizeof(PhoneCall))) return trace.Line(L"Abort.Warning.Bad call pointer");

    // The record may be gone after this event; its partner is needed afterwards.
    const LONG lPartner = pCall->m_lPartnerID;
    LINECALLSTATUS* pStatus = pCall->m_pLineCallStatus;
    if (dwMessage == LINE_CALLSTATE && pStatus != nullptr) {
        pCall->m_dwLastState = static_cast<DWORD>(dwParam1);
        pStatus->dwCallState = static_cast<DWORD>(dwParam1);
        pStatus->dwCallStateMode = static_cast<DWORD>(dwParam2);
        pStatus->dwCallPrivilege |= static_cast<DWORD>(dwParam3);
    }

    if (pLine->m_htLine != nullptr) {
        UpdateAround(lLinePos, lPartner, 0);
        // A removed line that TAPI has not closed yet still holds its calls, but tells TAPI nothing more.
        if (g_pLineEventProc != nullptr && pStatus != nullptr && IsLineOpenToTapi(*pLine))
            g_pLineEventProc(pLine->m_htLine, pCall->m_htCall, dwMessage, dwParam1, dwParam2, pStatus->dwCallPrivilege);
        if (IsIdleState(dwMessage, dwParam1) && (pCall->m_dwCloseFlags & kCallClosedByTapi) != 0) {
            trace.Info(L"CloseCall remove idle call");
            RemovePhoneCall(pCall);
        }
    } else if (IsIdleState(dwMessage, dwParam1)) {
        trace.Info(L"CloseCall nonopen lines");
        RemovePhoneCall(pCall);
    }
    UpdateAround(lLinePos, lPartner, 1);
    trace.End();
}

void RaiseLineMsg(LONG lLinePos, DWORD dwMessage, DWORD_PTR dwParam1, DWORD_PTR dwParam2, DWORD_PTR dwParam3) {
    CFuncTrace trace(4, L"RaiseLineMsg");
    trace.Param(L"_lLinePos", L"%d", lLinePos);
    trace.Param(L"_dwMessage", L"%u", dwMessage);
    trace.Param(L"_dwParam1", L"0x%08X", static_cast<DWORD>(dwParam1));
    if (lLinePos < 0) return trace.Line(L"Abort.Warning.Bad line pos");
    PhoneLine* pLine = GetPhoneLine(lLinePos);
    if (pLine == nullptr) return trace.Line(L"Abort.Warning.Line pos overflow");

    // TAPI may ask for the status records as soon as it has the event.
    UpdateLine(lLinePos);
    const bool bOpen = IsLineOpenToTapi(*pLine);
    switch (dwMessage) {
        case LINE_LINEDEVSTATE:
            if (dwParam1 == LINEDEVSTATE_INSERVICE) pLine->m_bOutOfService = FALSE;
            if (g_pLineEventProc != nullptr && bOpen) {
                if (dwParam1 == LINEDEVSTATE_OUTOFSERVICE) pLine->m_bOutOfService = TRUE;
                g_pLineEventProc(pLine->m_htLine, nullptr, dwMessage, dwParam1, dwParam2, dwParam3);
            }
            break;
        case LINE_CREATE:
            if (g_pfnLineCreateProc != nullptr)
                g_pfnLineCreateProc(pLine->m_htLine, nullptr, dwMessage, dwParam1, dwParam2, dwParam3);
            break;
        case LINE_REMOVE: {
            // Also for a line nobody opened: then no line's event procedure may be known yet, and
            // the one TAPI gave for new lines takes the message.
            LINEEVENT pfnEventProc = g_pLineEventProc != nullptr ? g_pLineEventProc : g_pfnLineCreateProc;
            if (pfnEventProc != nullptr) pfnEventProc(pLine->m_htLine, nullptr, dwMessage, dwParam1, 0, 0);
            break;
        }
        default:
            if (g_pLineEventProc != nullptr && bOpen)
                g_pLineEventProc(pLine->m_htLine, nullptr, dwMessage, dwParam1, dwParam2, dwParam3);
            break;
    }
    trace.End();
}

void SendLineAddressStateMessage(LONG lLinePos) {
    CFuncTrace trace(4, L"SendLineAddressStateMessage");
    trace.Param(L"_lLinePos", L"%d", lLinePos);
    if (lLinePos < 0) return trace.Line(L"Abort.Warning.Bad line pos");
    PhoneLine* pLine = GetPhoneLine(lLinePos);
    if (pLine == nullptr) return trace.Line(L"Abort.Warning.Index overflow");
    if (!IsLineOpenToTapi(*pLine)) return trace.End();

    if (pLine->m_dwAddressStates & LINEADDRESSSTATE_NUMCALLS)
        RaiseLineMsg(lLinePos, LINE_ADDRESSSTATE, 0, LINEADDRESSSTATE_OTHER | LINEADDRESSSTATE_NUMCALLS, 0);
    if (pLine->m_dwLineStates & LINEDEVSTATE_NUMCALLS)
        RaiseLineMsg(lLinePos, LINE_LINEDEVSTATE, LINEDEVSTATE_OTHER | LINEDEVSTATE_NUMCALLS, 0, 0);
    trace.End();
}

void SendIdleState(LONG lPosActor, LONG lCallPosActor) {
    CFuncTrace trace(4, L"SendIdleState");
    trace.Param(L"_lPosActor", L"%d", lPosActor);
    trace.Param(L"_lCallPosActor", L"%d", lCallPosActor);
    PhoneCall* pCall = GetPhoneCall(lPosActor, lCallPosActor);
    if (pCall == nullptr) return trace.Line(L"Abort");

    if (pCall->m_dwLastState == LINECALLSTATE_CONNECTED || pCall->m_dwLastState == LINECALLSTATE_ONHOLD) {
        RaiseCallMsg(lPosActor, lCallPosActor, LINE_CALLSTATE, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL, 0);
        // Applications show the disconnected state before the call vanishes.
        Sleep(kDisconnectPauseMs);
    }
    RaiseCallMsg(lPosActor, lCallPosActor, LINE_CALLSTATE, LINECALLSTATE_IDLE, 0, 0);
    SendLineAddressStateMessage(lPosActor);
    trace.End();
}

void SetCallStatusIdle(LINECALLSTATUS* lpCallStatus) {
    CFuncTrace trace(4, L"SetCallStatusIdle");
    if (lpCallStatus == nullptr || IsBadWritePtr(lpCallStatus, sizeof(LINECALLSTATUS)))
        return trace.Line(L"Abort.Warning.Bad pointer");
    lpCallStatus->dwCallState = LINECALLSTATE_IDLE;
    lpCallStatus->dwCallStateMode = 0;
    lpCallStatus->dwCallPrivilege = 0;
    lpCallStatus->dwCallFeatures = 0;
    lpCallStatus->dwDevSpecificSize = 0;
    lpCallStatus->dwDevSpecificOffset = 0;
    lpCallStatus->dwCallFeatures2 = 0;
    lpCallStatus->dwNeededSize = lpCallStatus->dwUsedSize = lpCallStatus->dwTotalSize;
    trace.End();
}
