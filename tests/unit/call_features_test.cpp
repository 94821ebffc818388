// Call features and line status after every change of a call.
#include <gtest/gtest.h>

#include "model/CallFeatures.h"
#include "model/EventDelivery.h"
#include "support/LineModelFixture.h"
#include "support/TraceCapture.h"

namespace {

using CallFeaturesTest = LineModelFixture;

constexpr DWORD ACCEPT = LINECALLFEATURE_ACCEPT, ANSWER = LINECALLFEATURE_ANSWER, REDIRECT = LINECALLFEATURE_REDIRECT,
                DROP = LINECALLFEATURE_DROP, HOLD = LINECALLFEATURE_HOLD, UNHOLD = LINECALLFEATURE_UNHOLD,
                SWAPHOLD = LINECALLFEATURE_SWAPHOLD, COMPLETETRANSF = LINECALLFEATURE_COMPLETETRANSF,
                BLINDTRANSFER = LINECALLFEATURE_BLINDTRANSFER, SETUPTRANSFER = LINECALLFEATURE_SETUPTRANSFER,
                SETUPCONF = LINECALLFEATURE_SETUPCONF, GENERATEDIGITS = LINECALLFEATURE_GENERATEDIGITS,
                MONITORDIGITS = LINECALLFEATURE_MONITORDIGITS, DIAL = LINECALLFEATURE_DIAL,
                PREPAREADDCONF = LINECALLFEATURE_PREPAREADDCONF, REMOVEFROMCONF = LINECALLFEATURE_REMOVEFROMCONF;

TEST_F(CallFeaturesTest, NewCallCanOnlyBeDroppedAndTakesTheLineOutOfIdle) {
    AddCall(0, 0);
    EXPECT_EQ(Features(0, 0), DROP);
    EXPECT_EQ(Line(0).m_pLineDevStatus->dwNumActiveCalls, 1u);
    EXPECT_EQ(Line(0).m_pLineAddressStatus->dwNumActiveCalls, 1u);
    EXPECT_EQ(Line(0).m_pLineDevStatus->dwLineFeatures, 0u);
    EXPECT_EQ(Line(0).m_pLineAddressStatus->dwAddressFeatures, 0u);
}

TEST_F(CallFeaturesTest, DisconnectAnnouncesTheLostDropOnceAndIdleNothingMore) {
    OpenLine(0);
    AddCall(0, LINECALLSTATE_CONNECTED);
    CEventRecorder::Reset();

    SetState(0, 0, LINECALLSTATE_DISCONNECTED);
    EXPECT_EQ(Features(0, 0), 0u);
    std::vector<RecordedEvent> infos = EventsOf(LINE_CALLINFO);
    ASSERT_EQ(infos.size(), 1u);
    EXPECT_EQ(infos[0].dwParam1, static_cast<DWORD_PTR>(LINECALLINFOSTATE_OTHER));

    CEventRecorder::Reset();
    SetState(0, 0, LINECALLSTATE_IDLE);
    EXPECT_TRUE(EventsOf(LINE_CALLINFO).empty());
    EXPECT_EQ(EventsOf(LINE_CALLSTATE).size(), 1u);
}

// The rules of the feature table, every capability bit let through.
TEST_F(CallFeaturesTest, FeatureTableWithAllCapabilities) {
    struct Case {
        const char* pszName;
        std::vector<DWORD> states;  // one call per slot
        std::vector<DWORD> expected;
    };
    const DWORD CONNECTED_ALL = SETUPTRANSFER | SETUPCONF | BLINDTRANSFER | HOLD | DROP | GENERATEDIGITS | MONITORDIGITS;
    const Case cases[] = {
        {"offering alone", {LINECALLSTATE_OFFERING}, {ACCEPT | ANSWER | REDIRECT | DROP}},
        {"offering behind connected",
         {LINECALLSTATE_CONNECTED, LINECALLSTATE_OFFERING},
         {SETUPTRANSFER | BLINDTRANSFER | DROP | GENERATEDIGITS | MONITORDIGITS, ACCEPT | REDIRECT | DROP}},
        {"connected and held",
         {LINECALLSTATE_CONNECTED, LINECALLSTATE_ONHOLD},
         {BLINDTRANSFER | SWAPHOLD | DROP | GENERATEDIGITS | MONITORDIGITS, COMPLETETRANSF | SWAPHOLD | DROP}},
        {"connected alone", {LINECALLSTATE_CONNECTED}, {CONNECTED_ALL}},
        {"held alone", {LINECALLSTATE_ONHOLD}, {UNHOLD | DROP}},
        {"accepted", {LINECALLSTATE_ACCEPTED}, {ANSWER | REDIRECT | DROP}},
        {"dial tone", {LINECALLSTATE_DIALTONE}, {DIAL | DROP}},
        {"disconnected", {LINECALLSTATE_DISCONNECTED}, {0}},
        {"pending conference", {LINECALLSTATE_ONHOLDPENDCONF}, {UNHOLD | DROP}},
        {"conference of three",
         {LINECALLSTATE_CONFERENCED, LINECALLSTATE_CONFERENCED, LINECALLSTATE_CONNECTED},
         {PREPAREADDCONF | REMOVEFROMCONF | DROP, PREPAREADDCONF | REMOVEFROMCONF | DROP,
          PREPAREADDCONF | DROP | GENERATEDIGITS | MONITORDIGITS}},
    };
    OpenLine(0);  // idle calls stay on an open line
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        EnableAllCallFeatures(0);
        for (DWORD dwState : c.states) AddCall(0, dwState);
        for (size_t k = 0; k < c.expected.size(); ++k)
            EXPECT_EQ(Features(0, static_cast<LONG>(k)), c.expected[k]) << "slot " << k << std::hex << " got 0x"
                                                                         << Features(0, static_cast<LONG>(k));
        RemoveAllCalls();
    }
}

TEST_F(CallFeaturesTest, ShippedCapabilitiesLeaveOnlyDrop) {
    OpenLine(0);
    for (DWORD dwState : {LINECALLSTATE_OFFERING, LINECALLSTATE_CONNECTED, LINECALLSTATE_DISCONNECTED}) {
        AddCall(0, dwState);
        bool bEnded = dwState == LINECALLSTATE_DISCONNECTED || dwState == LINECALLSTATE_IDLE;
        EXPECT_EQ(Features(0, 0), bEnded ? 0u : DROP) << std::hex << dwState;
        RemoveAllCalls();
    }
}

TEST_F(CallFeaturesTest, LineCountsByState) {
    OpenLine(0);
    AddCall(0, LINECALLSTATE_ONHOLD);
    AddCall(0, LINECALLSTATE_ONHOLDPENDTRANSFER);
    AddCall(0, LINECALLSTATE_IDLE);
    EXPECT_EQ(Line(0).m_pLineDevStatus->dwNumActiveCalls, 0u);
    EXPECT_EQ(Line(0).m_pLineDevStatus->dwNumOnHoldCalls, 1u);
    EXPECT_EQ(Line(0).m_pLineDevStatus->dwNumOnHoldPendCalls, 1u);
    EXPECT_EQ(Line(0).m_pLineAddressStatus->dwNumOnHoldCalls, 1u);
    EXPECT_EQ(Line(0).m_pLineAddressStatus->dwNumOnHoldPendCalls, 1u);
    EXPECT_EQ(Line(0).m_pLineDevStatus->dwLineFeatures, 0u);

    RemoveAllCalls();
    AddCall(0, LINECALLSTATE_IDLE);  // an idle call leaves the line idle
    EXPECT_EQ(Line(0).m_pLineDevStatus->dwNumActiveCalls, 0u);
    EXPECT_EQ(Line(0).m_pLineDevStatus->dwLineFeatures, static_cast<DWORD>(LINEFEATURE_MAKECALL));
    EXPECT_EQ(Line(0).m_pLineAddressStatus->dwAddressFeatures, static_cast<DWORD>(LINEADDRFEATURE_MAKECALL));
}

TEST_F(CallFeaturesTest, LineFeaturesWithAllCapabilities) {
    Line(0).m_pLineDevCaps->dwLineFeatures = 0xFFFFFFFF;
    Line(0).m_pLineAddressCaps->dwAddressFeatures = 0xFFFFFFFF;
    UpdateLine(0);
    EXPECT_EQ(Line(0).m_pLineDevStatus->dwLineFeatures, 0x18Eu);
    EXPECT_EQ(Line(0).m_pLineAddressStatus->dwAddressFeatures, 0x3007u);
    AddCall(0, LINECALLSTATE_CONNECTED);
    EXPECT_EQ(Line(0).m_pLineDevStatus->dwLineFeatures, static_cast<DWORD>(LINEFEATURE_DEVSPECIFICFEAT));
    EXPECT_EQ(Line(0).m_pLineAddressStatus->dwAddressFeatures, 0u);
}

TEST_F(CallFeaturesTest, CommandFeatureCheck) {
    AddCall(0, LINECALLSTATE_CONNECTED);
    AddCall(0, LINECALLSTATE_IDLE);
    EXPECT_EQ(CheckTSPICommandCallFeatures(0, 0, LINECALLFEATURE_HOLD), LINEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(CheckTSPICommandCallFeatures(0, 1, LINECALLFEATURE_HOLD), LINEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(CheckTSPICommandCallFeatures(0, 0, LINECALLFEATURE_DROP), 0);
    EXPECT_EQ(CheckTSPICommandCallFeatures(0, 1, LINECALLFEATURE_DROP), LINEERR_OPERATIONFAILED);
    EnableAllCallFeatures(0);
    UpdateAllFeatures(0, 0);
    EXPECT_EQ(CheckTSPICommandCallFeatures(0, 0, LINECALLFEATURE_HOLD), 0);
    EXPECT_EQ(CheckTSPICommandCallFeatures(0, 1, LINECALLFEATURE_HOLD), LINEERR_OPERATIONFAILED);
}

TEST_F(CallFeaturesTest, BadPositionsOnlyTrace) {
    AddCall(0, LINECALLSTATE_CONNECTED);
    CTraceCapture capture(6);
    UpdateAllFeatures(-1, 1);
    UpdatePartners(-1, 1);
    UpdateCall(7, 0, 1);
    UpdateCall(0, 3, 1);
    UpdateCall(0, 2, 1);
    UpdateLine(-2);
    UpdateLine(3);
    for (const wchar_t* pszLine :
         {L"Func.UpdateAllFeatures.Abort.No valid line index", L"Func.UpdatePartners.Abort.Warning.Bad line index",
          L"Func.UpdateCall.Abort.Warning.Bad line pos 7", L"Func.UpdateCall.Abort.Warning.Bad call pos 3",
          L"Func.UpdateCall.Abort.No call pointer", L"Func.UpdateLine.Abort.Warning.Bad line pos -2",
          L"Func.UpdateLine.Abort.Warning.Line pos 3 overflow"})
        EXPECT_TRUE(capture.Contains(pszLine)) << testing::PrintToString(std::wstring(pszLine));
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(Features(0, 0), DROP);
}

}  // namespace
