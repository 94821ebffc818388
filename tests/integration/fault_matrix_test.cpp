// The built provider against a PBX that misbehaves, one row per fault: what
// the simulator does wrong, and the recovery the provider must show without a
// restart (or, where the fault meets a stop, a prompt and clean stop).
// Deadlines are watchdogs, generous for a loaded machine; only the bounds the
// provider promises (a login of about 10 s, a stop within 2 s) are asserted.
// ctest-lock: registry
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "config/ProviderSettings.h"
#include "json/CJsonParserBase.h"
#include "log/ExeName.h"
#include "support/PbxSim.h"
#include "support/ProviderRuntimeFixture.h"
#include "support/ProviderThreads.h"
#include "support/RegistryFixture.h"
#include "support/TestFiles.h"
#include "support/TestTimers.h"
#include "tools/tapihost/ProviderSetup.h"
#include "tools/tapihost/TapiHost.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const wchar_t kLogin[] = L"/v1/login";
const wchar_t kDirectory[] = L"/v1/extensions/phone/data";
const wchar_t kCalls[] = L"/v1/extensions/phone/calls";
constexpr DWORD kLines = 3;
constexpr DWORD kWatchdogMs = 30000;

HTAPILINE LineHandle(DWORD dwLine) { return reinterpret_cast<HTAPILINE>(static_cast<ULONG_PTR>(dwLine + 1)); }

std::wstring Fault(const wchar_t* pszPath, const wchar_t* pszMethod, const std::wstring& members) {
    return L"{\"path\":" + JsonQuote(pszPath) + L",\"method\":" + JsonQuote(pszMethod) + L"," + members + L"}";
}

// Polls a condition until it holds or the deadline passes.
bool WaitUntil(const std::function<bool()>& condition, DWORD dwTimeoutMs) {
    const auto deadline = Clock::now() + milliseconds(dwTimeoutMs);
    for (;;) {
        if (condition()) return true;
        if (Clock::now() >= deadline) return false;
        Sleep(50);
    }
}

// The rows below play their fault through this fixture's members.
class FaultMatrixTest : public testing::Test {
public:
    void SetUp() override {
        ASSERT_TRUE(m_sim.Start()) << ToUtf8(m_sim.Error());
        ASSERT_TRUE(WriteStringSetting(kProviderSettingsKey, L"ApiBaseUrl", m_sim.ApiBaseUrl()));
        ASSERT_TRUE(ApplyTestTimeDivisor(kProviderSettingsKey));
        ASSERT_TRUE(WriteStringSetting(kProviderSettingsKey, L"NumberFormat", L"0"));
        ASSERT_TRUE(WriteStringSetting(kProviderSettingsKey, L"DebugLevel", L"5"));
        ASSERT_TRUE(WriteProtectedSetting(kProviderSettingsKey, L"Name", L"lena.muster"));
        ASSERT_TRUE(WriteProtectedSetting(kProviderSettingsKey, L"Password", L"Demo-Pass-2024"));
    }
    void TearDown() override {
        m_sim.ClearFaults();
        if (m_bStarted) m_host.Shutdown();
        m_host.Unload();
        // Whatever the fault, no PBX request was made inside the ProviderLock
        // (the HTTP client writes this line at every level).
        const std::vector<std::wstring> logs = ProviderLogs();
        EXPECT_FALSE(logs.empty()) << "no provider log to look into";
        for (const std::wstring& path : logs)
            EXPECT_EQ(ReadFileBytes(path).find("Request inside the ProviderLock"), std::string::npos) << ToUtf8(path);
    }

    // The log files this program's provider wrote (each start begins a new set).
    static std::vector<std::wstring> ProviderLogs() {
        wchar_t szData[MAX_PATH] = {};
        SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_DEFAULT, szData);
        const std::wstring folder = std::wstring(szData) + L"\\ORVO\\ORVO TAPI";
        const std::wstring pattern = L"ORVOTSP" + std::wstring(GetExeName()) + L"_*.LOG";
        std::vector<std::wstring> paths;
        for (const std::wstring& name : ListFiles(folder, pattern.c_str())) paths.push_back(folder + L"\\" + name);
        return paths;
    }

    bool AddFault(const std::wstring& json) const { return m_sim.AddFault(json); }
    bool Settings(const std::wstring& json) const {
        return m_sim.Control(L"POST", L"settings", json).dwStatus == 200;
    }

    // Negotiate, enumerate, initialise; the lines TAPI was told of.
    DWORD Start() {
        EXPECT_TRUE(m_host.Load(GetEnv(L"ORVO_TSP_PATH")));
        m_range = RangeOf(m_host.Module());
        DWORD dwLines = 99;
        EXPECT_EQ(m_host.Start(&dwLines), 0);
        m_bStarted = true;
        return dwLines;
    }

    void OpenLines(DWORD dwFirstDeviceID, DWORD dwCount) {
        for (DWORD dwID = dwFirstDeviceID; dwID < dwFirstDeviceID + dwCount; ++dwID) {
            HDRVLINE hdLine = nullptr;
            ASSERT_EQ(m_host.OpenLine(dwID, LineHandle(dwID), &hdLine), 0) << dwID;
        }
    }

    // The three lines started, opened and fed by an event stream.
    void StartWithLines() {
        ASSERT_EQ(Start(), kLines);
        ASSERT_NO_FATAL_FAILURE(OpenLines(0, kLines));
        ASSERT_TRUE(WaitFor(1, 0, nullptr, nullptr, kWatchdogMs));
    }

    // Shutdown (timed), unload, and no thread of the library left.
    milliseconds StopAndUnload() {
        const auto started = Clock::now();
        EXPECT_EQ(m_host.Shutdown(), 0);
        const auto elapsed = std::chrono::duration_cast<milliseconds>(Clock::now() - started);
        m_bStarted = false;
        m_host.Unload();
        EXPECT_EQ(GetModuleHandleW(L"ORVOTSP.TSP"), nullptr);
        EXPECT_EQ(SettledThreadsStartedIn(m_range, 0), 0u);
        return elapsed;
    }

    // The simulator's wait: at least nStreams streams open and nRequests
    // requests (of that method and path) arrived.
    bool WaitFor(int nStreams, int nRequests, const wchar_t* pszMethod, const wchar_t* pszPath,
                 DWORD dwTimeoutMs) const {
        std::wstring body = L"{\"streams\":" + std::to_wstring(nStreams) + L",\"requests\":" +
                            std::to_wstring(nRequests) + L",\"timeout_ms\":" + std::to_wstring(dwTimeoutMs);
        if (pszMethod != nullptr) body += L",\"method\":" + JsonQuote(pszMethod);
        if (pszPath != nullptr) body += L",\"path\":" + JsonQuote(pszPath);
        CJsonParserBase answer;
        return answer.Parse(m_sim.Control(L"POST", L"wait", body + L"}").sBody.c_str()) && answer.GetBool(L"ok");
    }

    size_t CountRequests(const wchar_t* pszMethod, const wchar_t* pszPath) const {
        size_t nCount = 0;
        for (const SimRequest& request : m_sim.Requests())
            if (request.sMethod == pszMethod && request.sPath == pszPath) ++nCount;
        return nCount;
    }
    std::vector<int> Statuses(const wchar_t* pszMethod, const wchar_t* pszPath) const {
        std::vector<int> statuses;
        for (const SimRequest& request : m_sim.Requests())
            if (request.sMethod == pszMethod && request.sPath == pszPath) statuses.push_back(request.nStatus);
        return statuses;
    }

    bool Ring(const std::wstring& extensionsJson) const {
        return m_sim.Control(L"POST", L"ring", L"{\"extensions\":" + extensionsJson + L",\"caller\":\"4930123456\"}")
                   .dwStatus == 200;
    }

    bool WaitForOffering(DWORD dwDeviceID, DWORD dwTimeoutMs = kWatchdogMs) const {
        return m_host.WaitForEvent(
            [&](const HostEvent& event) {
                return event.htLine == LineHandle(dwDeviceID) && event.dwMsg == LINE_CALLSTATE &&
                       event.dwParam1 == LINECALLSTATE_OFFERING;
            },
            dwTimeoutMs);
    }

    // The caller id of the first call TAPI was told about on the line.
    std::wstring CallerOfNewCall(DWORD dwDeviceID) {
        std::vector<BYTE> info;
        for (const HostEvent& event : m_host.LineEvents()) {
            if (event.htLine != LineHandle(dwDeviceID) || event.dwMsg != LINE_NEWCALL) continue;
            if (m_host.GetCallInfo(reinterpret_cast<HDRVCALL>(event.dwParam1), 4096, &info) != 0) break;
            const auto* pInfo = reinterpret_cast<const LINECALLINFO*>(info.data());
            return RecordText(info, pInfo->dwCallerIDSize, pInfo->dwCallerIDOffset);
        }
        return L"(no call)";
    }

    std::wstring LastLoginState() const {
        std::wstring text = L"(missing)";
        ReadRegString(HKEY_LOCAL_MACHINE, kProviderSettingsKey, L"LastLoginState", &text);
        return text;
    }

    // What the configuration dialog does to have the service log in again.
    void RequestReinitialization() const {
        CSharedSettingsView shared;
        ASSERT_NE(shared.Get(), nullptr);
        shared->ReinitRequested = 1;
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

    PbxSim m_sim;
    CRegistrySnapshot m_snapshot{HKEY_LOCAL_MACHINE, kProviderSettingsKey};
    CTapiHost m_host;
    ModuleRange m_range;
    bool m_bStarted = false;
};

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
         ASSERT_NO_FATAL_FAILURE(t.StartWithLines());
         ASSERT_TRUE(t.AddFault(Fault(kCalls, L"GET", L"\"stream\":\"close\",\"count\":100000")));
         ASSERT_TRUE(t.m_sim.ClearRequests());
         ASSERT_EQ(t.m_sim.Control(L"POST", L"streams/close", L"{\"mode\":\"end\"}").dwStatus, 200u);
         // The measured window (10 s at the production timers): reopened
         // with growing pauses, a handful of times, not hundreds.
         Sleep(ScaledMs(10000, 2000));
         const size_t nReopened = t.CountRequests(L"GET", kCalls);
         EXPECT_GE(nReopened, 2u);
         EXPECT_LE(nReopened, 20u);
         // Once the server behaves, a stream holds and calls are offered.
         ASSERT_TRUE(t.m_sim.ClearFaults());
         ASSERT_TRUE(t.WaitFor(1, static_cast<int>(nReopened) + 1, L"GET", kCalls, 60000));
         ASSERT_TRUE(t.Ring(L"[\"21\"]"));
         EXPECT_TRUE(t.WaitForOffering(0));
     }},
    {"LoginAnswers500Then503ThenRecovers",
     [](FaultMatrixTest& t) {
         ASSERT_TRUE(t.AddFault(Fault(kLogin, L"POST", L"\"status\":500")));
         ASSERT_TRUE(t.AddFault(Fault(kLogin, L"POST", L"\"status\":503")));
         EXPECT_EQ(t.Start(), 0u);
         EXPECT_EQ(t.LastLoginState(), L"Login failed");
         // Retried in the background; the lines come by LINE_CREATE.
         ASSERT_TRUE(t.WaitFor(0, 3, L"POST", kLogin, kWatchdogMs));
         const std::vector<DWORD> lines = t.CreatedLines(kLines);
         ASSERT_EQ(lines.size(), kLines);
         const std::vector<int> statuses = t.Statuses(L"POST", kLogin);
         ASSERT_GE(statuses.size(), 3u);
         EXPECT_EQ(std::vector<int>(statuses.begin(), statuses.begin() + 3), (std::vector<int>{500, 503, 200}));
         EXPECT_EQ(t.LastLoginState(), L"Login successful");
         ASSERT_NO_FATAL_FAILURE(t.OpenLines(0, kLines));
         ASSERT_TRUE(t.WaitFor(1, 0, nullptr, nullptr, kWatchdogMs));
         ASSERT_TRUE(t.Ring(L"[\"21\",\"22\",\"23\"]"));
         for (DWORD dwDeviceID : lines) EXPECT_TRUE(t.WaitForOffering(dwDeviceID)) << dwDeviceID;
     }},
    {"LoginHangs",
     [](FaultMatrixTest& t) {
         ASSERT_TRUE(t.AddFault(Fault(kLogin, L"POST", L"\"hang\":true")));
         const auto started = Clock::now();
         EXPECT_EQ(t.Start(), 0u);
         // One bounded login attempt, not three, and not the server's time.
         EXPECT_LT(Clock::now() - started, milliseconds(12000));
         EXPECT_EQ(t.LastLoginState(), L"Login failed");
         // The server answers again: the background retry logs in.
         ASSERT_TRUE(t.m_sim.ClearFaults());
         ASSERT_TRUE(t.WaitFor(0, 2, L"POST", kLogin, kWatchdogMs));
         EXPECT_TRUE(WaitUntil([&] { return t.LastLoginState() == L"Login successful"; }, kWatchdogMs));
         EXPECT_LT(t.StopAndUnload(), milliseconds(2000));
     }},
    {"LoginHangsDuringReinitializationWhenTheProviderStops",
     [](FaultMatrixTest& t) {
         ASSERT_NO_FATAL_FAILURE(t.StartWithLines());
         ASSERT_TRUE(t.m_sim.ClearRequests());
         ASSERT_TRUE(t.AddFault(Fault(kLogin, L"POST", L"\"hang\":true")));
         ASSERT_NO_FATAL_FAILURE(t.RequestReinitialization());
         ASSERT_TRUE(t.WaitFor(0, 1, L"POST", kLogin, kWatchdogMs));
         EXPECT_LT(t.StopAndUnload(), milliseconds(2000));
     }},
    {"DirectoryHangsDuringReinitializationWhenTheProviderStops",
     [](FaultMatrixTest& t) {
         ASSERT_NO_FATAL_FAILURE(t.StartWithLines());
         ASSERT_TRUE(t.m_sim.ClearRequests());
         ASSERT_TRUE(t.AddFault(Fault(kDirectory, L"GET", L"\"hang\":true")));
         ASSERT_NO_FATAL_FAILURE(t.RequestReinitialization());
         ASSERT_TRUE(t.WaitFor(0, 1, L"GET", kDirectory, kWatchdogMs));
         EXPECT_LT(t.StopAndUnload(), milliseconds(2000));
     }},
    {"RefreshRefused",
     [](FaultMatrixTest& t) {
         // Tokens that are due for renewal at every check (less than 20 s left).
         ASSERT_TRUE(t.Settings(L"{\"token_lifetime\":19}"));
         ASSERT_NO_FATAL_FAILURE(t.StartWithLines());
         ASSERT_TRUE(t.AddFault(Fault(kLogin, L"PUT", L"\"status\":401,\"count\":100000")));
         ASSERT_TRUE(t.m_sim.ClearRequests());
         ASSERT_EQ(t.m_sim.Control(L"POST", L"streams/close", L"{\"mode\":\"end\"}").dwStatus, 200u);
         // Refused refresh, then a fresh login with the stored credentials, then the stream.
         ASSERT_TRUE(t.WaitFor(1, 1, L"GET", kCalls, kWatchdogMs));
         std::vector<std::wstring> sequence;
         for (const SimRequest& request : t.m_sim.Requests())
             if (request.sPath == kLogin || request.sPath == kCalls)
                 sequence.push_back(request.sMethod + L" " + request.sPath + L" " + std::to_wstring(request.nStatus));
         ASSERT_GE(sequence.size(), 3u);
         EXPECT_EQ(std::vector<std::wstring>(sequence.begin(), sequence.begin() + 3),
                   (std::vector<std::wstring>{L"PUT /v1/login 401", L"POST /v1/login 200",
                                              L"GET /v1/extensions/phone/calls 200"}));
         ASSERT_TRUE(t.Ring(L"[\"22\"]"));
         EXPECT_TRUE(t.WaitForOffering(1));
     }},
    {"ServerStallsFortySecondsInTheMiddleOfAnEvent",
     [](FaultMatrixTest& t) {
         ASSERT_NO_FATAL_FAILURE(t.StartWithLines());
         // 40 s with the production timers, longer than WinHTTP's own receive time-out.
         const std::wstring event =
             L"{\"event\":{\"uuid\":\"stalled-1\",\"extension\":\"23\",\"caller\":\"4930123456\",\"callee\":\"23\","
             L"\"state\":\"ring\",\"direction\":\"inbound\"},\"stall_ms\":" + std::to_wstring(ScaledMs(40000)) + L"}";
         ASSERT_EQ(t.m_sim.Control(L"POST", L"emit", event).dwStatus, 200u);
         ASSERT_TRUE(t.WaitForOffering(2, 70000));
         EXPECT_EQ(t.CallerOfNewCall(2), L"+4930123456");
     }},
    {"ConnectionFallsSilentPastTheIdleLimit",
     [](FaultMatrixTest& t) {
         // A healthy stream says something every second; silence for 3 s is
         // death (at the production timers; the provider's idle limit is
         // shortened to no less than 1 s).
         ASSERT_TRUE(SetRegDword(HKEY_LOCAL_MACHINE, kProviderSettingsKey, L"StreamIdleTimeout", 3));
         ASSERT_TRUE(t.Settings(L"{\"heartbeat_ms\":" + std::to_wstring(ScaledMs(1000, 250)) + L"}"));
         ASSERT_NO_FATAL_FAILURE(t.StartWithLines());
         ASSERT_TRUE(t.m_sim.ClearRequests());
         // The heartbeats keep the stream over more than the idle limit: nothing is reopened.
         Sleep(ScaledMs(5000, 2000));
         EXPECT_EQ(t.CountRequests(L"GET", kCalls), 0u);
         ASSERT_EQ(t.m_sim.Control(L"POST", L"streams/close", L"{\"mode\":\"silence\"}").dwStatus, 200u);
         ASSERT_TRUE(t.WaitFor(1, 1, L"GET", kCalls, kWatchdogMs));
         ASSERT_TRUE(t.Ring(L"[\"21\"]"));
         EXPECT_TRUE(t.WaitForOffering(0));
     }},
    {"StopWhileABurstOfEventsFlows",
     [](FaultMatrixTest& t) {
         ASSERT_NO_FATAL_FAILURE(t.StartWithLines());
         ASSERT_EQ(t.m_sim.Control(L"POST", L"flood", L"{\"extensions\":[\"21\",\"22\",\"23\"],\"count\":5000}")
                       .dwStatus,
                   200u);
         ASSERT_TRUE(t.m_host.WaitForEventCount(50, kWatchdogMs));
         EXPECT_LT(t.StopAndUnload(), milliseconds(2000));
     }},
};

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrixRows, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<FaultRow>& info) { return std::string(info.param.pszName); });

}  // namespace
