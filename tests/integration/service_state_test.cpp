// Lines that tell the truth about the PBX: out of service while it cannot be
// reached (and not for a quick reconnect), and no call left connected because
// its hangup came while the event stream was down. Deadlines are watchdogs.
// ctest-lock: registry
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "manager/ServiceState.h"
#include "support/ProviderRuntimeFixture.h"

namespace {

const wchar_t kCalls[] = L"/v1/extensions/phone/calls";
constexpr DWORD kWatchdogMs = 60000;

class ServiceStateTest : public ProviderRuntimeFixture {
protected:
    size_t LineStateMessages(DWORD dwLine, DWORD dwState) const {
        return m_host.CountEvents([&](const HostEvent& e) {
            return e.htLine == LineHandle(dwLine) && e.dwMsg == LINE_LINEDEVSTATE && e.dwParam1 == dwState;
        });
    }
    bool WaitForLineState(DWORD dwLine, DWORD dwState, DWORD dwTimeoutMs) const {
        return m_host.WaitForEvent(
            [&](const HostEvent& e) {
                return e.htLine == LineHandle(dwLine) && e.dwMsg == LINE_LINEDEVSTATE && e.dwParam1 == dwState;
            },
            dwTimeoutMs);
    }
    DWORD DevStatusFlags(DWORD dwLine) {
        std::vector<BYTE> status;
        if (m_host.GetLineDevStatus(m_lines[dwLine], 4096, &status) != 0) return 0xFFFFFFFF;
        return reinterpret_cast<const LINEDEVSTATUS*>(status.data())->dwDevStatusFlags;
    }
    bool Down(DWORD dwMs) const {
        return m_sim.Control(L"POST", L"down", L"{\"ms\":" + std::to_wstring(dwMs) + L"}").dwStatus == 200;
    }
    // As WaitForRequests, asked again while the simulator's port is closed.
    bool WaitForRequestsAcrossOutage(int nCount, DWORD dwTimeoutMs) const {
        const ULONGLONG qwDeadline = GetTickCount64() + dwTimeoutMs;
        while (!WaitForRequests(L"GET", kCalls, nCount, 1, 2000)) {
            if (GetTickCount64() >= qwDeadline) return false;
            Sleep(200);
        }
        return true;
    }
    std::vector<HostEvent> CallStateEvents(DWORD dwLine) const {
        std::vector<HostEvent> events;
        for (const HostEvent& e : m_host.LineEvents())
            if (e.htLine == LineHandle(dwLine) && e.dwMsg == LINE_CALLSTATE) events.push_back(e);
        return events;
    }
};

// The times below are those of the production timers; the test program
// shortens them with the provider's (support/TestTimers.h).
TEST_F(ServiceStateTest, QuickReconnectShowsNothing) {
    ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
    for (DWORD dwLine = 0; dwLine < 3; ++dwLine)
        EXPECT_EQ(DevStatusFlags(dwLine), static_cast<DWORD>(LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE));

    // A two-second cut: the stream is reopened, and past the grace period no line has heard a word.
    ASSERT_TRUE(Down(ScaledMs(2000)));
    ASSERT_TRUE(WaitForRequestsAcrossOutage(2, kWatchdogMs)) << "stream not reopened";
    Sleep(ScaledMs(kOutOfServiceGraceMs, kMinScaledGraceMs) + ScaledMs(3000));
    for (DWORD dwLine = 0; dwLine < 3; ++dwLine) {
        EXPECT_EQ(LineStateMessages(dwLine, LINEDEVSTATE_OUTOFSERVICE), 0u) << "line " << dwLine;
        EXPECT_EQ(LineStateMessages(dwLine, LINEDEVSTATE_INSERVICE), 0u) << "line " << dwLine;
    }
}

TEST_F(ServiceStateTest, AnOutageTakesEveryLineOutOfServiceAndBack) {
    ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
    for (DWORD dwLine = 0; dwLine < 3; ++dwLine)
        EXPECT_EQ(DevStatusFlags(dwLine), static_cast<DWORD>(LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE));

    // The PBX away well past the grace period (15 s at the production timers,
    // at least 2 s more when shortened): every open line goes out of service
    // and refuses calls.
    const DWORD dwOutageMs = ScaledMs(kOutOfServiceGraceMs, kMinScaledGraceMs) + ScaledMs(5000, 2000);
    ASSERT_TRUE(Down(dwOutageMs));
    for (DWORD dwLine = 0; dwLine < 3; ++dwLine)
        ASSERT_TRUE(WaitForLineState(dwLine, LINEDEVSTATE_OUTOFSERVICE, kWatchdogMs)) << "line " << dwLine;
    for (DWORD dwLine = 0; dwLine < 3; ++dwLine)
        EXPECT_EQ(DevStatusFlags(dwLine), static_cast<DWORD>(LINEDEVSTATUSFLAGS_CONNECTED)) << "line " << dwLine;
    HDRVCALL hdCall = nullptr;
    EXPECT_EQ(m_host.MakeCall(77, m_lines[0], reinterpret_cast<HTAPICALL>(0x77), &hdCall, L"0301234567"),
              LINEERR_OPERATIONUNAVAIL);

    // Back: in service once, the flag returns, and a call rung afterwards is offered.
    for (DWORD dwLine = 0; dwLine < 3; ++dwLine)
        ASSERT_TRUE(WaitForLineState(dwLine, LINEDEVSTATE_INSERVICE, kWatchdogMs + dwOutageMs)) << "line " << dwLine;
    for (DWORD dwLine = 0; dwLine < 3; ++dwLine) {
        EXPECT_EQ(DevStatusFlags(dwLine), static_cast<DWORD>(LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE));
        EXPECT_EQ(LineStateMessages(dwLine, LINEDEVSTATE_OUTOFSERVICE), 1u) << "line " << dwLine;
        EXPECT_EQ(LineStateMessages(dwLine, LINEDEVSTATE_INSERVICE), 1u) << "line " << dwLine;
    }
    ASSERT_TRUE(WaitForStreams(1, kWatchdogMs));
    ASSERT_FALSE(Ring(L"[\"22\"]", L"4930123456").empty());
    EXPECT_TRUE(WaitForState(1, LINECALLSTATE_OFFERING, kWatchdogMs));
}

// A connected call, the stream cut and kept from reopening, the hangup sent
// meanwhile, the stream back: the call ends, by the replayed hangup or,
// from a PBX that cannot replay, by the stale-call rule.
TEST_F(ServiceStateTest, HangupWhileTheStreamIsDownEndsTheCall) {
    struct Row {
        bool bReplay;
    };
    for (const Row& row : {Row{true}, Row{false}}) {
        SCOPED_TRACE(row.bReplay ? "with replay" : "without replay");
        ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
        ASSERT_EQ(m_sim.Control(L"POST", L"settings", row.bReplay ? L"{\"replay\":true}" : L"{\"replay\":false}").dwStatus,
                  200u);
        const std::wstring uuid = Ring(L"[\"21\"]", L"4930123456");
        ASSERT_FALSE(uuid.empty());
        ASSERT_TRUE(WaitForState(0, LINECALLSTATE_OFFERING));
        ASSERT_EQ(m_sim.Control(L"POST", L"answer", L"{\"uuid\":" + JsonQuote(uuid.c_str()) + L"}").dwStatus, 200u);
        ASSERT_TRUE(WaitForState(0, LINECALLSTATE_CONNECTED));

        const size_t nStreamsBefore = RequestsTo(L"GET", kCalls).size();
        ASSERT_TRUE(m_sim.AddFault(L"{\"path\":\"/v1/extensions/phone/calls\",\"method\":\"GET\",\"status\":503,\"count\":100000}"));
        ASSERT_EQ(m_sim.Control(L"POST", L"streams/close", L"{\"mode\":\"abort\"}").dwStatus, 200u);
        ASSERT_TRUE(WaitForRequests(L"GET", kCalls, static_cast<int>(nStreamsBefore) + 1, 0, kWatchdogMs));
        ASSERT_EQ(m_sim.Control(L"POST", L"hangup", L"{\"uuid\":" + JsonQuote(uuid.c_str()) + L"}").dwStatus, 200u);
        ASSERT_TRUE(m_sim.ClearFaults());

        ASSERT_TRUE(WaitForState(0, LINECALLSTATE_IDLE, kWatchdogMs + kStaleCallSettleMs));
        const std::vector<HostEvent> states = CallStateEvents(0);
        ASSERT_GE(states.size(), 3u);
        EXPECT_EQ(states[states.size() - 2].dwParam1, static_cast<DWORD_PTR>(LINECALLSTATE_DISCONNECTED));
        EXPECT_EQ(states.back().dwParam1, static_cast<DWORD_PTR>(LINECALLSTATE_IDLE));
        // Offering, connected, disconnected, idle: no state twice.
        EXPECT_EQ(states.size(), 4u);

        // The reconnection named the last event the provider had.
        const std::vector<SimRequest> streams = RequestsTo(L"GET", kCalls);
        bool bResumed = false;
        for (const SimRequest& request : streams)
            for (const auto& header : request.headers)
                if (_wcsicmp(header.first.c_str(), L"Last-Event-ID") == 0 && !header.second.empty()) bResumed = true;
        EXPECT_TRUE(bResumed);
        StopProvider();
        m_lines.clear();
        m_host.ClearEvents();
        ASSERT_EQ(m_sim.Control(L"POST", L"reset").dwStatus, 200u);
    }
}

}  // namespace
