// Many lines ringing at the same moment, as a hunt group or the start of a
// shift gives: the PBX publishes the calls of fifty lines back to back, and
// every call must reach TAPI whole, once, in its order and on its own line.
// ctest-lock: registry
#include <algorithm>
#include <chrono>

#include "support/ProviderThreads.h"
#include "support/ProviderRuntimeFixture.h"

namespace {

constexpr DWORD kLines = 50;
// The simulator numbers a generated directory from this extension on.
constexpr DWORD kFirstExtension = 10000;
const wchar_t kCaller[] = L"4930123456";
// A watchdog, not a speed requirement: the burst only has to end.
constexpr auto kBurstDeadline = std::chrono::seconds(120);

std::wstring Extension(DWORD dwLine) { return std::to_wstring(kFirstExtension + dwLine); }

// The simulator's demo user with a generated directory of kLines extensions.
class EventBurstTest : public ProviderRuntimeFixture {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ProviderRuntimeFixture::SetUp());
        // Numbers as the PBX sends them.
        ASSERT_TRUE(WriteStringSetting(TestedProviderKey(), L"NumberFormat", L"1"));
    }

    void StartSimulator() override {
        ASSERT_TRUE(m_sim.Start()) << ToUtf8(m_sim.Error());
        ASSERT_EQ(m_sim.Control(L"POST", L"extensions", L"{\"count\":" + std::to_wstring(kLines) + L"}").dwStatus,
                  200u);
    }

    // Waits until nCount events are there; false at the deadline. The most
    // threads the provider had meanwhile go to m_dwMostThreads.
    bool WaitForEvents(const std::function<bool(const HostEvent&)>& predicate, size_t nCount) {
        const auto deadline = std::chrono::steady_clock::now() + kBurstDeadline;
        const ModuleRange range = RangeOf(m_host.Module());
        for (;;) {
            m_dwMostThreads = std::max(m_dwMostThreads, ThreadsStartedIn(range));
            if (m_host.CountEvents(predicate) >= nCount) return true;
            if (std::chrono::steady_clock::now() >= deadline) return false;
            m_host.WaitForEventCount(m_host.EventCount() + 1, 100);
        }
    }

    // The monitor, keep-alive and network observer, the event delivery
    // thread and the one request thread: however many calls a burst brings.
    static constexpr DWORD kThreadsAtMost = 5;
    DWORD m_dwMostThreads = 0;
};

TEST_F(EventBurstTest, EveryCallOfABurstReachesItsOwnLineWholeOnceAndInOrder) {
    ASSERT_NO_FATAL_FAILURE(StartAndOpenLines(kLines));
    std::wstring extensions;
    for (DWORD dwLine = 0; dwLine < kLines; ++dwLine)
        extensions += (dwLine == 0 ? L"\"" : L",\"") + Extension(dwLine) + L"\"";
    // Every line rings, then every call is answered, then every call hangs up.
    const SimReply burst = m_sim.Control(
        L"POST", L"burst", L"{\"extensions\":[" + extensions + L"],\"caller\":" + JsonQuote(kCaller) + L"}");
    ASSERT_EQ(burst.dwStatus, 200u) << ToUtf8(burst.sBody);
    const auto isIdle = [](const HostEvent& e) { return e.dwMsg == LINE_CALLSTATE && e.dwParam1 == LINECALLSTATE_IDLE; };
    ASSERT_TRUE(WaitForEvents(isIdle, kLines)) << m_host.CountEvents(isIdle) << " of " << kLines << " calls idle";
    EXPECT_LE(m_dwMostThreads, kThreadsAtMost) << "a thread per call";

    const std::vector<HostEvent> events = m_host.LineEvents();
    for (DWORD dwLine = 0; dwLine < kLines; ++dwLine) {
        SCOPED_TRACE("line " + std::to_string(dwLine));
        std::vector<HTAPICALL> newCalls;
        HDRVCALL hdCall = nullptr;
        std::vector<DWORD> states;
        std::vector<HTAPICALL> stateCalls;
        for (const HostEvent& event : events) {
            if (event.htLine != LineHandle(dwLine)) continue;
            if (event.dwMsg == LINE_NEWCALL) {
                newCalls.push_back(event.htCall);
                hdCall = reinterpret_cast<HDRVCALL>(event.dwParam1);
            } else if (event.dwMsg == LINE_CALLSTATE) {
                states.push_back(static_cast<DWORD>(event.dwParam1));
                stateCalls.push_back(event.htCall);
            }
        }
        ASSERT_EQ(newCalls.size(), 1u);
        EXPECT_EQ(states, (std::vector<DWORD>{LINECALLSTATE_OFFERING, LINECALLSTATE_CONNECTED,
                                              LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}));
        EXPECT_EQ(stateCalls, std::vector<HTAPICALL>(states.size(), newCalls[0]));
        // The call carries this line's own extension and the caller: no event went to another line.
        std::vector<BYTE> info;
        ASSERT_EQ(m_host.GetCallInfo(hdCall, 4096, &info), 0);
        const auto* pInfo = reinterpret_cast<const LINECALLINFO*>(info.data());
        EXPECT_EQ(RecordText(info, pInfo->dwCalledIDSize, pInfo->dwCalledIDOffset), Extension(dwLine));
        EXPECT_EQ(RecordText(info, pInfo->dwCallerIDSize, pInfo->dwCallerIDOffset), kCaller);
    }
}

// A dialer's burst: a call placed on every line at once. Each has its PBX
// command, its completion and its dial-tone closer, all served by the one
// request thread; a shutdown with every closer still waiting is prompt and
// leaves no thread behind.
TEST_F(EventBurstTest, PlacedCallsOfABurstStartNoThreadEachAndStopWithTheProvider) {
    ASSERT_NO_FATAL_FAILURE(StartAndOpenLines(kLines));
    std::vector<HDRVCALL> calls(kLines);
    for (DWORD dwLine = 0; dwLine < kLines; ++dwLine)
        ASSERT_EQ(m_host.MakeCall(100 + dwLine, m_lines[dwLine], reinterpret_cast<HTAPICALL>(ULONG_PTR{100 + dwLine}),
                                  &calls[dwLine], L"0301234567"),
                  static_cast<LONG>(100 + dwLine));
    ASSERT_TRUE(WaitForEvents([](const HostEvent& e) { return e.kind == HostEvent::Completion && e.lResult == 0; }, kLines));
    ASSERT_TRUE(WaitForEvents(
        [](const HostEvent& e) { return e.dwMsg == LINE_CALLSTATE && e.dwParam1 == LINECALLSTATE_CONNECTED; }, kLines));
    EXPECT_LE(m_dwMostThreads, kThreadsAtMost) << "a thread per call";

    const ModuleRange range = RangeOf(m_host.Module());
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(m_host.Shutdown(), 0);
    m_bStarted = false;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10)) << "watchdog";
    EXPECT_EQ(SettledThreadsStartedIn(range, 0), 0u);
}

}  // namespace
