// Lines that tell the truth about the PBX: out of service while it cannot be
// reached (and not for a quick reconnect) or refuses the credentials, and a
// call ended after a stream cut only on evidence that it ended. Deadlines are
// watchdogs.
// ctest-lock: registry
#include <ostream>

#include "manager/ServiceState.h"
#include "support/ProviderRuntimeFixture.h"

namespace {

const wchar_t kCalls[] = L"/v1/extensions/phone/calls";
constexpr DWORD kWatchdogMs = 60000;

class ServiceStateTest : public ProviderRuntimeFixture {
protected:
    static std::function<bool(const HostEvent&)> IsLineState(DWORD dwLine, DWORD dwState) {
        return [=](const HostEvent& e) {
            return e.htLine == LineHandle(dwLine) && e.dwMsg == LINE_LINEDEVSTATE && e.dwParam1 == dwState;
        };
    }
    // How often each line heard that it went out of service and came back.
    void ExpectServiceMessagesOnEveryLine(size_t nOutOfService, size_t nInService) const {
        for (DWORD dwLine = 0; dwLine < 3; ++dwLine) {
            EXPECT_EQ(m_host.CountEvents(IsLineState(dwLine, LINEDEVSTATE_OUTOFSERVICE)), nOutOfService) << "line " << dwLine;
            EXPECT_EQ(m_host.CountEvents(IsLineState(dwLine, LINEDEVSTATE_INSERVICE)), nInService) << "line " << dwLine;
        }
    }
    // Every line has heard the line state by the deadline.
    bool WaitForLineStateOnEveryLine(DWORD dwState, DWORD dwTimeoutMs) const {
        for (DWORD dwLine = 0; dwLine < 3; ++dwLine)
            if (!m_host.WaitForEvent(IsLineState(dwLine, dwState), dwTimeoutMs)) return false;
        return true;
    }
    void ExpectDevStatusOfEveryLine(DWORD dwFlags) {
        for (DWORD dwLine = 0; dwLine < 3; ++dwLine) {
            std::vector<BYTE> status;
            ASSERT_EQ(m_host.GetLineDevStatus(m_lines[dwLine], 4096, &status), 0) << "line " << dwLine;
            EXPECT_EQ(reinterpret_cast<const LINEDEVSTATUS*>(status.data())->dwDevStatusFlags, dwFlags) << "line " << dwLine;
        }
    }
    bool Down(DWORD dwMs) const {
        return m_sim.Control(L"POST", L"down", L"{\"ms\":" + std::to_wstring(dwMs) + L"}").dwStatus == 200;
    }
    // As WaitForRequests, asked again while the simulator's port is closed.
    bool WaitForRequestsAcrossOutage(int nCount, DWORD dwTimeoutMs) const {
        return WaitUntil([&] { return WaitForRequests(L"GET", kCalls, nCount, 1, 2000); }, dwTimeoutMs);
    }
};

// The times below are those of the production timers; the test program
// shortens them with the provider's (support/TestTimers.h).
TEST_F(ServiceStateTest, QuickReconnectShowsNothing) {
    ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
    ExpectDevStatusOfEveryLine(LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE);

    // A two-second cut: the stream is reopened, and past the grace period no line has heard a word.
    ASSERT_TRUE(Down(ScaledMs(2000)));
    ASSERT_TRUE(WaitForRequestsAcrossOutage(2, kWatchdogMs)) << "stream not reopened";
    Sleep(ScaledMs(kOutOfServiceGraceMs, kMinScaledGraceMs) + ScaledMs(3000));
    ExpectServiceMessagesOnEveryLine(0, 0);
}

TEST_F(ServiceStateTest, AnOutageTakesEveryLineOutOfServiceAndBack) {
    ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
    ExpectDevStatusOfEveryLine(LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE);

    // The PBX away well past the grace period (15 s at the production timers,
    // at least 2 s more when shortened): every open line goes out of service
    // and refuses calls.
    const DWORD dwOutageMs = ScaledMs(kOutOfServiceGraceMs, kMinScaledGraceMs) + ScaledMs(5000, 2000);
    ASSERT_TRUE(Down(dwOutageMs));
    ASSERT_TRUE(WaitForLineStateOnEveryLine(LINEDEVSTATE_OUTOFSERVICE, kWatchdogMs));
    ExpectDevStatusOfEveryLine(LINEDEVSTATUSFLAGS_CONNECTED);
    HDRVCALL hdCall = nullptr;
    EXPECT_EQ(m_host.MakeCall(77, m_lines[0], reinterpret_cast<HTAPICALL>(0x77), &hdCall, L"0301234567"),
              LINEERR_OPERATIONUNAVAIL);

    // Back: in service once, the flag returns, and a call rung afterwards is offered.
    ASSERT_TRUE(WaitForLineStateOnEveryLine(LINEDEVSTATE_INSERVICE, kWatchdogMs + dwOutageMs));
    ExpectDevStatusOfEveryLine(LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE);
    ExpectServiceMessagesOnEveryLine(1, 1);
    ASSERT_TRUE(WaitForStreams(1, kWatchdogMs));
    ASSERT_FALSE(Ring(L"[\"22\"]", L"4930123456").empty());
    EXPECT_TRUE(WaitForState(1, LINECALLSTATE_OFFERING, kWatchdogMs));
}

// A connected call, the stream cut and kept from reopening, maybe its hangup
// sent meanwhile, the stream back. The replayed hangup ends it; from a PBX
// that cannot replay, only a presence of "idle" or "offline" does, once the
// stale-call settle has passed. Any other presence keeps the call, and the
// application's drop, which such a PBX answers 404, ends it then.
struct StreamCutRow {
    const char* pszName;
    bool bReplay;
    const wchar_t* pszPresence;  // of extension 21 as JSON; null: the simulator's ("busy" during a call)
    bool bHangup;                // the call ends at the PBX while the stream is down
    bool bEndsOnItsOwn;
};

void PrintTo(const StreamCutRow& row, std::ostream* pStream) { *pStream << row.pszName; }

class StreamCutTest : public ServiceStateTest, public testing::WithParamInterface<StreamCutRow> {};

TEST_P(StreamCutTest, ACallEndsOnlyOnEvidence) {
    const StreamCutRow& row = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
    ASSERT_EQ(m_sim.Control(L"POST", L"settings", row.bReplay ? L"{\"replay\":true}" : L"{\"replay\":false}").dwStatus,
              200u);
    if (row.pszPresence != nullptr) {
        ASSERT_EQ(m_sim.Control(L"POST", L"extensions",
                                L"{\"extensions\":[{\"extension_number\":\"21\",\"name\":\"Office\",\"presence\":" +
                                    std::wstring(row.pszPresence) +
                                    L"},{\"extension_number\":\"22\",\"name\":\"Reception\"},"
                                    L"{\"extension_number\":\"23\",\"name\":\"Lab\"}]}")
                      .dwStatus,
                  200u);
    }
    const std::wstring uuid = Ring(L"[\"21\"]", L"4930123456");
    ASSERT_FALSE(uuid.empty());
    ASSERT_TRUE(WaitForState(0, LINECALLSTATE_OFFERING));
    ASSERT_TRUE(Answer(uuid));
    ASSERT_TRUE(WaitForState(0, LINECALLSTATE_CONNECTED));

    const size_t nStreamsBefore = RequestsTo(L"GET", kCalls).size();
    ASSERT_TRUE(m_sim.AddFault(L"{\"path\":\"/v1/extensions/phone/calls\",\"method\":\"GET\",\"status\":503,\"count\":100000}"));
    ASSERT_EQ(m_sim.Control(L"POST", L"streams/close", L"{\"mode\":\"abort\"}").dwStatus, 200u);
    ASSERT_TRUE(WaitForRequests(L"GET", kCalls, static_cast<int>(nStreamsBefore) + 1, 0, kWatchdogMs));
    if (row.bHangup) {
        ASSERT_TRUE(Hangup(uuid));
    }
    ASSERT_TRUE(m_sim.ClearFaults());

    if (!row.bEndsOnItsOwn) {
        // The stale-call check has read the directory and kept the call.
        ASSERT_TRUE(WaitForLogText("Call " + ToUtf8(uuid) + " on 21 kept", kWatchdogMs + kStaleCallSettleMs));
        EXPECT_EQ(CallStates(0), (std::vector<DWORD>{LINECALLSTATE_OFFERING, LINECALLSTATE_CONNECTED}));
        HDRVCALL hdCall = nullptr;
        for (const HostEvent& e : m_host.LineEvents())
            if (e.htLine == LineHandle(0) && e.dwMsg == LINE_NEWCALL) hdCall = reinterpret_cast<HDRVCALL>(e.dwParam1);
        ASSERT_NE(hdCall, nullptr);
        ASSERT_EQ(m_host.Drop(91, hdCall), 91);
        EXPECT_EQ(WaitForCompletion(91).lResult, 0);
    }
    ASSERT_TRUE(WaitForState(0, LINECALLSTATE_IDLE, kWatchdogMs + kStaleCallSettleMs));
    // Offering, connected, disconnected, idle: no state twice.
    EXPECT_EQ(CallStates(0), (std::vector<DWORD>{LINECALLSTATE_OFFERING, LINECALLSTATE_CONNECTED,
                                                 LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}));

    // The reconnection named the last event the provider had.
    bool bResumed = false;
    for (const SimRequest& request : RequestsTo(L"GET", kCalls))
        for (const auto& header : request.headers)
            if (_wcsicmp(header.first.c_str(), L"Last-Event-ID") == 0 && !header.second.empty()) bResumed = true;
    EXPECT_TRUE(bResumed);
}

INSTANTIATE_TEST_SUITE_P(Rows, StreamCutTest,
                         testing::Values(StreamCutRow{"ReplayedHangup", true, nullptr, true, true},
                                         StreamCutRow{"NoReplayPresenceIdle", false, L"\"idle\"", true, true},
                                         StreamCutRow{"NoReplayPresenceOffline", false, L"\"offline\"", true, true},
                                         StreamCutRow{"NoReplayNoPresence", false, L"null", true, false},
                                         StreamCutRow{"NoReplayCallGoesOnBusy", false, nullptr, false, false}),
                         [](const testing::TestParamInfo<StreamCutRow>& info) { return std::string(info.param.pszName); });

// The PBX refuses the stored credentials once they are needed again: one
// login, then none until the dialog's OK asks for a new one; meanwhile every
// line is out of service and the login state says why. Both loops that log
// in (the stream's token renewal and the background login) hold back.
TEST_F(ServiceStateTest, RefusedCredentialsAreTriedOnceUntilTheDialogAsksAgain) {
    const wchar_t kLogin[] = L"/v1/login";
    for (int nStatus : {401, 403}) {
        SCOPED_TRACE(nStatus);
        ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
        ASSERT_TRUE(m_sim.ClearRequests());
        // The password was changed at the PBX: logins are refused, and every token ends.
        ASSERT_TRUE(m_sim.AddFault(L"{\"path\":\"/v1/login\",\"method\":\"POST\",\"status\":" + std::to_wstring(nStatus) +
                                   L",\"count\":100000}"));
        ASSERT_EQ(m_sim.Control(L"POST", L"revoke-tokens").dwStatus, 200u);
        ASSERT_EQ(m_sim.Control(L"POST", L"streams/close", L"{\"mode\":\"end\"}").dwStatus, 200u);

        ASSERT_TRUE(WaitForLineStateOnEveryLine(LINEDEVSTATE_OUTOFSERVICE, kWatchdogMs));
        // The stream's loop goes on renewing its token, without a login.
        ASSERT_TRUE(WaitForRequests(L"PUT", kLogin, 4, 0, kWatchdogMs));
        EXPECT_EQ(RequestsTo(L"POST", kLogin).size(), 1u);
        EXPECT_EQ(LastLoginState(), Localized(L"User name or password wrong", L"Benutzername oder Passwort falsch"));
        ExpectDevStatusOfEveryLine(LINEDEVSTATUSFLAGS_CONNECTED);

        // The dialog's OK after the password was put right: one login, and the lines are back.
        ASSERT_TRUE(m_sim.ClearFaults());
        ASSERT_NO_FATAL_FAILURE(RequestReinitialization());
        ASSERT_TRUE(WaitForLineStateOnEveryLine(LINEDEVSTATE_INSERVICE, kWatchdogMs));
        std::vector<int> statuses;
        for (const SimRequest& request : RequestsTo(L"POST", kLogin)) statuses.push_back(request.nStatus);
        ASSERT_GE(statuses.size(), 2u);
        EXPECT_EQ(std::vector<int>(statuses.begin(), statuses.begin() + 2), (std::vector<int>{nStatus, 200}));
        // Written once the re-initialisation has applied the directory, which may come after the stream.
        const std::wstring successful = Localized(L"Login successful", L"Anmelden erfolgreich");
        EXPECT_TRUE(WaitUntil([&] { return LastLoginState() == successful; }, kWatchdogMs)) << ToUtf8(LastLoginState());
        StopProvider();
        m_lines.clear();
        m_host.ClearEvents();
        ASSERT_EQ(m_sim.Control(L"POST", L"reset").dwStatus, 200u);
    }
}

}  // namespace
