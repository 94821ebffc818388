#include "model/CallFeatures.h"

#include "log/Trace.h"
#include "model/CallStateGroups.h"
#include "model/LineTable.h"
#include "model/ProviderState.h"

namespace {
// State groups of the feature rules besides the shared ones.
constexpr DWORD kHeldOrPendingOrOffered = kHeldOrPending | LINECALLSTATE_OFFERING;
constexpr DWORD kPartnerHeld = LINECALLSTATE_ONHOLD | LINECALLSTATE_CONFERENCED | LINECALLSTATE_ONHOLDPENDCONF |
                               LINECALLSTATE_ONHOLDPENDTRANSFER;
constexpr DWORD kAllButConferencedOrConnected = kAllCallStates & ~(LINECALLSTATE_CONFERENCED | LINECALLSTATE_CONNECTED);
constexpr DWORD kTransferable = LINECALLSTATE_CONNECTED | LINECALLSTATE_ONHOLD | LINECALLSTATE_ONHOLDPENDTRANSFER;
constexpr DWORD kConsultActive = LINECALLSTATE_RINGBACK | LINECALLSTATE_CONNECTED | LINECALLSTATE_PROCEEDING;

constexpr DWORD kIdleLineFeatures = LINEFEATURE_DEVSPECIFICFEAT | LINEFEATURE_FORWARD | LINEFEATURE_MAKECALL |
                                    LINEFEATURE_FORWARDFWD | LINEFEATURE_FORWARDDND;
constexpr DWORD kBusyLineFeatures = LINEFEATURE_DEVSPECIFICFEAT;
constexpr DWORD kIdleAddressFeatures = LINEADDRFEATURE_FORWARD | LINEADDRFEATURE_MAKECALL | LINEADDRFEATURE_PICKUP |
                                       LINEADDRFEATURE_FORWARDFWD | LINEADDRFEATURE_FORWARDDND;

bool Is(DWORD dwState, DWORD dwMask) { return (dwState & dwMask) != 0; }

// The features the rules allow for the call in slot k of line L, before the
// line's capabilities cut them down.
DWORD ComputeCallFeatures(LONG L, LONG k, const PhoneCall& call) {
    const DWORD S = call.m_pLineCallStatus->dwCallState;
    const LONG P = call.m_lPartnerID;
    const DWORD dwL = static_cast<DWORD>(L);
    const DWORD dwP = static_cast<DWORD>(P);
    auto count = [&](DWORD dwMask) { return GetCallCountWithState(dwL, dwMask); };
    auto countP = [&](DWORD dwMask) { return GetCallCountWithState(dwP, dwMask); };
    const DWORD N = GetCallCount(dwL);
    const bool bNoPartner = P == -1;

    DWORD F = 0;
    if (S == LINECALLSTATE_OFFERING && count(kConferencing) == 0) F |= LINECALLFEATURE_ACCEPT;
    if (Is(S, LINECALLSTATE_OFFERING | LINECALLSTATE_ACCEPTED) && k == 0 && count(kBusyForAnswer) == 0)
        F |= LINECALLFEATURE_ANSWER;
    if (S == LINECALLSTATE_CONNECTED && count(kHeldOrPending) == 0 &&
        (bNoPartner || countP(kHeldOrPendingOrOffered) == 0))
        F |= LINECALLFEATURE_SETUPTRANSFER;
    if (S == LINECALLSTATE_CONNECTED && N == 1 && (bNoPartner || countP(kPartnerHeld) == 0))
        F |= LINECALLFEATURE_SETUPCONF;
    if (count(LINECALLSTATE_CONFERENCED) >= 2 && count(LINECALLSTATE_CONNECTED) == 1 &&
        count(kAllButConferencedOrConnected) == 0)
        F |= LINECALLFEATURE_PREPAREADDCONF;
    if (S == LINECALLSTATE_CONFERENCED && N >= 3 && count(LINECALLSTATE_ONHOLDPENDCONF) == 0)
        F |= LINECALLFEATURE_REMOVEFROMCONF;
    if (S == LINECALLSTATE_CONNECTED && count(LINECALLSTATE_CONFERENCED) == 0) {
        bool bPartnerReady = bNoPartner;
        if (!bNoPartner) {
            LONG lPartnerCall = GetCallPosWithPartnerCallID(dwP, L, call.m_pLineCallInfo->dwCallID);
            bPartnerReady = lPartnerCall >= 0 && Is(GetCallState(P, lPartnerCall), kTransferable);
        }
        if (bPartnerReady) F |= LINECALLFEATURE_BLINDTRANSFER;
    }
    if (Is(S, kHeld) && count(kConsultActive) == 1 && count(kHeld) == 1) F |= LINECALLFEATURE_COMPLETETRANSF;
    if (S == LINECALLSTATE_CONNECTED && count(kHeldOrPendingOrOffered) == 0 &&
        (bNoPartner || (countP(kHeldOrPendingOrOffered) == 0 && GetCallCount(dwP) == 1)))
        F |= LINECALLFEATURE_HOLD;
    if (S == LINECALLSTATE_ONHOLDPENDCONF || (Is(S, kHeld) && count(kActiveForUnhold) == 0))
        F |= LINECALLFEATURE_UNHOLD;
    if (count(LINECALLSTATE_CONNECTED) == 1 && count(kHeld) == 1) F |= LINECALLFEATURE_SWAPHOLD;
    if (Is(S, LINECALLSTATE_OFFERING | LINECALLSTATE_ACCEPTED)) F |= LINECALLFEATURE_REDIRECT;
    if (S == LINECALLSTATE_DIALTONE) F |= LINECALLFEATURE_DIAL;
    if (!Is(S, LINECALLSTATE_IDLE | LINECALLSTATE_DISCONNECTED)) F |= LINECALLFEATURE_DROP;
    if (S == LINECALLSTATE_CONNECTED) F |= LINECALLFEATURE_GENERATEDIGITS | LINECALLFEATURE_MONITORDIGITS;
    return F;
}
}  // namespace

ULONGLONG StoreCallFeatures(LONG lLinePos, LONG lCallPos, PhoneCall& call) {
    const PhoneLine* pLine = GetPhoneLine(lLinePos);
    DWORD F = ComputeCallFeatures(lLinePos, lCallPos, call);
    DWORD F2 = 0;
    const LINEADDRESSCAPS* pCaps = pLine != nullptr ? pLine->m_pLineAddressCaps : nullptr;
    F &= pCaps != nullptr ? pCaps->dwCallFeatures : 0;
    F2 &= pCaps != nullptr ? pCaps->dwCallFeatures2 : 0;
    call.m_pLineCallStatus->dwCallFeatures = F;
    call.m_pLineCallStatus->dwCallFeatures2 = F2;
    return (static_cast<ULONGLONG>(F) << 32) | F2;
}

void UpdateLine(LONG lLinePos) {
    if (lLinePos < 0) {
        Trace(4, L"Func.UpdateLine.Abort.Warning.Bad line pos %d", lLinePos);
        return;
    }
    PhoneLine* pLine = GetPhoneLine(lLinePos);
    if (pLine == nullptr) {
        Trace(4, L"Func.UpdateLine.Abort.Warning.Line pos %d overflow", lLinePos);
        return;
    }
    DWORD dwActive = 0, dwOnHold = 0, dwOnHoldPend = 0;
    for (PhoneCall* pCall : pLine->m_pPhoneCall) {
        DWORD dwState = pCall != nullptr && pCall->m_pLineCallStatus != nullptr ? pCall->m_pLineCallStatus->dwCallState : 0;
        if (dwState == 0 || dwState == LINECALLSTATE_IDLE) continue;
        if (dwState == LINECALLSTATE_ONHOLD)
            ++dwOnHold;
        else if (dwState == LINECALLSTATE_ONHOLDPENDTRANSFER)
            ++dwOnHoldPend;
        else
            ++dwActive;
    }
    LINEDEVSTATUS* pDevStatus = pLine->m_pLineDevStatus;
    LINEADDRESSSTATUS* pAddressStatus = pLine->m_pLineAddressStatus;
    if (pDevStatus == nullptr || pAddressStatus == nullptr) return;

    pDevStatus->dwNumActiveCalls = pAddressStatus->dwNumActiveCalls = dwActive;
    pDevStatus->dwNumOnHoldCalls = pAddressStatus->dwNumOnHoldCalls = dwOnHold;
    pDevStatus->dwNumOnHoldPendCalls = pAddressStatus->dwNumOnHoldPendCalls = dwOnHoldPend;
    bool bIdle = dwActive + dwOnHold + dwOnHoldPend == 0;
    DWORD dwLineCaps = pLine->m_pLineDevCaps != nullptr ? pLine->m_pLineDevCaps->dwLineFeatures : 0;
    DWORD dwAddressCaps = pLine->m_pLineAddressCaps != nullptr ? pLine->m_pLineAddressCaps->dwAddressFeatures : 0;
    pDevStatus->dwLineFeatures = (bIdle ? kIdleLineFeatures : kBusyLineFeatures) & dwLineCaps;
    pAddressStatus->dwAddressFeatures = (bIdle ? kIdleAddressFeatures : 0) & dwAddressCaps;
}

LONG CheckTSPICommandCallFeatures(LONG lPosActor, LONG lPosCallActor, DWORD dwFeatures) {
    CFuncTrace trace(4, L"CheckTSPICommandCallFeatures");
    trace.Param(L"_dwFeatures", L"0x%08X", dwFeatures);
    PhoneLine* pLine = GetPhoneLine(lPosActor);
    DWORD dwCapable = pLine != nullptr && pLine->m_pLineAddressCaps != nullptr ? pLine->m_pLineAddressCaps->dwCallFeatures : 0;
    if ((dwCapable & dwFeatures) == 0) return trace.End(LINEERR_OPERATIONUNAVAIL);
    PhoneCall* pCall = GetPhoneCall(lPosActor, lPosCallActor);
    DWORD dwNow = pCall != nullptr && pCall->m_pLineCallStatus != nullptr ? pCall->m_pLineCallStatus->dwCallFeatures : 0;
    if ((dwNow & dwFeatures) == 0) return trace.End(LINEERR_OPERATIONFAILED);
    return trace.End(0);
}
