// The built provider against a PBX that misbehaves, one row per fault: what
// the simulator does wrong, and the recovery the provider must show without a
// restart (or, where the fault meets a stop, a prompt and clean stop).
// Deadlines are watchdogs, generous for a loaded machine, and well short of
// the time a request that hangs would hold things up: a stop that waited for
// one would overrun them.
// ctest-lock: registry
#include <chrono>
#include <functional>
#include <ostream>

#include "support/ProviderRuntimeFixture.h"
#include "support/ProviderThreads.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const wchar_t kLogin[] = L"/v1/login";
const wchar_t kDirectory[] = L"/v1/extensions/phone/data";
const wchar_t kCalls[] = L"/v1/extensions/phone/calls";
const wchar_t kCaller[] = L"4930123456";
constexpr DWORD kLines = 3;
constexpr DWORD kWatchdogMs = 30000;

std::wstring Fault(const wchar_t* pszPath, const wchar_t* pszMethod, const std::wstring& members) {
    return L"{\"path\":" + JsonQuote(pszPath) + L",\"method\":" + JsonQuote(pszMethod) + L"," + members + L"}";
}

// The rows below play their fault through this fixture's members, against
// the simulator's demo account.
class FaultMatrixTest : public ProviderRuntimeFixture {
public:
    void StartSimulator() override { ASSERT_TRUE(m_sim.Start()) << ToUtf8(m_sim.Error()); }

    void TearDown() override {
        m_sim.ClearFaults();
        ProviderRuntimeFixture::TearDown();
        // Whatever the fault, no PBX request was made inside the ProviderLock
        // (the HTTP client writes this line at every level).
        const std::vector<std::wstring> logs = ProviderLogs();
        EXPECT_FALSE(logs.empty()) << "no provider log to look into";
        for (const std::wstring& path : logs)
            EXPECT_EQ(ReadFileBytes(path).find("Request inside the ProviderLock"), std::string::npos) << ToUtf8(path);
    }

    // Shutdown (timed), unload, and no thread of the library left.
    static constexpr milliseconds kStopWatchdog{6000};
    milliseconds StopAndUnload() {
        const ModuleRange range = RangeOf(m_host.Module());
        const auto started = Clock::now();
        EXPECT_EQ(m_host.Shutdown(), 0);
        const auto elapsed = std::chrono::duration_cast<milliseconds>(Clock::now() - started);
        m_bStarted = false;
        m_host.Unload();
        EXPECT_EQ(GetModuleHandleW(L"ORVOTSP.TSP"), nullptr);
        EXPECT_EQ(SettledThreadsStartedIn(range, 0), 0u);
        return elapsed;
    }

    // The answers the simulator gave to the requests of the method to the path, in order.
    std::vector<int> Statuses(const wchar_t* pszMethod, const wchar_t* pszPath) const {
        std::vector<int> statuses;
        for (const SimRequest& request : RequestsTo(pszMethod, pszPath)) statuses.push_back(request.nStatus);
        return statuses;
    }

    // The lines the host, as tapisrv does, gave device IDs for the provider's
    // LINE_CREATEs; waits until there are dwExpected of them.
    std::vector<DWORD> CreatedLines(DWORD dwExpected) {
        std::vector<DWORD> created;
        const auto collect = [&] {
            created.clear();
            for (const HostEvent& e : m_host.Events())
                if (e.kind == HostEvent::DeviceCreated && e.lResult == 0) created.push_back(static_cast<DWORD>(e.dwParam2));
            return created.size() >= dwExpected;
        };
        EXPECT_TRUE(WaitUntil(collect, 60000)) << "no LINE_CREATE for the lines the failed start could not have";
        return created;
    }
};

// A request of the re-initialisation hangs when the provider is stopped: the
// stop is prompt all the same.
// The production timers: the hanging request would hold a stop that waited
// for it the session's full 10 s.
void StopWhileReinitializationHangsAt(FaultMatrixTest& t, const wchar_t* pszMethod, const wchar_t* pszPath) {
    ASSERT_NO_FATAL_FAILURE(t.UseProductionTimers());
    ASSERT_NO_FATAL_FAILURE(t.StartAndOpenLines());
    ASSERT_TRUE(t.m_sim.ClearRequests());
    ASSERT_TRUE(t.m_sim.AddFault(Fault(pszPath, pszMethod, L"\"hang\":true")));
    ASSERT_NO_FATAL_FAILURE(t.RequestReinitialization());
    ASSERT_TRUE(t.WaitForRequests(pszMethod, pszPath, 1, 0, kWatchdogMs));
    EXPECT_LT(t.StopAndUnload(), t.kStopWatchdog);
}

// One fault and the provider's recovery from it.
struct FaultRow {
    const char* pszName;
    std::function<void(FaultMatrixTest&)> play;
};

void PrintTo(const FaultRow& row, std::ostream* pStream) { *pStream << row.pszName; }

class FaultMatrixRows : public FaultMatrixTest, public testing::WithParamInterface<FaultRow> {};

TEST_P(FaultMatrixRows, ProviderRecovers) { GetParam().play(*this); }

const FaultRow kRows[] = {
    {"StreamClosesRightAfterItsHeader",
     [](FaultMatrixTest& t) {
         ASSERT_NO_FATAL_FAILURE(t.StartAndOpenLines());
         ASSERT_TRUE(t.m_sim.AddFault(Fault(kCalls, L"GET", L"\"stream\":\"close\",\"count\":100000")));
         ASSERT_TRUE(t.m_sim.ClearRequests());
         ASSERT_EQ(t.m_sim.Control(L"POST", L"streams/close", L"{\"mode\":\"end\"}").dwStatus, 200u);
         // The measured window (10 s at the production timers): reopened
         // with growing pauses, a handful of times, not hundreds.
         Sleep(ScaledMs(10000, 2000));
         const size_t nReopened = t.RequestsTo(L"GET", kCalls).size();
         EXPECT_GE(nReopened, 2u);
         EXPECT_LE(nReopened, 20u);
         // Once the server behaves, a stream holds and calls are offered.
         ASSERT_TRUE(t.m_sim.ClearFaults());
         ASSERT_TRUE(t.WaitForRequests(L"GET", kCalls, static_cast<int>(nReopened) + 1, 1, 60000));
         ASSERT_FALSE(t.Ring(L"[\"21\"]", kCaller).empty());
         EXPECT_TRUE(t.WaitForState(0, LINECALLSTATE_OFFERING, kWatchdogMs));
     }},
    {"LoginAnswers500Then503ThenRecovers",
     [](FaultMatrixTest& t) {
         ASSERT_TRUE(t.m_sim.AddFault(Fault(kLogin, L"POST", L"\"status\":500")));
         ASSERT_TRUE(t.m_sim.AddFault(Fault(kLogin, L"POST", L"\"status\":503")));
         ASSERT_NO_FATAL_FAILURE(t.StartProvider(0));
         EXPECT_EQ(t.LastLoginState(), L"Login failed");
         // Retried in the background; the lines come by LINE_CREATE.
         ASSERT_TRUE(t.WaitForRequests(L"POST", kLogin, 3, 0, kWatchdogMs));
         const std::vector<DWORD> lines = t.CreatedLines(kLines);
         ASSERT_EQ(lines.size(), kLines);
         const std::vector<int> statuses = t.Statuses(L"POST", kLogin);
         ASSERT_GE(statuses.size(), 3u);
         EXPECT_EQ(std::vector<int>(statuses.begin(), statuses.begin() + 3), (std::vector<int>{500, 503, 200}));
         EXPECT_EQ(t.LastLoginState(), L"Login successful");
         ASSERT_NO_FATAL_FAILURE(t.OpenLines(0, kLines));
         ASSERT_TRUE(t.WaitForStreams(1, kWatchdogMs));
         ASSERT_FALSE(t.Ring(L"[\"21\",\"22\",\"23\"]", kCaller).empty());
         for (DWORD dwDeviceID : lines)
             EXPECT_TRUE(t.WaitForState(dwDeviceID, LINECALLSTATE_OFFERING, kWatchdogMs)) << dwDeviceID;
     }},
    {"LoginHangs",
     [](FaultMatrixTest& t) {
         ASSERT_TRUE(t.m_sim.AddFault(Fault(kLogin, L"POST", L"\"hang\":true")));
         // The library's load, which takes Wine seconds on a loaded machine, is not timed.
         ASSERT_TRUE(t.m_host.Load(GetEnv(L"ORVO_TSP_PATH")));
         const auto started = Clock::now();
         DWORD dwLines = 99;
         ASSERT_EQ(t.m_host.Start(&dwLines), 0);
         t.m_bStarted = true;
         EXPECT_EQ(dwLines, 0u);
         // One bounded login attempt of about 10 s, not two or three, and not
         // the server's time; a second attempt would make 20 s.
         EXPECT_LT(Clock::now() - started, milliseconds(19000));
         EXPECT_EQ(t.LastLoginState(), L"Login failed");
         // The server answers again: the background retry logs in.
         ASSERT_TRUE(t.m_sim.ClearFaults());
         ASSERT_TRUE(t.WaitForRequests(L"POST", kLogin, 2, 0, kWatchdogMs));
         EXPECT_TRUE(t.WaitUntil([&] { return t.LastLoginState() == L"Login successful"; }, kWatchdogMs));
         EXPECT_LT(t.StopAndUnload(), t.kStopWatchdog);
     }},
    {"LoginHangsDuringReinitializationWhenTheProviderStops",
     [](FaultMatrixTest& t) { StopWhileReinitializationHangsAt(t, L"POST", kLogin); }},
    {"DirectoryHangsDuringReinitializationWhenTheProviderStops",
     [](FaultMatrixTest& t) { StopWhileReinitializationHangsAt(t, L"GET", kDirectory); }},
    {"ServerStallsFortySecondsInTheMiddleOfAnEvent",
     [](FaultMatrixTest& t) {
         ASSERT_NO_FATAL_FAILURE(t.StartAndOpenLines());
         // 40 s with the production timers, longer than WinHTTP's own receive time-out.
         const std::wstring event =
             L"{\"event\":{\"uuid\":\"stalled-1\",\"extension\":\"23\",\"caller\":\"4930123456\",\"callee\":\"23\","
             L"\"state\":\"ring\",\"direction\":\"inbound\"},\"stall_ms\":" + std::to_wstring(ScaledMs(40000)) + L"}";
         ASSERT_EQ(t.m_sim.Control(L"POST", L"emit", event).dwStatus, 200u);
         ASSERT_TRUE(t.WaitForState(2, LINECALLSTATE_OFFERING, 70000));
         EXPECT_EQ(t.CallerIDOfNewCall(2), L"+4930123456");
     }},
    {"ConnectionFallsSilentPastTheIdleLimit",
     [](FaultMatrixTest& t) {
         // A healthy stream says something every second; silence for 3 s is
         // death (at the production timers; the provider's idle limit is
         // shortened to no less than 1 s).
         ASSERT_TRUE(SetRegDword(HKEY_LOCAL_MACHINE, TestedProviderKey(), L"StreamIdleTimeout", 3));
         ASSERT_EQ(t.m_sim.Control(L"POST", L"settings", L"{\"heartbeat_ms\":" + std::to_wstring(ScaledMs(1000, 250)) + L"}")
                       .dwStatus,
                   200u);
         ASSERT_NO_FATAL_FAILURE(t.StartAndOpenLines());
         ASSERT_TRUE(t.m_sim.ClearRequests());
         // The heartbeats keep the stream over more than the idle limit: nothing is reopened.
         Sleep(ScaledMs(5000, 2000));
         EXPECT_EQ(t.RequestsTo(L"GET", kCalls).size(), 0u);
         ASSERT_EQ(t.m_sim.Control(L"POST", L"streams/close", L"{\"mode\":\"silence\"}").dwStatus, 200u);
         ASSERT_TRUE(t.WaitForRequests(L"GET", kCalls, 1, 1, kWatchdogMs));
         ASSERT_FALSE(t.Ring(L"[\"21\"]", kCaller).empty());
         EXPECT_TRUE(t.WaitForState(0, LINECALLSTATE_OFFERING, kWatchdogMs));
     }},
    {"StopWhileABurstOfEventsFlows",
     [](FaultMatrixTest& t) {
         ASSERT_NO_FATAL_FAILURE(t.StartAndOpenLines());
         ASSERT_EQ(t.m_sim.Control(L"POST", L"flood", L"{\"extensions\":[\"21\",\"22\",\"23\"],\"count\":5000}")
                       .dwStatus,
                   200u);
         ASSERT_TRUE(t.m_host.WaitForEventCount(50, kWatchdogMs));
         EXPECT_LT(t.StopAndUnload(), t.kStopWatchdog);
     }},
};

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrixRows, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<FaultRow>& info) { return std::string(info.param.pszName); });

}  // namespace
