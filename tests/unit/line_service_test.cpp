// In and out of service: the line's own state always follows, TAPI hears of
// it on an open line whose status-message mask asks for it, and only once.
#include <gtest/gtest.h>

#include "model/LineCaps.h"
#include "model/LineService.h"
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
        CEventRecorder::Reset();

        SetLineInService(0, false);
        SetLineInService(0, false);  // already out of service: nothing more
        EXPECT_TRUE(Line(0).m_bOutOfService);
        EXPECT_EQ(Line(0).m_pLineDevStatus->dwDevStatusFlags, static_cast<DWORD>(LINEDEVSTATUSFLAGS_CONNECTED));
        EXPECT_EQ(EventsOf(LINE_LINEDEVSTATE).size(), c.nMessagesEachWay);
        for (const RecordedEvent& event : EventsOf(LINE_LINEDEVSTATE))
            EXPECT_EQ(event.dwParam1, static_cast<DWORD_PTR>(LINEDEVSTATE_OUTOFSERVICE));
        EXPECT_FALSE(Line(1).m_bOutOfService) << "another line is untouched";

        CEventRecorder::Reset();
        SetLineInService(0, true);
        SetLineInService(0, true);
        EXPECT_FALSE(Line(0).m_bOutOfService);
        EXPECT_EQ(Line(0).m_pLineDevStatus->dwDevStatusFlags,
                  static_cast<DWORD>(LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE));
        EXPECT_EQ(EventsOf(LINE_LINEDEVSTATE).size(), c.nMessagesEachWay);
        for (const RecordedEvent& event : EventsOf(LINE_LINEDEVSTATE))
            EXPECT_EQ(event.dwParam1, static_cast<DWORD_PTR>(LINEDEVSTATE_INSERVICE));
    }
}

}  // namespace
