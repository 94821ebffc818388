// The call control exports: placing and dropping a call through the PBX,
// closing a call handle, the call's information and status records, and the
// call operations TAPI defines, which the PBX cannot carry out: they check
// their arguments and the call's state in full and then refuse.
#include "common/BoundedString.h"
#include "manager/CGenericTSPIManager.h"
#include "model/CallStateGroups.h"
#include "model/EventDelivery.h"
#include "model/EventOutbox.h"
#include "model/LineCaps.h"
#include "model/LineTable.h"
#include "model/RetiredCalls.h"
#include "provider/Destination.h"
#include "provider/ExportGuards.h"
#include "provider/TspiExports.h"

namespace {
constexpr DWORD kHeldStates = LINECALLSTATE_ONHOLD | LINECALLSTATE_ONHOLDPENDCONF | LINECALLSTATE_ONHOLDPENDTRANSFER;
// With the active call in one of these, a swap has nothing to swap with.
constexpr DWORD kBusyForSwap = kAllCallStates & ~(LINECALLSTATE_OFFERING | LINECALLSTATE_ACCEPTED |
                                                  LINECALLSTATE_CONNECTED | LINECALLSTATE_ONHOLD |
                                                  LINECALLSTATE_ONHOLDPENDTRANSFER);
constexpr LONG kCallSlotsFull = kCallSlots;

bool Is(DWORD dwState, DWORD dwMask) { return (dwState & dwMask) != 0; }

DWORD CountInStates(LONG lLinePos, DWORD dwMask) { return GetCallCountWithState(static_cast<DWORD>(lLinePos), dwMask); }
}  // namespace

extern "C" {

LONG TSPIAPI TSPI_lineMakeCall(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, HTAPICALL htCall, HDRVCALL* lphdCall,
                               LPCWSTR lpszDestAddress, DWORD dwCountryCode, const LINECALLPARAMS* lpCallParams) {
    return RunLockedExport(LockOwner::lineMakeCall, L"TSPI_lineMakeCall", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_dwRequestID", L"%u", dwRequestID);
        trace.Param(L"_hdLine", L"%p", hdLine);
        trace.Param(L"_htCall", L"%p", htCall);
        PhoneLine* pLine = LineRecordOf(hdLine);
        if (pLine == nullptr) return trace.Abort(LINEERR_INVALLINEHANDLE, 1);
        if (LONG lResult = RefuseRemovedLine(trace, pLine, 1)) return lResult;
        // A call without a number (for dial tone only) is not offered.
        if (lpszDestAddress == nullptr) return trace.Abort(LINEERR_INVALPOINTER, 2);
        if (!IsOpenLine(pLine)) return trace.Abort(LINEERR_INVALLINEHANDLE, 3);
        const LONG lLinePos = static_cast<LONG>(pLine->m_dwLinePos);
        // A line places a call only when it has no other; calls that are over go first.
        if (GetCallCount(pLine->m_dwLinePos) != 0) DeadCallTest(lLinePos);
        if (DWORD dwCount = GetCallCount(pLine->m_dwLinePos); dwCount != 0)
            return trace.Abort(LINEERR_INVALLINESTATE, 4, L"Call count=%d", dwCount);
        if (pLine->m_bOutOfService) return trace.Abort(LINEERR_OPERATIONUNAVAIL, 5, L"OutOfService");
        if (pLine->m_pLineDevCaps == nullptr || (pLine->m_pLineDevCaps->dwLineFeatures & LINEFEATURE_MAKECALL) == 0)
            return trace.Abort(LINEERR_OPERATIONUNAVAIL, 6, L"Missing line feature");
        if (pLine->m_pLineAddressCaps == nullptr ||
            (pLine->m_pLineAddressCaps->dwAddressFeatures & LINEADDRFEATURE_MAKECALL) == 0)
            return trace.Abort(LINEERR_OPERATIONUNAVAIL, 7, L"Missing address feature");

        const Destination destination = PrepareDestination(lpszDestAddress);
        if (destination.lTargetLinePos == lLinePos) return trace.Abort(LINEERR_INVALADDRESS, 8, L"Call to own device");
        if (destination.lTargetLinePos >= 0 &&
            GetCallCount(static_cast<DWORD>(destination.lTargetLinePos)) >= static_cast<DWORD>(kCallSlotsFull))
            return trace.Abort(LINEERR_OPERATIONFAILED, 9, L"Target has to much calls");
        // TAPI's handle of the new call must have somewhere to go.
        if (lphdCall == nullptr || IsBadWritePtr(lphdCall, sizeof(HDRVCALL))) return trace.Abort(LINEERR_INVALPOINTER, 10);

        LONG lCallPos = GenerateNewCall(pLine->m_dwLinePos, htCall, LINECALLORIGIN_OUTBOUND, 0, 0, -1);
        if (lCallPos < 0) return trace.Abort(LINEERR_OPERATIONFAILED, 11, L"No call generated");
        PhoneCall* pCall = GetPhoneCall(lLinePos, lCallPos);
        *lphdCall = reinterpret_cast<HDRVCALL>(pCall);
        InsertNumberToCallInfo(pCall, kNumberCalled, destination.szNumber, 1);
        // TAPI hears of the call only after the request's completion.
        HoldCallMessages(pCall, dwRequestID);

        LONG lResult = g_Manager.LineMakeCall(pLine, dwRequestID, destination.szNumber);
        if (lResult < 0) {
            // TAPI does not keep the handle of a make-call that failed at once.
            CompletionTold(dwRequestID, lResult);
            pCall->m_htCall = nullptr;
            RemovePhoneCall(pCall);
            *lphdCall = nullptr;
        }
        return lResult;
    });
}

LONG TSPIAPI TSPI_lineDrop(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
    return RunLockedExport(LockOwner::lineDrop, L"TSPI_lineDrop", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_dwRequestID", L"%u", dwRequestID);
        trace.Param(L"_hdCall", L"%p", hdCall);
        CCallHandleChecks checks(trace, hdCall);
        if (LONG lResult = checks.Handle(1)) return lResult;
        // The PBX ends the call; its events bring it to idle.
        return g_Manager.LineDrop(checks.Call(), dwRequestID);
    });
}

LONG TSPIAPI TSPI_lineCloseCall(HDRVCALL hdCall) {
    return RunLockedExport(LockOwner::lineCloseCall, L"TSPI_lineCloseCall", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdCall", L"%p", hdCall);
        auto* pCall = reinterpret_cast<PhoneCall*>(hdCall);
        // TAPI no longer refers to the call: what is no call needs no closing, and TAPI hears success.
        auto nothingToClose = [&](LONG lError, int nCheck) {
            trace.Abort(lError, nCheck);
            return 0L;
        };
        // A call that left its line while TAPI held it is let go of now.
        if (ReleaseRetiredCall(hdCall)) {
            trace.Info(L"Retired call released");
            return 0;
        }
        if (pCall == nullptr || IsBadWritePtr(pCall, sizeof(PhoneCall))) return nothingToClose(LINEERR_INVALCALLHANDLE, 1);
        if (pCall->m_pPhoneLine == nullptr) return nothingToClose(LINEERR_INVALLINEHANDLE, 2);
        if (IsBadWritePtr(pCall->m_pLineCallInfo, kCallInfoBufferSize)) return nothingToClose(LINEERR_INVALCALLHANDLE, 3);
        if (IsBadWritePtr(pCall->m_pLineCallStatus, sizeof(LINECALLSTATUS))) return nothingToClose(LINEERR_INVALCALLHANDLE, 4);
        if (GetLinePosFromPPCall(pCall) < 0) return trace.Abort(LINEERR_OPERATIONFAILED, 5);
        // A handle TAPI kept after its record went (stale) must not free it twice.
        if (!IsLiveCall(hdCall)) return nothingToClose(LINEERR_INVALCALLHANDLE, 6);

        switch (pCall->m_pLineCallStatus->dwCallState) {
            case 0:
            case LINECALLSTATE_IDLE:
            case LINECALLSTATE_UNKNOWN:
                pCall->m_dwCloseFlags |= kCallClosedByTapi;
                RemovePhoneCall(pCall);
                return 0;
            case LINECALLSTATE_DISCONNECTED:
                // Removed when the PBX's idle state for it is raised.
                trace.Warning(L"CloseCall on non-idle call");
                pCall->m_dwCloseFlags |= kCallClosedByTapi;
                return LINEERR_OPERATIONUNAVAIL;
            default:
                return LINEERR_OPERATIONUNAVAIL;
        }
    });
}

LONG TSPIAPI TSPI_lineGetCallInfo(HDRVCALL hdCall, LINECALLINFO* lpCallInfo) {
    return RunLockedExport(LockOwner::lineGetCallInfo, L"TSPI_lineGetCallInfo", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdCall", L"%p", hdCall);
        auto* pCall = reinterpret_cast<PhoneCall*>(hdCall);
        if (!IsLiveCall(hdCall)) return trace.Abort(LINEERR_INVALPOINTER, 1);
        if (LONG lResult = RefuseRemovedLine(trace, pCall->m_pPhoneLine, 1)) return lResult;
        if (IsBadReadPtr(pCall->m_pLineCallInfo, sizeof(LINECALLINFO))) return trace.Abort(LINEERR_INVALPOINTER, 2);
        if (lpCallInfo == nullptr || IsBadWritePtr(lpCallInfo, sizeof(LINECALLINFO))) return trace.Abort(LINEERR_INVALPOINTER, 3);
        if (!AnswerStatusRecord(lpCallInfo, pCall->m_pLineCallInfo, kCallInfoBufferSize))
            trace.Abort(LINEERR_STRUCTURETOOSMALL, 4);
        return 0;
    });
}

LONG TSPIAPI TSPI_lineGetCallStatus(HDRVCALL hdCall, LINECALLSTATUS* lpCallStatus) {
    return RunLockedExport(LockOwner::lineGetCallStatus, L"TSPI_lineGetCallStatus", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdCall", L"%p", hdCall);
        auto* pCall = reinterpret_cast<PhoneCall*>(hdCall);
        if (!IsLiveCall(hdCall)) {
            // A call TAPI still asks about after it is gone is idle.
            SetCallStatusIdle(lpCallStatus);
            return trace.Abort(LINEERR_INVALCALLHANDLE, 1);
        }
        if (LONG lResult = RefuseRemovedLine(trace, pCall->m_pPhoneLine, 1)) return lResult;
        if (IsBadReadPtr(pCall->m_pLineCallStatus, sizeof(LINECALLSTATUS))) {
            pCall->m_pLineCallStatus = nullptr;
            return trace.Abort(LINEERR_INVALPOINTER, 2);
        }
        if (IsBadReadPtr(pCall->m_pPhoneLine, sizeof(PhoneLine))) return trace.Abort(LINEERR_INVALPOINTER, 3);
        if (lpCallStatus == nullptr || IsBadWritePtr(lpCallStatus, sizeof(LINECALLSTATUS)))
            return trace.Abort(LINEERR_INVALPOINTER, 4);
        if (GetCallCount(pCall->m_pPhoneLine->m_dwLinePos) == 0) return trace.Abort(LINEERR_INVALPOINTER, 6);
        if (!AnswerStatusRecord(lpCallStatus, pCall->m_pLineCallStatus, sizeof(LINECALLSTATUS))) {
            trace.Abort(LINEERR_STRUCTURETOOSMALL, 7);
            return 0;
        }
        GetSystemTime(&lpCallStatus->tStateEntryTime);
        return 0;
    });
}

LONG TSPIAPI TSPI_lineGetCallAddressID(HDRVCALL hdCall, LPDWORD lpdwAddressID) {
    return RunLockedExport(LockOwner::lineGetCallAddressID, L"TSPI_lineGetCallAddressID", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdCall", L"%p", hdCall);
        if (hdCall == nullptr) return trace.Abort(LINEERR_INVALCALLHANDLE, 1);
        if (lpdwAddressID == nullptr || IsBadWritePtr(lpdwAddressID, sizeof(DWORD))) return trace.Abort(LINEERR_INVALPOINTER, 2);
        // Every line has exactly one address.
        *lpdwAddressID = 0;
        return 0;
    });
}

LONG TSPIAPI TSPI_lineSetAppSpecific(HDRVCALL hdCall, DWORD dwAppSpecific) {
    return RunLockedExport(LockOwner::lineSetAppSpecific, L"TSPI_lineSetAppSpecific", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdCall", L"%p", hdCall);
        trace.Param(L"_dwAppSpecific", L"0x%08X", dwAppSpecific);
        auto* pCall = reinterpret_cast<PhoneCall*>(hdCall);
        // Only a call still in its line is written to; a stale handle's memory may belong to another record.
        if (!IsLiveCall(hdCall) || IsBadWritePtr(pCall, sizeof(PhoneCall))) return trace.Abort(LINEERR_INVALCALLHANDLE, 1);
        if (LONG lResult = RefuseRemovedLine(trace, pCall->m_pPhoneLine, 1)) return lResult;
        if (pCall->m_pLineCallInfo == nullptr) return trace.Abort(LINEERR_OPERATIONFAILED, 2);
        pCall->m_pLineCallInfo->dwAppSpecific = dwAppSpecific;
        return 0;
    });
}

// The call operations the PBX cannot carry out: full checks, then refusal.

LONG TSPIAPI TSPI_lineAccept(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
    return RunLockedExport(LockOwner::lineAccept, L"TSPI_lineAccept", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdCall", L"%p", hdCall);
        CCallHandleChecks checks(trace, hdCall);
        if (LONG lResult = checks.Writable(1)) return lResult;
        if (LONG lResult = checks.HasLine(2)) return lResult;
        if (LONG lResult = checks.InService(3)) return lResult;
        if (checks.State() != LINECALLSTATE_OFFERING) return trace.Abort(LINEERR_INVALCALLSTATE, 6);
        if (LONG lResult = checks.InSlots(7)) return lResult;
        if (LONG lResult = checks.Feature(LINECALLFEATURE_ACCEPT)) return lResult;
        if (CountInStates(checks.LinePos(), kConferencing) != 0) return trace.Abort(LINEERR_INVALCALLSTATE, 8);
        return LINEERR_OPERATIONUNAVAIL;
    });
}

LONG TSPIAPI TSPI_lineAnswer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
    return RunLockedExport(LockOwner::lineAnswer, L"TSPI_lineAnswer", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdCall", L"%p", hdCall);
        CCallHandleChecks checks(trace, hdCall);
        if (LONG lResult = checks.Writable(1)) return lResult;
        if (LONG lResult = checks.HasLine(2)) return lResult;
        if (LONG lResult = checks.InService(3)) return lResult;
        if (!Is(checks.State(), LINECALLSTATE_OFFERING | LINECALLSTATE_ACCEPTED)) return trace.Abort(LINEERR_INVALCALLSTATE, 4);
        if (CountInStates(checks.LinePos(), kBusyForAnswer) != 0) return trace.Abort(LINEERR_INVALCALLSTATE, 5);
        if (LONG lResult = checks.InSlots(6)) return lResult;
        if (LONG lResult = checks.Feature(LINECALLFEATURE_ANSWER)) return lResult;
        return LINEERR_OPERATIONUNAVAIL;
    });
}

LONG TSPIAPI TSPI_lineDial(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode) {
    return RunLockedExport(LockOwner::lineDial, L"TSPI_lineDial", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdCall", L"%p", hdCall);
        CCallHandleChecks checks(trace, hdCall);
        if (LONG lResult = checks.HandlePointerAndFeature(lpszDestAddress, LINECALLFEATURE_DIAL)) return lResult;
        if (checks.State() != LINECALLSTATE_DIALTONE) return trace.Abort(LINEERR_INVALCALLSTATE, 6);
        const Destination destination = PrepareDestination(lpszDestAddress);
        if (destination.lTargetLinePos == checks.LinePos()) return trace.Abort(LINEERR_INVALADDRESS, 7);
        InsertNumberToCallInfo(checks.Call(), kNumberCalled, destination.szNumber, 1);
        return LINEERR_OPERATIONUNAVAIL;
    });
}

LONG TSPIAPI TSPI_lineHold(DRV_REQUESTID dwRequestID, HDRVCALL hdCall) {
    return RunLockedExport(LockOwner::lineHold, L"TSPI_lineHold", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdCall", L"%p", hdCall);
        CCallHandleChecks checks(trace, hdCall);
        if (LONG lResult = checks.Writable(1)) return lResult;
        if (LONG lResult = checks.HasLine(2, LINEERR_NODEVICE)) return lResult;
        if (GetCallCount(static_cast<DWORD>(checks.LinePos())) == 0) return trace.Abort(LINEERR_INVALCALLSTATE, 3);
        if (LONG lResult = checks.HasLine(4)) return lResult;
        if (LONG lResult = checks.InService(5)) return lResult;
        if (CountInStates(checks.LinePos(), kHeldOrPending) != 0) return trace.Abort(LINEERR_INVALCALLSTATE, 6);
        if (LONG lResult = checks.InSlots(7)) return lResult;
        if (LONG lResult = checks.Feature(LINECALLFEATURE_HOLD)) return lResult;
        if (checks.State() != LINECALLSTATE_CONNECTED) return trace.Abort(LINEERR_INVALCALLSTATE, 8);
        return LINEERR_OPERATIONUNAVAIL;
    });
}

LONG TSPIAPI TSPI_lineUnhold(DRV_REQUESTID dwRequestID, HDRVCALL hdCall) {
    return RunLockedExport(LockOwner::lineUnhold, L"TSPI_lineUnhold", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdCall", L"%p", hdCall);
        CCallHandleChecks checks(trace, hdCall);
        if (LONG lResult = checks.Writable(1)) return lResult;
        if (LONG lResult = checks.HasLine(2)) return lResult;
        if (GetCallCount(static_cast<DWORD>(checks.LinePos())) == 0) return trace.Abort(LINEERR_OPERATIONFAILED, 3);
        if (LONG lResult = checks.InService(4)) return lResult;
        if (LONG lResult = checks.InSlots(5)) return lResult;
        if (LONG lResult = checks.Feature(LINECALLFEATURE_UNHOLD)) return lResult;
        if (!Is(checks.State(), kHeldStates)) return trace.Abort(LINEERR_INVALCALLSTATE, 6);
        if (Is(checks.State(), kActiveForUnhold)) return trace.Abort(LINEERR_INVALCALLSTATE, 7);
        return LINEERR_OPERATIONUNAVAIL;
    });
}

LONG TSPIAPI TSPI_lineSwapHold(DRV_REQUESTID dwRequestID, HDRVCALL hdActiveCall, HDRVCALL hdHeldCall) {
    return RunLockedExport(LockOwner::lineSwapHold, L"TSPI_lineSwapHold", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdActiveCall", L"%p", hdActiveCall);
        trace.Param(L"_hdHeldCall", L"%p", hdHeldCall);
        CCallHandleChecks active(trace, hdActiveCall);
        CCallHandleChecks held(trace, hdHeldCall);
        if (LONG lResult = active.Writable(1)) return lResult;
        if (LONG lResult = held.Writable(2)) return lResult;
        if (LONG lResult = active.HasLine(3, LINEERR_NODEVICE)) return lResult;
        if (LONG lResult = active.InService(4)) return lResult;
        if (LONG lResult = active.InSlots(5)) return lResult;
        if (active.State() != LINECALLSTATE_CONNECTED) return trace.Abort(LINEERR_INVALCALLSTATE, 6);
        if (LONG lResult = held.InSlotsOf(active.LinePos(), 7, LINEERR_INVALCALLSTATE)) return lResult;
        if (!Is(held.State(), kHeld)) return trace.Abort(LINEERR_INVALCALLSTATE, 8);
        if (hdActiveCall == hdHeldCall) return trace.Abort(LINEERR_INVALPARAM, 9);
        if (LONG lResult = held.Feature(LINECALLFEATURE_SWAPHOLD)) return lResult;
        if (LONG lResult = active.Feature(LINECALLFEATURE_SWAPHOLD)) return lResult;
        if (CountInStates(active.LinePos(), kBusyForSwap) != 0) return trace.Abort(LINEERR_INVALCALLSTATE, 10);
        return LINEERR_OPERATIONUNAVAIL;
    });
}

LONG TSPIAPI TSPI_lineGenerateDigits(HDRVCALL hdCall, DWORD dwEndToEndID, DWORD dwDigitMode, LPCWSTR lpszDigits,
                                     DWORD dwDuration) {
    return RunLockedExport(LockOwner::lineGenerateDigits, L"TSPI_lineGenerateDigits", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdCall", L"%p", hdCall);
        CCallHandleChecks checks(trace, hdCall);
        if (LONG lResult = checks.Handle(1)) return lResult;
        if (LONG lResult = checks.Feature(LINECALLFEATURE_GENERATEDIGITS)) return lResult;
        return LINEERR_OPERATIONUNAVAIL;
    });
}

// Digits, tones, call data, parameters and user-user information: not offered.
LONG TSPIAPI TSPI_lineGatherDigits(HDRVCALL, DWORD, DWORD, LPWSTR, DWORD, LPCWSTR, DWORD, DWORD) {
    return RefuseRequest(L"TSPI_lineGatherDigits");
}
LONG TSPIAPI TSPI_lineGenerateTone(HDRVCALL, DWORD, DWORD, DWORD, DWORD, LPVOID const) {
    return RefuseRequest(L"TSPI_lineGenerateTone");
}
LONG TSPIAPI TSPI_lineSetCallData(DRV_REQUESTID, HDRVCALL, LPVOID, DWORD) { return RefuseRequest(L"TSPI_lineSetCallData"); }
LONG TSPIAPI TSPI_lineSetCallParams(DRV_REQUESTID, HDRVCALL, DWORD, DWORD, DWORD, const LINEDIALPARAMS*) {
    return RefuseRequest(L"TSPI_lineSetCallParams");
}
LONG TSPIAPI TSPI_lineSetCallQualityOfService(DRV_REQUESTID, HDRVCALL, LPVOID, DWORD, LPVOID, DWORD) {
    return RefuseRequest(L"TSPI_lineSetCallQualityOfService");
}
LONG TSPIAPI TSPI_lineSetCallTreatment(DRV_REQUESTID, HDRVCALL, DWORD) { return RefuseRequest(L"TSPI_lineSetCallTreatment"); }
LONG TSPIAPI TSPI_lineSetMediaMode(HDRVCALL, DWORD) { return RefuseRequest(L"TSPI_lineSetMediaMode"); }
LONG TSPIAPI TSPI_lineSecureCall(DRV_REQUESTID, HDRVCALL) { return RefuseRequest(L"TSPI_lineSecureCall"); }
LONG TSPIAPI TSPI_lineSendUserUserInfo(DRV_REQUESTID, HDRVCALL, LPCSTR, DWORD) {
    return RefuseRequest(L"TSPI_lineSendUserUserInfo");
}
LONG TSPIAPI TSPI_lineReleaseUserUserInfo(DRV_REQUESTID, HDRVCALL) { return RefuseRequest(L"TSPI_lineReleaseUserUserInfo"); }

}  // extern "C"
