// Call features and line status after every change of a call; lines in and
// out of service.
#include <gtest/gtest.h>

#include <thread>

#include "common/TimerScale.h"
#include "manager/ServiceState.h"
#include "model/LineService.h"
#include "model/ProviderLock.h"
#include "support/LineModelFixture.h"

namespace {

using CallFeaturesTest = LineModelFixture;
using LineServiceTest = LineModelFixture;

constexpr DWORD ACCEPT = LINECALLFEATURE_ACCEPT, ANSWER = LINECALLFEATURE_ANSWER, REDIRECT = LINECALLFEATURE_REDIRECT,
                DROP = LINECALLFEATURE_DROP, HOLD = LINECALLFEATURE_HOLD, SWAPHOLD = LINECALLFEATURE_SWAPHOLD,
                COMPLETETRANSF = LINECALLFEATURE_COMPLETETRANSF, BLINDTRANSFER = LINECALLFEATURE_BLINDTRANSFER,
                SETUPTRANSFER = LINECALLFEATURE_SETUPTRANSFER, SETUPCONF = LINECALLFEATURE_SETUPCONF,
                GENERATEDIGITS = LINECALLFEATURE_GENERATEDIGITS, MONITORDIGITS = LINECALLFEATURE_MONITORDIGITS,
                DIAL = LINECALLFEATURE_DIAL, PREPAREADDCONF = LINECALLFEATURE_PREPAREADDCONF,
                REMOVEFROMCONF = LINECALLFEATURE_REMOVEFROMCONF;

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

// A new call can only be dropped, and takes the line out of idle.
TEST_F(CallFeaturesTest, LineCountsHeldCallsAndOffersMakeCallOnlyWhenNoCallIsActive) {
    AddCall(0, 0);
    EXPECT_EQ(Features(0, 0), DROP);
    EXPECT_EQ(Line(0).m_pLineDevStatus->dwNumActiveCalls, 1u);
    EXPECT_EQ(Line(0).m_pLineAddressStatus->dwNumActiveCalls, 1u);
    EXPECT_EQ(Line(0).m_pLineDevStatus->dwLineFeatures | Line(0).m_pLineAddressStatus->dwAddressFeatures, 0u);
    RemoveAllCalls();
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

TEST_F(LineServiceTest, StateFollowsAndTheMaskDecidesWhatTapiHears) {
    struct Case { const char* pszName; bool bOpen; DWORD dwLineStates; size_t nMessagesEachWay; };
    const Case cases[] = {
        {"default mask", true, 0x8C1, 1},
        {"application's mask without the service bits", true, LINEDEVSTATE_NUMCALLS, 0},
        {"closed line", false, 0x8C1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        BuildLines({L"21", L"22"});
        EXPECT_EQ(Line(0).m_dwLineStates, 0x8C1u);
        EXPECT_EQ(Line(0).m_pLineDevCaps->dwLineStates, 0x8C1u);
        if (c.bOpen) OpenLine(0);
        Line(0).m_dwLineStates = c.dwLineStates;
        // Out of service, then back in; the second call of each changes nothing more.
        for (const bool bInService : {false, true}) {
            CEventRecorder::Reset();
            SetLineInService(0, bInService);
            SetLineInService(0, bInService);
            EXPECT_EQ(Line(0).m_bOutOfService, !bInService);
            EXPECT_EQ(Line(0).m_pLineDevStatus->dwDevStatusFlags,
                      LINEDEVSTATUSFLAGS_CONNECTED | (bInService ? LINEDEVSTATUSFLAGS_INSERVICE : 0u));
            EXPECT_EQ(EventsOf(LINE_LINEDEVSTATE).size(), c.nMessagesEachWay);
            for (const RecordedEvent& event : EventsOf(LINE_LINEDEVSTATE))
                EXPECT_EQ(event.dwParam1, static_cast<DWORD_PTR>(bInService ? LINEDEVSTATE_INSERVICE : LINEDEVSTATE_OUTOFSERVICE));
            EXPECT_FALSE(Line(1).m_bOutOfService) << "another line is untouched";
        }
    }
}

// The stream reopens while the keep-alive tick, the grace period over, is
// putting the lines out of service: whichever of the two applies last, the
// lines end as the stream is, in service, and TAPI hears nothing. The tick is
// held at the lock that guards the lines until the stream has opened.
TEST_F(LineServiceTest, AStreamOpeningWhileTheTickTakesTheLinesOutLeavesThemInService) {
    BuildLines({L"21", L"22"});
    OpenLine(0);
    ResetServiceState();
    NoteStreamDown();
    const ULONGLONG qwPastGrace = GetTickCount64() + ScaledMs(kOutOfServiceGraceMs, kMinScaledGraceMs) + 100;
    while (GetTickCount64() < qwPastGrace) Sleep(50);
    CEventRecorder::Reset();
    std::thread tick;
    {
        CProviderLockGuard lock(LockOwner::ServiceState);
        tick = std::thread(CheckServiceState);
        // Under Wine a thread waiting for a held critical section counts in LockCount.
        const ULONGLONG qwWatchdog = GetTickCount64() + 10000;
        while (ProviderLock.LockCount < 1 && GetTickCount64() < qwWatchdog) Sleep(10);
        NoteStreamOpened();
    }
    tick.join();
    for (LONG lLine = 0; lLine < 2; ++lLine) EXPECT_FALSE(Line(lLine).m_bOutOfService) << lLine;
    EXPECT_TRUE(EventsOf(LINE_LINEDEVSTATE).empty());
}

}  // namespace
