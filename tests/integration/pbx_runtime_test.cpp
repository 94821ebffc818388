// The built provider in a TAPI host against the PBX simulator: login, lines,
// calls both ways, re-initialisation by the dialog, and a prompt shutdown.
// ctest-lock: registry
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "support/ProviderRuntimeFixture.h"
#include "support/ProviderThreads.h"

namespace {

// Threads of this process that started in the module's code: the provider's own.
DWORD ProviderThreadCount(HMODULE hModule) { return ThreadsStartedIn(RangeOf(hModule)); }

class PbxRuntimeTest : public ProviderRuntimeFixture {};

TEST_F(PbxRuntimeTest, AccountExtensionsBecomeLinesNamedByTheLineFormat) {
    // Line format, then the names of the first and the last line.
    const wchar_t* const cases[][3] = {{L"0", L"ORVO lena.muster 21", L"ORVO lena.muster 23"},
                                       {L"1", L"ORVO lena.muster Office", L"ORVO lena.muster Lab"},
                                       {L"2", L"ORVO lena.muster 21: Office", L"ORVO lena.muster 23: Lab"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c[0]));
        ASSERT_TRUE(WriteStringSetting(kProviderSettingsKey, L"LineFormat", c[0]));
        ASSERT_NO_FATAL_FAILURE(StartProvider(3));
        EXPECT_EQ(LineName(0), c[1]);
        EXPECT_EQ(LineName(2), c[2]);
        EXPECT_EQ(LastLoginState(), Localized(L"Login successful", L"Anmelden erfolgreich"));
        StopProvider();
    }
}

TEST_F(PbxRuntimeTest, WrongPasswordOrNoExtensionsGiveNoLinesAndRecordWhy) {
    ASSERT_TRUE(WriteProtectedSetting(kProviderSettingsKey, L"Password", L"wrong"));
    ASSERT_NO_FATAL_FAILURE(StartProvider(0));
    EXPECT_EQ(LastLoginState(), Localized(L"Login failed", L"Anmelden fehlgeschlagen"));
    // No lines, so no event monitor either.
    Sleep(1500);
    EXPECT_TRUE(RequestsTo(L"GET", L"/v1/extensions/phone/calls").empty());
    StopProvider();

    ASSERT_TRUE(WriteProtectedSetting(kProviderSettingsKey, L"Password", L"Demo-Pass-2024"));
    m_sim.Control(L"POST", L"extensions", L"{\"extensions\":[]}");
    ASSERT_NO_FATAL_FAILURE(StartProvider(0));
    EXPECT_EQ(LastLoginState(), Localized(L"No TAPI devices present", L"Keine TAPI Leitungen vorhanden"));
}

// A start whose login failed still has its keep-alive thread: it retries the
// login and carries out the dialog's re-initialisation with the new account.
TEST_F(PbxRuntimeTest, FailedStartRetriesTheLoginAndHonoursTheDialogsReinitialization) {
    ASSERT_TRUE(WriteProtectedSetting(kProviderSettingsKey, L"Password", L"wrong"));
    ASSERT_NO_FATAL_FAILURE(StartProvider(0));
    EXPECT_EQ(ProviderThreadCount(m_host.Module()), 2u);  // keep-alive thread and network observer
    // Retried in the background, refused as before.
    ASSERT_TRUE(WaitForRequests(L"POST", L"/v1/login", 2));

    CSharedSettingsView shared;
    ProviderSettings* pShared = shared.Get();
    ASSERT_NE(pShared, nullptr);
    m_sim.ClearRequests();
    wcscpy(pShared->Password, L"Demo-Pass-2024");
    pShared->ReinitRequested = 1;
    ASSERT_TRUE(WaitForRequests(L"GET", L"/v1/extensions/phone/data", 1));
    const std::vector<SimRequest> logins = RequestsTo(L"POST", L"/v1/login");
    ASSERT_FALSE(logins.empty());
    EXPECT_EQ(logins.back().body, R"({"username":"lena.muster", "password":"Demo-Pass-2024"})");
    EXPECT_EQ(logins.back().nStatus, 200);
    for (int nTry = 0; nTry < 100 && pShared->ReinitRequested != 0; ++nTry) Sleep(50);
    EXPECT_EQ(pShared->ReinitRequested, 0u);
}

TEST_F(PbxRuntimeTest, CallOfferedToTwoExtensionsIsAnsweredOnOneAndEndsOnHangup) {
    ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
    const std::wstring uuid = Ring(L"[\"21\",\"22\"]", L"4930123456");
    ASSERT_FALSE(uuid.empty());
    ASSERT_TRUE(WaitForState(0, LINECALLSTATE_OFFERING));
    ASSERT_TRUE(WaitForState(1, LINECALLSTATE_OFFERING));
    // The PBX sends international numbers without "+"; number format 0 adds it.
    EXPECT_EQ(CallerIDOfNewCall(0), L"+4930123456");

    m_sim.Control(L"POST", L"answer", L"{\"uuid\":" + JsonQuote(uuid) + L",\"extension\":\"22\"}");
    ASSERT_TRUE(WaitForState(1, LINECALLSTATE_CONNECTED));
    ASSERT_TRUE(WaitForState(0, LINECALLSTATE_IDLE));
    m_sim.Control(L"POST", L"hangup", L"{\"uuid\":" + JsonQuote(uuid) + L"}");
    ASSERT_TRUE(WaitForState(1, LINECALLSTATE_IDLE));

    const std::vector<DWORD> answered = CallStates(1);
    EXPECT_EQ(std::vector<DWORD>(answered.end() - 3, answered.end()),
              (std::vector<DWORD>{LINECALLSTATE_CONNECTED, LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}));
    EXPECT_EQ(CallStates(0).back(), static_cast<DWORD>(LINECALLSTATE_IDLE));
    EXPECT_TRUE(CallStates(2).empty());
}

// Events written the ways the event-stream format allows, through the real
// connection: "data:" without the blank, CR LF line ends, a heartbeat in the
// same write, values holding "id: " and "data: ", no "direction", an event
// split across writes right after an inner brace, and a broken message
// between good ones. Each good event rings its line.
TEST_F(PbxRuntimeTest, EventsInEveryAllowedFramingRingTheirLines) {
    ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
    const wchar_t* const writes[] = {
        L"id: 101\r\ndata:{\"uuid\":\"f1\",\"extension\":\"21\",\"caller\":\"Call id: 7\",\"callee\":\"21\","
        L"\"state\":\"ring\"}\r\n\r\n: heartbeat\r\n\r\n",
        L"id: 102\ndata: {\"uuid\":\"broken\",\n\n",
        L"id: 103\ndata: {\"uuid\":\"f2\",\"extension\":\"22\",\"meta\":{\"a\":{\"b\":1}}",
        L",\"caller\":\"data: 5\",\"callee\":\"22\",\"state\":\"ring\",\"direction\":\"inbound\"}\n\n",
    };
    for (const wchar_t* pszWrite : writes)
        ASSERT_EQ(m_sim.Control(L"POST", L"emit", L"{\"raw\":" + JsonQuote(pszWrite) + L"}").dwStatus, 200u);
    EXPECT_TRUE(WaitForState(0, LINECALLSTATE_OFFERING));
    EXPECT_TRUE(WaitForState(1, LINECALLSTATE_OFFERING));
    EXPECT_TRUE(CallStates(2).empty());
}

TEST_F(PbxRuntimeTest, MakeCallAndDropGoToThePbxAndCompleteAfterTheExportReturnedOrFailWhenRefused) {
    ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
    // The callee answers after 1.5 s.
    HDRVCALL hdCall = nullptr;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(m_host.MakeCall(501, m_lines[0], reinterpret_cast<HTAPICALL>(0x501), &hdCall, L"0301234567"), 501);
    const HostEvent made = WaitForCompletion(501);
    EXPECT_EQ(made.lResult, 0);
    EXPECT_GE(made.time - started, std::chrono::milliseconds(90));
    const std::vector<SimRequest> posts = RequestsTo(L"POST", L"/v1/extensions/phone/calls");
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].body, R"({"caller":"21", "caller_context":"c-orvo-demo-4711", "callee":"0301234567", )"
                             R"("callee_context":"c-orvo-demo-4711", "extension":"21"})");
    ASSERT_TRUE(WaitForState(0, LINECALLSTATE_CONNECTED));
    EXPECT_EQ(CallStates(0), (std::vector<DWORD>{LINECALLSTATE_DIALTONE, LINECALLSTATE_DIALING,
                                                 LINECALLSTATE_PROCEEDING, LINECALLSTATE_RINGBACK,
                                                 LINECALLSTATE_CONNECTED}));

    ASSERT_EQ(m_host.Drop(502, hdCall), 502);
    EXPECT_EQ(WaitForCompletion(502).lResult, 0);
    ASSERT_TRUE(WaitForState(0, LINECALLSTATE_IDLE));
    const std::vector<DWORD> states = CallStates(0);
    EXPECT_EQ(std::vector<DWORD>(states.end() - 2, states.end()),
              (std::vector<DWORD>{LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}));
    // The uuid of the first call event the simulator published.
    const std::wstring history = m_sim.Control(L"GET", L"events").sBody, key = L"\"uuid\": \"";
    const size_t nKey = history.find(key), nStart = nKey + key.size();
    ASSERT_NE(nKey, std::wstring::npos) << ToUtf8(history);
    const std::wstring uuid = history.substr(nStart, history.find(L'"', nStart) - nStart);
    EXPECT_EQ(RequestsTo(L"DELETE", L"/v1/extensions/phone/calls/" + uuid).size(), 1u);

    // A refused call completes with OPERATIONFAILED; without PBX events for
    // it, a drop sends nothing and succeeds.
    m_sim.ClearRequests();
    ASSERT_TRUE(m_sim.AddFault(L"{\"path\":\"/v1/extensions/phone/calls\",\"method\":\"POST\",\"status\":403,"
                               L"\"body\":\"{\\\"error\\\": \\\"not yours\\\"}\"}"));
    ASSERT_EQ(m_host.MakeCall(601, m_lines[1], reinterpret_cast<HTAPICALL>(0x601), &hdCall, L"100"), 601);
    EXPECT_EQ(WaitForCompletion(601).lResult, LINEERR_OPERATIONFAILED);
    ASSERT_EQ(m_host.Drop(602, hdCall), 602);
    EXPECT_EQ(WaitForCompletion(602).lResult, 0);
    EXPECT_TRUE(RequestsTo(L"DELETE", L"").empty());
}

TEST_F(PbxRuntimeTest, MakeCallWithoutPbxEventsGoesIdleAfterThirtySeconds) {
    m_sim.Control(L"POST", L"settings", L"{\"make_call\":{\"outcome\":\"silent\"}}");
    ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
    HDRVCALL hdCall = nullptr;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(m_host.MakeCall(701, m_lines[2], reinterpret_cast<HTAPICALL>(0x701), &hdCall, L"100"), 701);
    // The provider says nothing about the call until the dial-tone closer gives up.
    EXPECT_FALSE(WaitForState(2, LINECALLSTATE_IDLE, 29000));
    ASSERT_TRUE(WaitForState(2, LINECALLSTATE_IDLE, 3000));
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_GE(elapsed, std::chrono::milliseconds(30000));
    EXPECT_LT(elapsed, std::chrono::milliseconds(32000));
}

TEST_F(PbxRuntimeTest, TokenAboutToExpireIsRefreshedBeforeTheNextCommand) {
    // Tokens live 21 s: two seconds after login they are within the 20 s margin.
    m_sim.Control(L"POST", L"settings", L"{\"token_lifetime\":21}");
    ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
    Sleep(2500);
    m_sim.ClearRequests();
    HDRVCALL hdCall = nullptr;
    ASSERT_EQ(m_host.MakeCall(801, m_lines[0], reinterpret_cast<HTAPICALL>(0x801), &hdCall, L"100"), 801);
    EXPECT_EQ(WaitForCompletion(801).lResult, 0);
    const std::vector<SimRequest> requests = m_sim.Requests();
    auto find = [&](const wchar_t* pszMethod, const wchar_t* pszPath) {
        return std::find_if(requests.begin(), requests.end(),
                            [&](const SimRequest& r) { return r.sMethod == pszMethod && r.sPath == pszPath; });
    };
    const auto refresh = find(L"PUT", L"/v1/login");
    const auto call = find(L"POST", L"/v1/extensions/phone/calls");
    ASSERT_NE(refresh, requests.end());
    ASSERT_NE(call, requests.end());
    EXPECT_LT(refresh - requests.begin(), call - requests.begin());
    EXPECT_EQ(call->nStatus, 202);
}

TEST_F(PbxRuntimeTest, StreamEndedByTheServerIsReopenedAndRetriedAfterItWasDown) {
    ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
    m_sim.ClearRequests();
    ASSERT_EQ(m_sim.Control(L"POST", L"streams/close", L"{\"mode\":\"end\"}").dwStatus, 200u);
    // A stream that ended within seconds of opening is reopened after a short pause.
    ASSERT_TRUE(WaitForRequests(L"GET", L"/v1/extensions/phone/calls", 1, 1, 10000));
    Ring(L"[\"21\"]", L"4930123456");
    EXPECT_TRUE(WaitForState(0, LINECALLSTATE_OFFERING));

    m_sim.ClearRequests();
    m_sim.Control(L"POST", L"down", L"{\"ms\":3000}");
    Sleep(3500);
    // The reconnections while the server is down fail; the pauses between them grow.
    ASSERT_TRUE(WaitForRequests(L"GET", L"/v1/extensions/phone/calls", 1, 1, 40000));
    Ring(L"[\"22\"]", L"4930123456");
    EXPECT_TRUE(WaitForState(1, LINECALLSTATE_OFFERING));
}

TEST_F(PbxRuntimeTest, ShutdownIsPromptEndsEveryThreadAndLeavesTheLockFree) {
    ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
    // Event monitor, keep-alive thread, network observer.
    EXPECT_EQ(ProviderThreadCount(m_host.Module()), 3u);
    // A call placed just before leaves a dial-tone closer waiting 30 s: the
    // shutdown ends it too, so that nothing of the library runs after unload.
    HDRVCALL hdCall = nullptr;
    ASSERT_EQ(m_host.MakeCall(901, m_lines[0], reinterpret_cast<HTAPICALL>(0x901), &hdCall, L"100"), 901);
    ASSERT_EQ(WaitForCompletion(901).lResult, 0);
    for (HDRVLINE hdLine : m_lines) ASSERT_EQ(m_host.CloseLine(hdLine), 0);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(m_host.Shutdown(), 0);
    m_bStarted = false;
    // The monitor leaves its stream read when asked; nothing more arrives.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2500));
    // Every thread of the provider has ended, the network observer too (a
    // request thread may take a moment to be gone after its last step).
    EXPECT_EQ(SettledThreadsStartedIn(RangeOf(m_host.Module()), 0), 0u);
    m_host.ClearEvents();
    Ring(L"[\"21\"]", L"4930123456");
    Sleep(1500);
    EXPECT_TRUE(m_host.Events().empty());

    // The lock is free: the provider starts and stops again.
    DWORD dwLines = 0;
    ASSERT_EQ(m_host.Start(&dwLines), 0);
    EXPECT_EQ(dwLines, 3u);
    ASSERT_EQ(m_host.Shutdown(), 0);
    EXPECT_EQ(SettledThreadsStartedIn(RangeOf(m_host.Module()), 0), 0u);
}

TEST_F(PbxRuntimeTest, ReinitializationLogsInWithTheDialogsCredentialsAndDeliversEachEventOnce) {
    ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
    EXPECT_EQ(ProviderThreadCount(m_host.Module()), 3u);
    m_sim.ClearRequests();
    // The shared record as the configuration dialog's process sees it.
    CSharedSettingsView shared;
    ProviderSettings* pShared = shared.Get();
    ASSERT_NE(pShared, nullptr);
    // What the dialog puts there: the account as entered, then the request.
    wcscpy(pShared->Name, L"max.muster");
    wcscpy(pShared->Password, L"Max-Pass-1");
    pShared->ReinitRequested = 1;
    Sleep(2500);
    const std::vector<SimRequest> logins = RequestsTo(L"POST", L"/v1/login");
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].body, R"({"username":"max.muster", "password":"Max-Pass-1"})");
    EXPECT_EQ(logins[0].nStatus, 200);
    // The monitor, keep-alive and network threads were replaced or kept, never doubled.
    EXPECT_EQ(ProviderThreadCount(m_host.Module()), 3u);
    EXPECT_EQ(pShared->ReinitRequested, 0u);
    EXPECT_EQ(RequestsTo(L"GET", L"/v1/extensions/phone/calls").size(), 1u);

    // One stream, so one offering per call, not two.
    m_host.ClearEvents();
    const std::wstring uuid = Ring(L"[\"23\"]", L"+4930999888");
    ASSERT_TRUE(WaitForState(2, LINECALLSTATE_OFFERING));
    Sleep(500);
    const std::vector<DWORD> states = CallStates(2);
    EXPECT_EQ(std::count(states.begin(), states.end(), static_cast<DWORD>(LINECALLSTATE_OFFERING)), 1);
    m_sim.Control(L"POST", L"hangup", L"{\"uuid\":" + JsonQuote(uuid) + L"}");
    ASSERT_TRUE(WaitForState(2, LINECALLSTATE_IDLE));
}

}  // namespace
