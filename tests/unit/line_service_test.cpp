// In and out of service: the line's own state always follows, TAPI hears of
// it on an open line whose status-message mask asks for it, and only once;
// the provider's service state puts every line in or out without a race.
#include <gtest/gtest.h>

#include <thread>

#include "common/TimerScale.h"
#include "manager/ServiceState.h"
#include "model/LineCaps.h"
#include "model/LineService.h"
#include "model/ProviderLock.h"
#include "support/LineModelFixture.h"

namespace {

using LineServiceTest = LineModelFixture;

TEST_F(LineServiceTest, StateFollowsAndTheMaskDecidesWhatTapiHears) {
    struct Case {
        const char* pszName;
        bool bOpen;
        DWORD dwLineStates;
        size_t nMessagesEachWay;
    };
    const Case cases[] = {
        {"default mask", true, kDefaultLineStates, 1},
        {"application's mask without the service bits", true, LINEDEVSTATE_NUMCALLS, 0},
        {"closed line", false, kDefaultLineStates, 0},
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
