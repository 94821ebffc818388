// A call event's pauses keep only its own line and call waiting. Time is held
// still by the test, so that a dial sits in its pause whatever the machine's speed.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "manager/CGenericTSPIManager.h"
#include "manager/CallEventScheduler.h"
#include "model/ProviderLock.h"
#include "provider/TspiExports.h"
#include "support/LineModelFixture.h"

namespace {

constexpr DWORD kWatchdogMs = 10000;

ULONGLONG g_qwStillTime = 0;
ULONGLONG StillClock() { return g_qwStillTime; }

class CallEventSchedulerTest : public LineModelFixture {
protected:
    void TearDown() override {
        SetCallEventClock(nullptr);
        StopCallEventScheduler();
        LineModelFixture::TearDown();
    }

    // What TAPI received so far. A lock held through a pause fails the test
    // here instead of hanging it.
    static std::vector<RecordedEvent> Received() {
        if (!TryEnterProviderLock(LockOwner::lineGetCallStatus, kWatchdogMs)) {
            ADD_FAILURE() << "the ProviderLock stayed held";
            return {};
        }
        LeaveProviderLock(LockOwner::lineGetCallStatus);
        std::lock_guard<std::recursive_mutex> guard(CEventRecorder::s_mutex);
        return CEventRecorder::s_events;
    }

    // The call states a line received so far.
    static std::vector<DWORD> States(HTAPILINE htLine) {
        std::vector<DWORD> states;
        for (const RecordedEvent& e : Received())
            if (e.htLine == htLine && e.dwMsg == LINE_CALLSTATE) states.push_back(static_cast<DWORD>(e.dwParam1));
        return states;
    }

    static bool HasState(HTAPILINE htLine, DWORD dwState) {
        for (DWORD dw : States(htLine))
            if (dw == dwState) return true;
        return false;
    }

    // Runs fn on a thread of its own; false when it did not return within the watchdog.
    static bool CompletesOnItsOwn(const std::function<void()>& fn) {
        std::future<void> done = std::async(std::launch::async, fn);
        if (done.wait_for(std::chrono::milliseconds(kWatchdogMs)) == std::future_status::ready) return true;
        // A request stuck behind the pause returns once time runs again.
        SetCallEventClock(nullptr);
        return false;
    }
};

TEST_F(CallEventSchedulerTest, RequestsAndOtherLinesGoOnWhileADialPauses) {
    HTAPILINE ht21 = OpenLine(0);
    HTAPILINE ht22 = OpenLine(1);
    HTAPILINE ht23 = OpenLine(2);
    Event(L"in", L"22", L"ring", L"inbound", L"0301234567", L"22");
    Event(L"out", L"21", L"caller-dial", L"outbound", L"21", L"0309876543");
    ASSERT_EQ(States(ht22), std::vector<DWORD>{LINECALLSTATE_OFFERING});
    ASSERT_EQ(States(ht21), std::vector<DWORD>{LINECALLSTATE_DIALTONE});

    // From here on the dial's pauses do not end until time runs again.
    SetCallEventClock(&StillClock);
    g_Manager.PostEvents(L"out", L"21", L"21", L"0309876543", L"dial", L"outbound");
    ASSERT_TRUE(WaitUntil([&] {
        for (const RecordedEvent& e : Received())
            if (e.htLine == ht21 && e.dwMsg == LINE_CALLINFO && e.dwParam1 == 0x8140) return true;
        return false;
    })) << "the dial's first step did not run";

    // TAPI asks for the status of a call on another line and on the dialling line itself.
    const struct { const char* pszName; LONG lLinePos; DWORD dwExpected; } requests[] = {
        {"call of another line", 1, LINECALLSTATE_OFFERING},
        {"the dialling call", 0, LINECALLSTATE_DIALTONE},
    };
    for (const auto& request : requests) {
        SCOPED_TRACE(request.pszName);
        LINECALLSTATUS status = {};
        status.dwTotalSize = sizeof(status);
        LONG lResult = -1;
        HDRVCALL hdCall = reinterpret_cast<HDRVCALL>(Call(request.lLinePos, 0));
        ASSERT_TRUE(CompletesOnItsOwn([&] { lResult = TSPI_lineGetCallStatus(hdCall, &status); }))
            << "lineGetCallStatus waited for the dial's pause";
        EXPECT_EQ(lResult, 0);
        EXPECT_EQ(status.dwCallState, request.dwExpected);
    }

    // A ring on a third line is offered while the dial still pauses.
    g_Manager.PostEvents(L"other", L"23", L"0301111111", L"23", L"ring", L"inbound");
    EXPECT_TRUE(WaitUntil([&] { return HasState(ht23, LINECALLSTATE_OFFERING); }))
        << "the ring of another line waited for the dial's pause";
    EXPECT_EQ(States(ht21), std::vector<DWORD>{LINECALLSTATE_DIALTONE}) << "the dial went on while time stood still";

    // Time runs again: the dial ends as it always has.
    SetCallEventClock(nullptr);
    ASSERT_TRUE(WaitUntil([&] { return HasState(ht21, LINECALLSTATE_RINGBACK); }));
    EXPECT_EQ(States(ht21), (std::vector<DWORD>{LINECALLSTATE_DIALTONE, LINECALLSTATE_DIALING,
                                                 LINECALLSTATE_PROCEEDING, LINECALLSTATE_RINGBACK}));
}

// An event waits for the earlier events of its line and of its PBX call,
// even while they pause: an answer at 22 comes after the ring at 21 that it
// idles, and a hangup at 21 after the ring at 21.
TEST_F(CallEventSchedulerTest, AnEventWaitsForTheEarlierEventsOfItsLineAndCall) {
    HTAPILINE ht21 = OpenLine(0);
    HTAPILINE ht22 = OpenLine(1);
    SetCallEventClock(&StillClock);
    g_Manager.PostEvents(L"grp", L"21", L"0301234567", L"21", L"ring", L"inbound");
    g_Manager.PostEvents(L"grp", L"22", L"0301234567", L"22", L"ring", L"inbound");
    g_Manager.PostEvents(L"grp", L"22", L"0301234567", L"22", L"answer", L"inbound");
    g_Manager.PostEvents(L"grp", L"22", L"0301234567", L"22", L"hangup", L"inbound");
    ASSERT_TRUE(WaitUntil([&] { return HasState(ht21, LINECALLSTATE_OFFERING); }));
    EXPECT_TRUE(States(ht22).empty()) << "the ring at 22 did not wait for the ring of the same call at 21";

    SetCallEventClock(nullptr);
    ASSERT_TRUE(WaitUntil([&] { return HasState(ht22, LINECALLSTATE_IDLE); }));
    EXPECT_EQ(States(ht21), (std::vector<DWORD>{LINECALLSTATE_OFFERING, LINECALLSTATE_IDLE}));
    EXPECT_EQ(States(ht22), (std::vector<DWORD>{LINECALLSTATE_OFFERING, LINECALLSTATE_CONNECTED,
                                                 LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}));
}

// A shutdown drops the events still waiting and ends the delivery thread,
// also while an event sits in its pause; a waiting caller is let go.
TEST_F(CallEventSchedulerTest, ShutdownDropsWaitingEventsAndLetsWaitersGo) {
    HTAPILINE ht21 = OpenLine(0);
    SetCallEventClock(&StillClock);
    // Detached: a caller that is never let go fails the test instead of hanging it.
    auto returned = std::make_shared<std::promise<void>>();
    std::future<void> waiter = returned->get_future();
    std::thread([returned] {
        Event(L"s", L"21", L"ring", L"inbound");
        returned->set_value();
    }).detach();
    ASSERT_TRUE(WaitUntil([&] { return HasState(ht21, LINECALLSTATE_OFFERING); }));
    g_Manager.PostEvents(L"s", L"21", L"0301234567", L"21", L"hangup", L"inbound");
    {
        // As TSPI_providerShutdown does it: inside the ProviderLock.
        CProviderLockGuard lock(LockOwner::providerShutdown);
        StopCallEventScheduler();
    }
    EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(kWatchdogMs)), std::future_status::ready)
        << "the waiting caller was not let go";
    EXPECT_EQ(States(ht21), std::vector<DWORD>{LINECALLSTATE_OFFERING}) << "a dropped event still acted";
}

}  // namespace
