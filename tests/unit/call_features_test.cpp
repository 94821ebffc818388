// Call features and line status after every change of a call.
#include <gtest/gtest.h>

#include "model/CallFeatures.h"
#include "model/EventDelivery.h"
#include "support/LineModelFixture.h"

namespace {

using CallFeaturesTest = LineModelFixture;

constexpr DWORD ACCEPT = LINECALLFEATURE_ACCEPT, ANSWER = LINECALLFEATURE_ANSWER, REDIRECT = LINECALLFEATURE_REDIRECT,
                DROP = LINECALLFEATURE_DROP, HOLD = LINECALLFEATURE_HOLD, SWAPHOLD = LINECALLFEATURE_SWAPHOLD,
                COMPLETETRANSF = LINECALLFEATURE_COMPLETETRANSF, BLINDTRANSFER = LINECALLFEATURE_BLINDTRANSFER,
                SETUPTRANSFER = LINECALLFEATURE_SETUPTRANSFER, SETUPCONF = LINECALLFEATURE_SETUPCONF,
                GENERATEDIGITS = LINECALLFEATURE_GENERATEDIGITS, MONITORDIGITS = LINECALLFEATURE_MONITORDIGITS,
                DIAL = LINECALLFEATURE_DIAL, PREPAREADDCONF = LINECALLFEATURE_PREPAREADDCONF,
                REMOVEFROMCONF = LINECALLFEATURE_REMOVEFROMCONF;

TEST_F(CallFeaturesTest, NewCallCanOnlyBeDroppedAndTakesTheLineOutOfIdle) {
    AddCall(0, 0);
    EXPECT_EQ(Features(0, 0), DROP);
    EXPECT_EQ(Line(0).m_pLineDevStatus->dwNumActiveCalls, 1u);
    EXPECT_EQ(Line(0).m_pLineAddressStatus->dwNumActiveCalls, 1u);
    EXPECT_EQ(Line(0).m_pLineDevStatus->dwLineFeatures, 0u);
    EXPECT_EQ(Line(0).m_pLineAddressStatus->dwAddressFeatures, 0u);
}

// The rules of the feature table, every capability bit let through.
TEST_F(CallFeaturesTest, EachCallOffersTheFeaturesItsOwnAndItsNeighboursStatesAllow) {
    struct Case {
        const char* pszName;
        std::vector<DWORD> states;  // one call per slot
        std::vector<DWORD> expected;
    };
    const Case cases[] = {
        {"offering alone", {LINECALLSTATE_OFFERING}, {ACCEPT | ANSWER | REDIRECT | DROP}},
        {"offering behind connected",
         {LINECALLSTATE_CONNECTED, LINECALLSTATE_OFFERING},
         {SETUPTRANSFER | BLINDTRANSFER | DROP | GENERATEDIGITS | MONITORDIGITS, ACCEPT | REDIRECT | DROP}},
        {"connected and held",
         {LINECALLSTATE_CONNECTED, LINECALLSTATE_ONHOLD},
         {BLINDTRANSFER | SWAPHOLD | DROP | GENERATEDIGITS | MONITORDIGITS, COMPLETETRANSF | SWAPHOLD | DROP}},
        {"connected alone", {LINECALLSTATE_CONNECTED},
         {SETUPTRANSFER | SETUPCONF | BLINDTRANSFER | HOLD | DROP | GENERATEDIGITS | MONITORDIGITS}},
        {"dial tone", {LINECALLSTATE_DIALTONE}, {DIAL | DROP}},
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

TEST_F(CallFeaturesTest, LineCountsHeldCallsAndOffersMakeCallOnlyWhenNoCallIsActive) {
    OpenLine(0);
    AddCall(0, LINECALLSTATE_ONHOLD);
    AddCall(0, LINECALLSTATE_ONHOLDPENDTRANSFER);
    AddCall(0, LINECALLSTATE_IDLE);
    EXPECT_EQ(Line(0).m_pLineDevStatus->dwNumActiveCalls, 0u);
    EXPECT_EQ(Line(0).m_pLineDevStatus->dwNumOnHoldCalls, 1u);
    EXPECT_EQ(Line(0).m_pLineDevStatus->dwNumOnHoldPendCalls, 1u);
    EXPECT_EQ(Line(0).m_pLineDevStatus->dwLineFeatures, 0u);

    RemoveAllCalls();
    AddCall(0, LINECALLSTATE_IDLE);  // an idle call leaves the line idle
    EXPECT_EQ(Line(0).m_pLineDevStatus->dwLineFeatures, static_cast<DWORD>(LINEFEATURE_MAKECALL));
    EXPECT_EQ(Line(0).m_pLineAddressStatus->dwAddressFeatures, static_cast<DWORD>(LINEADDRFEATURE_MAKECALL));
}

}  // namespace
