// TAPI's supplementary services: transfer, redirection, conferences, pickup,
// park, forwarding and call completion. The PBX offers none of them and the
// capabilities announce none, so every export ends with a refusal; each still
// checks like a provider that could do it, and the ones that would create a
// consultation or conference call build it and release it again, so that
// TAPI sees the same events before the refusal.
#include "model/CallStateGroups.h"
#include "model/EventDelivery.h"
#include "model/LineTable.h"
#include "provider/Destination.h"
#include "provider/ExportGuards.h"
#include "provider/ProvisionalCall.h"
#include "provider/TspiExports.h"

namespace {
constexpr DWORD kBusyForTransfer = LINECALLSTATE_DIALTONE | LINECALLSTATE_DIALING | LINECALLSTATE_RINGBACK |
                                   LINECALLSTATE_PROCEEDING | LINECALLSTATE_ONHOLD | LINECALLSTATE_CONFERENCED |
                                   LINECALLSTATE_ONHOLDPENDCONF | LINECALLSTATE_ONHOLDPENDTRANSFER;
constexpr DWORD kConferenceParties = LINECALLSTATE_RINGBACK | LINECALLSTATE_BUSY | LINECALLSTATE_CONNECTED |
                                     LINECALLSTATE_PROCEEDING | LINECALLSTATE_CONFERENCED |
                                     LINECALLSTATE_ONHOLDPENDCONF;
constexpr DWORD kMinConferenceParties = 3;

// The first fields of a LINEFORWARDLIST.
struct ForwardListHeader {
    DWORD dwTotalSize;
    DWORD dwNumEntries;
};

DWORD CountInStates(LONG lLinePos, DWORD dwMask) { return GetCallCountWithState(static_cast<DWORD>(lLinePos), dwMask); }

bool TargetIsFull(LONG lTargetLinePos) {
    return lTargetLinePos >= 0 && GetCallCount(static_cast<DWORD>(lTargetLinePos)) >= static_cast<DWORD>(kCallSlots);
}

DWORD CallIDOf(const PhoneCall* pCall) { return pCall->m_pLineCallInfo != nullptr ? pCall->m_pLineCallInfo->dwCallID : 0; }

// The checks a transfer or redirection makes of its destination, after the
// call's own. A destination outside the provider is no line, and so neither
// the call's line nor its partner's.
LONG CheckTransferTarget(const CFuncTrace& trace, const CCallHandleChecks& call, const Destination& destination,
                         LONG lErrorSameLine) {
    const LONG lPartner = call.Call()->m_lPartnerID;
    if (destination.lTargetLinePos == call.LinePos()) return trace.Abort(lErrorSameLine, 7);
    if (lPartner == call.LinePos()) return trace.Abort(lErrorSameLine, 8);
    if (destination.lTargetLinePos >= 0 && destination.lTargetLinePos == lPartner)
        return trace.Abort(lErrorSameLine, 9);
    if (TargetIsFull(destination.lTargetLinePos)) return trace.Abort(LINEERR_OPERATIONFAILED, 10);
    return 0;
}
}  // namespace

extern "C" {

LONG TSPIAPI TSPI_lineSetupTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, HTAPICALL htConsultCall,
                                    HDRVCALL* lphdConsultCall, const LINECALLPARAMS* lpCallParams) {
    return RunLockedExport(LockOwner::lineSetupTransfer, L"TSPI_lineSetupTransfer", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdCall", L"%p", hdCall);
        CCallHandleChecks checks(trace, hdCall);
        if (LONG lResult = checks.Writable(1)) return lResult;
        if (lphdConsultCall == nullptr) return trace.Abort(LINEERR_INVALPOINTER, 2);
        if (LONG lResult = checks.HasLine(3)) return lResult;
        DeadCallTest(checks.LinePos());
        if (LONG lResult = checks.InService(4)) return lResult;
        if (LONG lResult = checks.InSlots(5)) return lResult;
        if (LONG lResult = checks.Feature(LINECALLFEATURE_SETUPTRANSFER)) return lResult;
        if (CountInStates(checks.LinePos(), kBusyForTransfer) != 0) return trace.Abort(LINEERR_INVALCALLSTATE, 6);
        CProvisionalCall consult(checks.LinePos(), htConsultCall, LINECALLORIGIN_OUTBOUND, 0);
        if (!consult.Created()) return trace.Abort(LINEERR_OPERATIONFAILED, 7);
        if (GetFirstCallPosWithState(static_cast<DWORD>(checks.LinePos()), LINECALLSTATE_UNKNOWN) < 0)
            return trace.Abort(LINEERR_OPERATIONFAILED, 8);
        consult.HandTo(lphdConsultCall);
        return LINEERR_OPERATIONUNAVAIL;
    });
}

LONG TSPIAPI TSPI_lineCompleteTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, HDRVCALL hdConsultCall,
                                       HTAPICALL htConfCall, HDRVCALL* lphdConfCall, DWORD dwTransferMode) {
    return RunLockedExport(LockOwner::lineCompleteTransfer, L"TSPI_lineCompleteTransfer", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdCall", L"%p", hdCall);
        trace.Param(L"_hdConsultCall", L"%p", hdConsultCall);
        trace.Param(L"_dwTransferMode", L"0x%08X", dwTransferMode);
        CCallHandleChecks call(trace, hdCall);
        CCallHandleChecks consult(trace, hdConsultCall);
        if (LONG lResult = call.Writable(1)) return lResult;
        if (LONG lResult = consult.Writable(2, LINEERR_INVALPOINTER)) return lResult;
        if (LONG lResult = call.HasLine(3)) return lResult;
        if (LONG lResult = consult.HasLine(4)) return lResult;
        // From here on both calls are taken on the consultation call's line.
        const LONG lLinePos = consult.LinePos();
        if (LONG lResult = consult.InService(5)) return lResult;
        if (CountInStates(lLinePos, LINECALLSTATE_DIALTONE) != 0) return trace.Abort(LINEERR_INVALCALLSTATE, 6);
        if (LONG lResult = call.InSlotsOf(lLinePos, 7)) return lResult;
        if (LONG lResult = consult.InSlots(8)) return lResult;
        if (call.CallPos() == consult.CallPos()) return trace.Abort(LINEERR_INVALCALLSTATE, 9);
        if (LONG lResult = consult.Feature(LINECALLFEATURE_COMPLETETRANSF)) return lResult;
        const DWORD dwCallFeatures2 = GetPhoneLine(lLinePos)->m_pLineAddressCaps != nullptr
                                          ? GetPhoneLine(lLinePos)->m_pLineAddressCaps->dwCallFeatures2
                                          : 0;
        if (dwTransferMode == LINETRANSFERMODE_TRANSFER && (dwCallFeatures2 & LINECALLFEATURE2_TRANSFERNORM) == 0)
            return trace.Abort(LINEERR_OPERATIONUNAVAIL, 10);
        if (dwTransferMode == LINETRANSFERMODE_CONFERENCE && (dwCallFeatures2 & LINECALLFEATURE2_TRANSFERCONF) == 0)
            return trace.Abort(LINEERR_OPERATIONUNAVAIL, 11);
        if (dwTransferMode != LINETRANSFERMODE_CONFERENCE) return LINEERR_OPERATIONUNAVAIL;
        if (CountInStates(call.Call()->m_lPartnerID, kConferencing) != 0) return trace.Abort(LINEERR_OPERATIONFAILED, 12);
        if (CountInStates(consult.Call()->m_lPartnerID, kConferencing) != 0) return trace.Abort(LINEERR_OPERATIONFAILED, 13);
        if (lphdConfCall == nullptr) return trace.Abort(LINEERR_INVALPOINTER, 14);
        CProvisionalCall conference(lLinePos, htConfCall, LINECALLORIGIN_CONFERENCE, CallIDOf(call.Call()));
        if (!conference.Created()) return trace.Abort(LINEERR_OPERATIONFAILED, 15);
        conference.HandTo(lphdConfCall);
        return LINEERR_OPERATIONUNAVAIL;
    });
}

LONG TSPIAPI TSPI_lineBlindTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCWSTR lpszDestAddress,
                                    DWORD dwCountryCode) {
    return RunLockedExport(LockOwner::lineBlindTransfer, L"TSPI_lineBlindTransfer", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdCall", L"%p", hdCall);
        if (lpszDestAddress == nullptr) return trace.Abort(LINEERR_INVALADDRESS, 1);
        CCallHandleChecks checks(trace, hdCall);
        if (LONG lResult = checks.Handle(2)) return lResult;
        if (LONG lResult = checks.Feature(LINECALLFEATURE_BLINDTRANSFER)) return lResult;
        if (checks.State() != LINECALLSTATE_CONNECTED) return trace.Abort(LINEERR_INVALCALLSTATE, 6);
        if (LONG lResult = CheckTransferTarget(trace, checks, PrepareDestination(lpszDestAddress), LINEERR_OPERATIONFAILED))
            return lResult;
        return LINEERR_OPERATIONUNAVAIL;
    });
}

LONG TSPIAPI TSPI_lineRedirect(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode) {
    return RunLockedExport(LockOwner::lineRedirect, L"TSPI_lineRedirect", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdCall", L"%p", hdCall);
        CCallHandleChecks checks(trace, hdCall);
        if (LONG lResult = checks.HandlePointerAndFeature(lpszDestAddress, LINECALLFEATURE_REDIRECT)) return lResult;
        if (checks.State() != LINECALLSTATE_OFFERING && checks.State() != LINECALLSTATE_ACCEPTED)
            return trace.Abort(LINEERR_INVALCALLSTATE, 6);
        if (LONG lResult = CheckTransferTarget(trace, checks, PrepareDestination(lpszDestAddress), LINEERR_INVALADDRESS))
            return lResult;
        return LINEERR_OPERATIONUNAVAIL;
    });
}

LONG TSPIAPI TSPI_lineSetupConference(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, HDRVLINE hdLine, HTAPICALL htConfCall,
                                      HDRVCALL* lphdConfCall, HTAPICALL htConsultCall, HDRVCALL* lphdConsultCall,
                                      DWORD dwNumParties, const LINECALLPARAMS* lpCallParams) {
    return RunLockedExport(LockOwner::lineSetupConference, L"TSPI_lineSetupConference", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdCall", L"%p", hdCall);
        // A conference is only set up from an existing call; hdLine is not used.
        CCallHandleChecks checks(trace, hdCall);
        if (LONG lResult = checks.Writable(1)) return lResult;
        if (lphdConfCall == nullptr) return trace.Abort(LINEERR_INVALPOINTER, 2);
        if (lphdConsultCall == nullptr) return trace.Abort(LINEERR_INVALPOINTER, 3);
        if (LONG lResult = checks.HasLine(4)) return lResult;
        DeadCallTest(checks.LinePos());
        if (LONG lResult = checks.InService(5)) return lResult;
        if (GetCallCount(static_cast<DWORD>(checks.LinePos())) != 1) return trace.Abort(LINEERR_INVALCALLSTATE, 6);
        if (LONG lResult = checks.InSlots(7)) return lResult;
        if (LONG lResult = checks.Feature(LINECALLFEATURE_SETUPCONF)) return lResult;
        if (checks.State() != LINECALLSTATE_CONNECTED) return trace.Abort(LINEERR_INVALCALLSTATE, 8);
        // Released in reverse: the consultation call first, then the conference call.
        CProvisionalCall conference(checks.LinePos(), htConfCall, LINECALLORIGIN_CONFERENCE, CallIDOf(checks.Call()));
        if (!conference.Created()) return trace.Abort(LINEERR_OPERATIONFAILED, 9);
        CProvisionalCall consult(checks.LinePos(), htConsultCall, LINECALLORIGIN_OUTBOUND, 0);
        if (!consult.Created()) return trace.Abort(LINEERR_OPERATIONFAILED, 10);
        conference.HandTo(lphdConfCall);
        consult.HandTo(lphdConsultCall);
        return LINEERR_OPERATIONUNAVAIL;
    });
}

LONG TSPIAPI TSPI_linePrepareAddToConference(DRV_REQUESTID dwRequestID, HDRVCALL hdConfCall, HTAPICALL htConsultCall,
                                             HDRVCALL* lphdConsultCall, const LINECALLPARAMS* lpCallParams) {
    return RunLockedExport(LockOwner::linePrepareAddToConference, L"TSPI_linePrepareAddToConference",
                           [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdConfCall", L"%p", hdConfCall);
        CCallHandleChecks checks(trace, hdConfCall);
        if (LONG lResult = checks.HandlePointerAndFeature(lphdConsultCall, LINECALLFEATURE_PREPAREADDCONF)) return lResult;
        CProvisionalCall consult(checks.LinePos(), htConsultCall, LINECALLORIGIN_OUTBOUND, CallIDOf(checks.Call()));
        if (!consult.Created()) return trace.Abort(LINEERR_OPERATIONFAILED, 6);
        consult.HandTo(lphdConsultCall);
        return LINEERR_OPERATIONUNAVAIL;
    });
}

LONG TSPIAPI TSPI_lineAddToConference(DRV_REQUESTID dwRequestID, HDRVCALL hdConfCall, HDRVCALL hdConsultCall) {
    return RunLockedExport(LockOwner::lineAddToConference, L"TSPI_lineAddToConference", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdConfCall", L"%p", hdConfCall);
        trace.Param(L"_hdConsultCall", L"%p", hdConsultCall);
        CCallHandleChecks conference(trace, hdConfCall);
        CCallHandleChecks consult(trace, hdConsultCall);
        if (LONG lResult = conference.Writable(1)) return lResult;
        if (LONG lResult = consult.Writable(2)) return lResult;
        if (LONG lResult = conference.HasLine(3)) return lResult;
        if (LONG lResult = conference.InService(4)) return lResult;
        const LONG lLinePos = conference.LinePos();
        if (DWORD dwParties = CountInStates(lLinePos, kConferenceParties); dwParties < kMinConferenceParties)
            return trace.Abort(LINEERR_INVALCALLSTATE, 5, L"Call count %d", dwParties);
        if (LONG lResult = conference.InSlots(6)) return lResult;
        if (LONG lResult = consult.InSlotsOf(lLinePos, 7)) return lResult;
        if (LONG lResult = conference.Feature(LINECALLFEATURE_ADDTOCONF)) return lResult;
        if (LONG lResult = consult.Feature(LINECALLFEATURE_ADDTOCONF)) return lResult;
        return trace.Abort(LINEERR_INVALCALLSTATE, 8);
    });
}

LONG TSPIAPI TSPI_lineRemoveFromConference(DRV_REQUESTID dwRequestID, HDRVCALL hdCall) {
    return RunLockedExport(LockOwner::lineRemoveFromConference, L"TSPI_lineRemoveFromConference",
                           [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdCall", L"%p", hdCall);
        CCallHandleChecks checks(trace, hdCall);
        if (LONG lResult = checks.Writable(1)) return lResult;
        if (LONG lResult = checks.HasLine(2)) return lResult;
        if (LONG lResult = checks.InService(3)) return lResult;
        if (CountInStates(checks.LinePos(), LINECALLSTATE_ONHOLDPENDCONF) != 0) return trace.Abort(LINEERR_OPERATIONFAILED, 4);
        if (LONG lResult = checks.InSlots(5)) return lResult;
        if (LONG lResult = checks.Feature(LINECALLFEATURE_REMOVEFROMCONF)) return lResult;
        if (CountInStates(checks.Call()->m_lPartnerID, kConferencing) != 0) return trace.Abort(LINEERR_OPERATIONFAILED, 6);
        return LINEERR_OPERATIONUNAVAIL;
    });
}

LONG TSPIAPI TSPI_linePickup(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD dwAddressID, HTAPICALL htCall,
                             HDRVCALL* lphdCall, LPCWSTR lpszDestAddress, LPCWSTR lpszGroupID) {
    return RunLockedExport(LockOwner::linePickup, L"TSPI_linePickup", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdLine", L"%p", hdLine);
        PhoneLine* pLine = LineRecordOf(hdLine);
        if (pLine == nullptr) return trace.Abort(LINEERR_INVALLINEHANDLE, 1);
        if (LONG lResult = RefuseRemovedLine(trace, pLine, 1)) return lResult;
        if (lpszDestAddress == nullptr) return trace.Abort(LINEERR_INVALADDRESS, 2);
        if (!IsOpenLine(pLine)) return trace.Abort(LINEERR_INVALLINEHANDLE, 3);
        const LONG lLinePos = static_cast<LONG>(pLine->m_dwLinePos);
        if (GetCallCount(pLine->m_dwLinePos) != 0) return trace.Abort(LINEERR_INVALLINESTATE, 4);
        if (pLine->m_bOutOfService) return trace.Abort(LINEERR_OPERATIONUNAVAIL, 5, L"Out of service");
        if (pLine->m_pLineAddressCaps == nullptr ||
            (pLine->m_pLineAddressCaps->dwAddressFeatures & LINEADDRFEATURE_PICKUP) == 0)
            return trace.Abort(LINEERR_OPERATIONUNAVAIL, 6);
        const Destination destination = PrepareDestination(lpszDestAddress, ForwardHook::Skip);
        if (destination.lTargetLinePos < 0) return trace.Abort(LINEERR_INVALADDRESS, 7);
        if (destination.lTargetLinePos == lLinePos) return trace.Abort(LINEERR_INVALADDRESS, 8);
        if (TargetIsFull(destination.lTargetLinePos)) return trace.Abort(LINEERR_OPERATIONFAILED, 9);
        CProvisionalCall picked(lLinePos, htCall, LINECALLORIGIN_INTERNAL, 0);
        if (!picked.Created()) return trace.Abort(LINEERR_OPERATIONFAILED, 10);
        picked.HandTo(lphdCall);
        return LINEERR_OPERATIONUNAVAIL;
    });
}

LONG TSPIAPI TSPI_lineForward(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD bAllAddresses, DWORD dwAddressID,
                              LPVOID const lpForwardList, DWORD dwNumRingsNoAnswer, HTAPICALL htConsultCall,
                              HDRVCALL* lphdConsultCall, const LINECALLPARAMS* lpCallParams) {
    return RunLockedExport(LockOwner::lineForward, L"TSPI_lineForward", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdLine", L"%p", hdLine);
        PhoneLine* pLine = LineRecordOf(hdLine);
        if (pLine == nullptr) return trace.Abort(LINEERR_INVALLINEHANDLE, 1);
        if (LONG lResult = RefuseRemovedLine(trace, pLine, 1)) return lResult;
        if (lphdConsultCall == nullptr) return trace.Abort(LINEERR_INVALPOINTER, 2);
        if (!IsOpenLine(pLine)) return trace.Abort(LINEERR_INVALLINEHANDLE, 3);
        const LONG lLinePos = static_cast<LONG>(pLine->m_dwLinePos);
        DeadCallTest(lLinePos);
        if (GetCallCount(pLine->m_dwLinePos) != 0) return trace.Abort(LINEERR_INVALLINESTATE, 4);
        if (pLine->m_bOutOfService) return trace.Abort(LINEERR_OPERATIONUNAVAIL, 5, L"Out of service");
        const DWORD dwLineFeatures = pLine->m_pLineDevCaps != nullptr ? pLine->m_pLineDevCaps->dwLineFeatures : 0;
        if ((dwLineFeatures & (LINEFEATURE_FORWARDFWD | LINEFEATURE_FORWARDDND)) == 0)
            return trace.Abort(LINEERR_OPERATIONUNAVAIL, 6);
        if (pLine->m_pLineAddressCaps == nullptr ||
            (pLine->m_pLineAddressCaps->dwAddressFeatures & LINEADDRFEATURE_FORWARD) == 0)
            return trace.Abort(LINEERR_OPERATIONUNAVAIL, 7);
        if (lpForwardList != nullptr) {
            const auto* pList = static_cast<const ForwardListHeader*>(lpForwardList);
            if (IsBadReadPtr(pList, sizeof(ForwardListHeader)) || pList->dwNumEntries >= 2)
                return trace.Abort(LINEERR_INVALPARAM, 8);
            if (pList->dwNumEntries != 0) return trace.Abort(LINEERR_INVALPARAM, 9);
        }
        CProvisionalCall consult(lLinePos, htConsultCall, LINECALLORIGIN_INTERNAL, 0);
        if (!consult.Created()) return trace.Abort(LINEERR_OPERATIONFAILED, 10);
        consult.HandTo(lphdConsultCall);
        return LINEERR_OPERATIONUNAVAIL;
    });
}

LONG TSPIAPI TSPI_lineCompleteCall(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPDWORD lpdwCompletionID,
                                   DWORD dwCompletionMode, DWORD dwMessageID) {
    return RunLockedExport(LockOwner::lineCompleteCall, L"TSPI_lineCompleteCall",
                           [&](const CFuncTrace&) -> LONG { return LINEERR_OPERATIONUNAVAIL; });
}

// Call completion, park and unpark: not offered.
LONG TSPIAPI TSPI_lineUncompleteCall(DRV_REQUESTID, HDRVLINE, DWORD) { return RefuseRequest(L"TSPI_lineUncompleteCall"); }
LONG TSPIAPI TSPI_linePark(DRV_REQUESTID, HDRVCALL, DWORD, LPCWSTR, VARSTRING*) { return RefuseRequest(L"TSPI_linePark"); }
LONG TSPIAPI TSPI_lineUnpark(DRV_REQUESTID, HDRVLINE, DWORD, HTAPICALL, HDRVCALL*, LPCWSTR) {
    return RefuseRequest(L"TSPI_lineUnpark");
}

}  // extern "C"
