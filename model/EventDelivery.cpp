#include "model/EventDelivery.h"

#include "common/CallIdRanges.h"
#include "common/StageClock.h"
#include "log/Trace.h"
#include "model/CallFeatures.h"
#include "model/CallRecord.h"
#include "model/LineCaps.h"
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

// The origins whose line is the called party; an outbound call's line is the caller.
LONG OwnAddressSlot(DWORD dwOrigin) {
    switch (dwOrigin) {
        case LINECALLORIGIN_OUTBOUND: return kNumberCaller;
        case LINECALLORIGIN_INTERNAL:
        case LINECALLORIGIN_EXTERNAL:
        case LINECALLORIGIN_INBOUND: return kNumberCalled;
        default: return -1;
    }
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
        if (g_pLineEventProc != nullptr && pStatus != nullptr && IsLineOpenToTapi(*pLine)) {
            MarkStage(Stage::Delivering);
            g_pLineEventProc(pLine->m_htLine, pCall->m_htCall, dwMessage, dwParam1, dwParam2, pStatus->dwCallPrivilege);
            EndStages(dwMessage, dwParam1);
        }
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

void UpdateCall(LONG lLinePos, LONG lCallPos, BOOL bSendEvent) {
    CFuncTrace trace(4, L"UpdateCall", TracePrefix::Func, false);
    PhoneLine* pLine = GetPhoneLine(lLinePos);
    if (pLine == nullptr) {
        trace.Line(L"Abort.Warning.Bad line pos %d", lLinePos);
        return;
    }
    if (lCallPos < 0 || lCallPos >= kCallSlots) {
        trace.Line(L"Abort.Warning.Bad call pos %d", lCallPos);
        return;
    }
    PhoneCall* pCall = pLine->m_pPhoneCall[lCallPos];
    if (pCall == nullptr) {
        trace.Line(L"Abort.No call pointer");
        return;
    }
    if (pCall->m_pLineCallStatus == nullptr || pCall->m_pLineCallInfo == nullptr) {
        trace.Line(L"Abort.Warning.Bad pointer");
        return;
    }

    const ULONGLONG qwFeatures = StoreCallFeatures(lLinePos, lCallPos, *pCall);
    if (bSendEvent && qwFeatures != pCall->m_qwReportedFeatures) {
        // Recorded before the event: the updates that event runs find nothing new, which ends the recursion.
        pCall->m_qwReportedFeatures = qwFeatures;
        trace.Info(L"Line %d call %d features 0x%08X", lLinePos, lCallPos, static_cast<DWORD>(qwFeatures >> 32));
        RaiseCallMsg(lLinePos, lCallPos, LINE_CALLINFO, LINECALLINFOSTATE_OTHER, 0, 0);
    }
}

void UpdateAllFeatures(LONG lLinePos, BOOL bSendEvent) {
    if (lLinePos < 0) {
        Trace(4, L"Func.UpdateAllFeatures.Abort.No valid line index");
        return;
    }
    for (LONG k = 0; k < kCallSlots; ++k) UpdateCall(lLinePos, k, bSendEvent);
    UpdateLine(lLinePos);
}

void UpdatePartners(LONG lLinePos, BOOL bSendEvent) {
    if (lLinePos < 0) {
        Trace(4, L"Func.UpdatePartners.Abort.Warning.Bad line index");
        return;
    }
    for (LONG k = 0; k < kCallSlots; ++k)
        if (PhoneCall* pCall = GetPhoneCall(lLinePos, k)) UpdateAllFeatures(pCall->m_lPartnerID, bSendEvent);
}

LONG GenerateNewCall(DWORD dwLinePos, HTAPICALL htCall, DWORD dwOrigin, DWORD dwPBXCall, DWORD dwCallID,
                     LONG lPartnerID) {
    CFuncTrace trace(3, L"GenerateNewCall");
    trace.Param(L"_dwLinePos", L"%u", dwLinePos);
    trace.Param(L"_htCall", L"%p", htCall);
    trace.Param(L"_dwOrigin", L"0x%08X", dwOrigin);
    trace.Param(L"_dwPBXCall", L"%u", dwPBXCall);
    trace.Param(L"_dwCallID", L"%u", dwCallID);
    trace.Param(L"_lPartnerID", L"%d", lPartnerID);
    PhoneLine* pLine = GetPhoneLine(static_cast<LONG>(dwLinePos));
    if (pLine == nullptr) {
        trace.Line(L"Abort.Warning.Bad line pos %u", dwLinePos);
        return -1;
    }

    PhoneCall* pCall = NewPhoneCall();
    if (pCall == nullptr) {
        trace.Line(L"Abort.Error.Malloc failed");
        return -1;
    }
    LINECALLINFO* pInfo = pCall->m_pLineCallInfo;
    LINECALLSTATUS* pStatus = pCall->m_pLineCallStatus;
    pCall->m_pPhoneLine = pLine;
    pCall->m_htCall = htCall;
    pCall->m_dwPBXCall = dwPBXCall;
    pCall->m_lPartnerID = lPartnerID;

    // Ids the provider invents stay out of the PBX's call-number range.
    if (dwCallID == 0) dwCallID = LocalCallId(++g_dwNextCallID);
    FillNewCallInfo(pInfo, *pLine, dwOrigin, dwCallID);
    LONG lOwnSlot = OwnAddressSlot(dwOrigin);
    if (lOwnSlot >= 0) InsertNumberToCallInfo(pCall, static_cast<DWORD>(lOwnSlot), pLine->m_szAddress, 1);
    FillNewCallStatus(pStatus);

    LONG lCallPos = InsertLineCallPointer(pLine, pCall);
    if (lCallPos >= 0) {
        // A call TAPI did not ask for is announced, and TAPI writes its handle into m_htCall.
        if (htCall == nullptr)
            RaiseLineMsg(static_cast<LONG>(dwLinePos), LINE_NEWCALL, reinterpret_cast<DWORD_PTR>(pCall),
                         reinterpret_cast<DWORD_PTR>(&pCall->m_htCall), 0);
        RaiseCallMsg(static_cast<LONG>(dwLinePos), lCallPos, LINE_CALLINFO, kNewCallInfoStates, 0, 0);
    }
    ++g_dwPBXCallCounter;

    if (lCallPos < 0) {
        DeletePhoneCall(pCall);
        trace.Line(L"Abort.Warning.No free call slot");
        return -1;
    }
    trace.Var(L"dwCallID", L"%u", dwCallID);
    trace.Line(L"End.Result %d", lCallPos);
    return lCallPos;
}

void RemovePhoneCall(PhoneCall* pPhoneCall) {
    CFuncTrace trace(3, L"RemovePhoneCall");
    trace.Param(L"_pPhoneCall", L"%p", pPhoneCall);
    LONG lLinePos = GetLinePosFromPPCall(pPhoneCall);
    if (lLinePos < 0) {
        trace.Line(L"Abort");
        return;
    }
    RemovePhoneCallSilent(pPhoneCall);
    // The remaining calls may now offer more; tell TAPI.
    UpdateAllFeatures(lLinePos, 1);
    UpdatePartners(lLinePos, 1);
    trace.End();
}

DWORD DeadCallTest(LONG lPos) {
    CFuncTrace trace(3, L"DeadCallTest");
    trace.Param(L"_lPos", L"%d", lPos);
    DWORD dwActed = 0;
    if (PhoneCall* pCall = GetPhoneCall(lPos, 1)) {
        if (pCall->m_dwLastState == LINECALLSTATE_IDLE) {
            RemovePhoneCall(pCall);
            dwActed = 1;
        } else if (pCall->m_dwLastState == LINECALLSTATE_UNKNOWN) {
            // Idles it towards TAPI; removed at once when nobody can close it any more.
            RaiseCallMsg(lPos, 1, LINE_CALLSTATE, LINECALLSTATE_IDLE, 0, LINECALLPRIVILEGE_OWNER);
            dwActed = 1;
        }
    }
    if (PhoneCall* pCall = GetPhoneCall(lPos, 0)) {
        if (pCall->m_dwLastState == LINECALLSTATE_IDLE || pCall->m_dwLastState == LINECALLSTATE_UNKNOWN) {
            RemovePhoneCall(pCall);
            dwActed = 1;
        }
    }
    trace.Line(L"End.Result %u", dwActed);
    return dwActed;
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
