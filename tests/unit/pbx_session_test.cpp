// The PBX session, directory and call commands against the simulator, the
// request path they share, and drops of calls the PBX no longer has.
#include <gtest/gtest.h>
#include <windows.h>

#include <ctime>
#include <string>
#include <vector>

#include "config/Settings.h"
#include "http/CHTTPContactLog.h"
#include "pbx/CallCommands.h"
#include "pbx/ExtensionDirectory.h"
#include "pbx/PbxRequest.h"
#include "pbx/Session.h"
#include "provider/TspiExports.h"
#include "support/LineModelFixture.h"
#include "support/PbxSim.h"
#include "support/SuiteSimulatorFixture.h"
#include "support/TestFiles.h"

namespace {

const char kAccount[] = R"({
  "customer": "c-test-0815",
  "users": [{"name": "lena.muster", "password": "Demo-Pass-2024"},
            {"name": "quote\"user", "password": "back\\slash\"quote"}],
  "extensions": [
    {"extension_number": "21", "name": "B\u00fcro"},
    {"extension_number": "22", "name": "Reception", "note": "PADDING"},
    {"extension_number": "23", "name": "Lab"},
    {"extension_number": "21", "name": "Second 21"}
  ]
})";

class PbxSessionTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        static CTempDir dir(L"session");
        const std::wstring accountFile = dir.File(L"account.json");
        std::string account = kAccount;
        ASSERT_TRUE(WriteFileBytes(accountFile, account.replace(account.find("PADDING"), 7, std::string(1100, 'x'))));
        s_sim = new PbxSim;
        PbxSimOptions options;
        options.sAccountFile = accountFile;
        ASSERT_TRUE(s_sim->Start(options)) << ToUtf8(s_sim->Error());
    }
    static void TearDownTestSuite() {
        delete s_sim;
    }
    void SetUp() override {
        ASSERT_NE(s_sim, nullptr);
        g_sBaseURL = s_sim->ApiBaseUrl();
        g_sUserName = L"lena.muster";
        g_sPassword = L"Demo-Pass-2024";
        g_bIgnoreCertErrors = 0;
        AllowLoginAgain();
        s_sim->ClearRequests();
        s_sim->ClearFaults();
    }

    static PbxSim* s_sim;
};
PbxSim* PbxSessionTest::s_sim = nullptr;

// Quotes and backslashes in the credentials still give valid JSON.
TEST_F(PbxSessionTest, LoginSendsTheEscapedCredentialsAndReadsTheClaims) {
    g_sUserName = L"quote\"user";
    g_sPassword = L"back\\slash\"quote";
    ASSERT_EQ(Login(), static_cast<int>(wcslen(L"c-test-0815")));
    EXPECT_EQ(g_sCustomer, L"c-test-0815");
    EXPECT_GT(g_nTokenExpiry, static_cast<LONG>(time(nullptr)));
    EXPECT_FALSE(g_sRefreshToken.empty());
    const std::vector<SimRequest> logins = s_sim->Requests(L"POST", L"/v1/login");
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].body, R"({"username":"quote\"user", "password":"back\\slash\"quote"})");
}

// A token is renewed only within 20 seconds of its expiry (a margin of a
// second or two keeps the rows independent of the clock tick). A renewal the
// PBX refuses cannot succeed by trying again: a fresh login with the stored
// credentials follows. One it did not answer is retried later.
TEST_F(PbxSessionTest, TokenIsRenewedNearItsExpiryAndARefusedRenewalLogsInAfresh) {
    const struct { const char* pszName; LONG nSecondsLeft; int nRefreshStatus; size_t nRefreshes; bool bLoginFollows, bUsable; } cases[] = {
        {"22 s left: kept", 22, 0, 0, false, true},
        {"19 s left: renewed", 19, 0, 1, false, true},
        {"renewal refused, 401", 5, 401, 1, true, true},
        {"renewal refused, 403", 5, 403, 1, true, true},
        {"renewal refused, 400", 5, 400, 1, true, true},
        {"no renewal, 503", 5, 503, 1, false, false},
        {"no renewal, 500", 5, 500, 1, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        ASSERT_GT(Login(), 0);
        s_sim->ClearRequests();
        const std::wstring fault = L"{\"path\":\"/v1/login\",\"method\":\"PUT\",\"status\":" + std::to_wstring(c.nRefreshStatus) + L"}";
        ASSERT_TRUE(c.nRefreshStatus == 0 || s_sim->AddFault(fault));
        const std::wstring oldToken = g_sAccessToken;
        const LONG now = static_cast<LONG>(time(nullptr));
        g_nTokenExpiry = now + c.nSecondsLeft;
        EXPECT_EQ(ORVO_CheckAccessToken() != 0, c.bUsable);
        const std::vector<SimRequest> refreshes = s_sim->Requests(L"PUT", L"/v1/login");
        const std::vector<SimRequest> logins = s_sim->Requests(L"POST", L"/v1/login");
        ASSERT_EQ(refreshes.size(), c.nRefreshes);
        for (const SimRequest& refresh : refreshes) EXPECT_TRUE(refresh.body.empty());
        ASSERT_EQ(logins.size(), c.bLoginFollows ? 1u : 0u);
        for (const SimRequest& login : logins)
            EXPECT_EQ(login.body, R"({"username":"lena.muster", "password":"Demo-Pass-2024"})");
        if (c.nRefreshes != 0 && c.bUsable) {
            EXPECT_NE(g_sAccessToken, oldToken);
            EXPECT_GT(g_nTokenExpiry, now + 20);
        }
        s_sim->ClearFaults();
    }
}

// A login refused for its credentials is not sent again until they are
// decided anew (the other refusals and the refresh's fallback are the
// service-state integration test's).
TEST_F(PbxSessionTest, RefusedCredentialsAreNotSentAgainUntilAllowed) {
    ASSERT_TRUE(s_sim->AddFault(L"{\"path\":\"/v1/login\",\"method\":\"POST\",\"status\":403}"));
    EXPECT_EQ(Login(), 0);
    EXPECT_EQ(Login(), 0);
    EXPECT_EQ(s_sim->Requests(L"POST", L"/v1/login").size(), 1u) << "refused credentials sent again";
    AllowLoginAgain();
    EXPECT_GT(Login(), 0);
}

// A record with more members than the provider reads (here a long one) is
// an extension like any other.
TEST_F(PbxSessionTest, DirectoryKeepsAnswerOrderAndLongRecordsAndRedecodesNames) {
    ASSERT_GT(Login(), 0);
    std::vector<ExtensionInfo> extensions;
    ASSERT_TRUE(ReadExtensionDirectory(extensions));
    std::vector<std::wstring> read;
    for (const ExtensionInfo& entry : extensions) read.push_back(entry.extension_number + L" " + entry.name);
    EXPECT_EQ(read, (std::vector<std::wstring>{L"21 B\u00fcro", L"22 Reception", L"23 Lab", L"21 Second 21"}));
    EXPECT_FALSE(extensions[0].uuid.empty());
    EXPECT_EQ(extensions[0].presence, L"online");
}

TEST_F(PbxSessionTest, MakeCallSendsTheEscapedBodyFailsOnAnErrorMemberAndDropTheCallPath) {
    ASSERT_GT(Login(), 0);
    EXPECT_EQ(ORVO_DoMakeCall(L"21", L"+49 \"30\" 1234"), 1);
    const std::vector<SimRequest> calls = s_sim->Requests(L"POST", L"/v1/extensions/phone/calls");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].body,
              R"({"caller":"21", "caller_context":"c-test-0815", "callee":"+49 \"30\" 1234", )"
              R"("callee_context":"c-test-0815", "extension":"21"})");
    EXPECT_EQ(calls[0].HeaderValues(L"Authorization"), std::vector<std::wstring>{L"Bearer " + g_sAccessToken});

    // The simulator knows no such call: 404.
    EXPECT_EQ(ORVO_DoDrop(L"no/such-call"), DropAnswer::NoSuchCall);
    EXPECT_EQ(s_sim->Requests(L"DELETE", L"/v1/extensions/phone/calls/no/such-call").size(), 1u);

    // An error member fails a call even with status 200; 202 without a body succeeds.
    ASSERT_TRUE(s_sim->AddFault(
        L"{\"path\":\"/v1/extensions/phone/calls\",\"status\":200,\"body\":\"{\\\"error\\\": \\\"busy\\\"}\"}"));
    EXPECT_EQ(ORVO_DoMakeCall(L"21", L"100"), 0);
    ASSERT_TRUE(s_sim->AddFault(L"{\"path\":\"/v1/extensions/phone/calls\",\"status\":202,\"body\":\"\"}"));
    EXPECT_EQ(ORVO_DoMakeCall(L"21", L"100"), 1);
}

PbxRequest DirectoryRequest(PbxCredential credential) {
    return PbxRequest{L"PbxSessionTest", L"GET", L"/extensions/phone/data", L"", credential, 1, 5000, L"PbxSessionTest"};
}

// Each credential goes into its own Authorization line, sent as it is and
// whole, even with characters that a format would take for its own, and
// however long (a PBX may issue tokens of 16 KiB); a request's extra lines
// and accept line of its own go with it.
TEST_F(PbxSessionTest, EachCredentialAndHeaderLineIsSentAsItIs) {
    g_sRefreshToken = L"refresh-token";
    const std::wstring longToken = L"eyJhbGciOiJIUzI1NiJ9." + std::wstring(16384, L'P') + L".c2ln";
    const struct {
        const char* pszName;
        PbxCredential credential;
        std::wstring accessToken;
        std::vector<std::wstring> authorization;
        bool bOwnLines = false;
    } cases[] = {
        {"none", PbxCredential::None, L"", {}},
        {"access token", PbxCredential::AccessToken, L"access%s%n%%token", {L"Bearer access%s%n%%token"}},
        {"refresh token", PbxCredential::RefreshToken, L"", {L"Bearer refresh-token"}},
        {"16 KiB token", PbxCredential::AccessToken, longToken, {L"Bearer " + longToken}},
        {"extra lines and an accept line", PbxCredential::AccessToken, L"t", {L"Bearer t"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        g_sAccessToken = c.accessToken;
        ASSERT_TRUE(s_sim->ClearRequests());
        PbxRequest request = DirectoryRequest(c.credential);
        if (c.bOwnLines) {
            request.pszAcceptLine = L"Accept: application/x-test";
            request.sExtraHeaderLines = L"Last-Event-ID: 41\r\nX-Test: yes\r\n";
        }
        RunPbxRequest(g_SessionClient, request);
        const std::vector<SimRequest> requests = s_sim->Requests();
        ASSERT_EQ(requests.size(), 1u);
        const SimRequest& sent = requests[0];
        using Values = std::vector<std::wstring>;
        EXPECT_EQ(sent.sMethod + L" " + sent.sPath, L"GET /v1/extensions/phone/data");
        EXPECT_EQ(sent.HeaderValues(L"Authorization"), c.authorization);
        EXPECT_EQ(sent.HeaderValues(L"Accept"), Values{c.bOwnLines ? L"application/x-test" : L"*.*"});
        EXPECT_EQ(sent.HeaderValues(L"Content-Type"), Values{L"application/json; charset=utf-8"});
        EXPECT_EQ(sent.HeaderValues(L"Last-Event-ID"), c.bOwnLines ? Values{L"41"} : Values{});
        EXPECT_EQ(sent.HeaderValues(L"X-Test"), c.bOwnLines ? Values{L"yes"} : Values{});
    }
}

// Only a success status with a whole JSON answer counts (an empty one only
// where the request allows it), and, where the request asks for it, only one
// without an error member; a token refused with 401 is forgotten only where
// the request asks for it, so that the next check renews it.
TEST_F(PbxSessionTest, AnswersAreJudgedAndARefusedTokenIsForgottenWhereAsked) {
    const struct {
        const char* pszName;
        int nStatus;
        const wchar_t* pszBody;
        bool bErrorMemberFails;
        bool bRefusalForgetsToken;
        int nResult;
        bool bTokenForgotten;
        bool bEmptyAnswerCounts = false;
        bool bTruncate = false;
    } cases[] = {
        {"success", 200, L"[]", false, true, 1, false},
        {"accepted without body", 202, L"", true, true, 1, false, true},
        {"empty answer where one is read", 200, L" ", false, true, 0, false},
        {"answer no JSON", 200, L"{\"extensions\":[{\"extension_number\":\"21\"}", false, true, 0, false},
        {"answer cut off in its body", 200, L"{\"extensions\":[{\"extension_number\":\"21\"}]}", false, true, 0, false,
         false, true},
        {"error member ignored", 200, L"{\"error\": \"busy\"}", false, false, 1, false},
        {"error member fails", 200, L"{\"error\": \"busy\"}", true, false, 0, false},
        {"refused, forgotten", 401, L"{}", false, true, 0, true},
        {"refused, kept", 401, L"{}", false, false, 0, false},
        {"forbidden, kept", 403, L"{}", false, true, 0, false},
        {"server error, kept", 500, L"{}", false, true, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        ASSERT_GT(Login(), 0);
        const LONG nExpiry = g_nTokenExpiry;
        ASSERT_GT(nExpiry, static_cast<LONG>(time(nullptr)));
        ASSERT_TRUE(s_sim->AddFault(L"{\"path\":\"/v1/extensions/phone/data\",\"status\":" +
                                    std::to_wstring(c.nStatus) + L",\"body\":" + JsonQuote(c.pszBody) +
                                    (c.bTruncate ? L",\"truncate\":true}" : L"}")));
        PbxRequest request = DirectoryRequest(PbxCredential::AccessToken);
        request.bErrorMemberFails = c.bErrorMemberFails;
        request.bEmptyAnswerCounts = c.bEmptyAnswerCounts;
        request.bRefusalForgetsToken = c.bRefusalForgetsToken;
        EXPECT_EQ(RunPbxRequest(g_SessionClient, request), c.nResult);
        EXPECT_EQ(g_nTokenExpiry, c.bTokenForgotten ? 0 : nExpiry);
        ASSERT_TRUE(s_sim->ClearFaults());
    }
}

class OutgoingCallsTest : public SuiteSimulatorFixture<LineModelFixture> {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SuiteSimulatorFixture::SetUp());
        ASSERT_GT(Login(), 0);
    }
    void TearDown() override {
        s_sim->Control(L"POST", L"reset");
        LineModelFixture::TearDown();
    }
};

// A drop the PBX answers 404 or 410 is of a call whose hangup was missed: the
// drop succeeds, and the call ends (disconnected, idle) before its completion.
// Any other refusal fails the drop and leaves the call as it is.
TEST_F(OutgoingCallsTest, DropOfACallThePbxNoLongerHasEndsIt) {
    const struct {
        const char* pszName;
        const wchar_t* pszFault;  // null: the simulator's own answer (it knows no such call: 404)
        LONG lResult;
        std::vector<DWORD> states;
    } cases[] = {
        {"404", nullptr, 0, {LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}},
        {"410", L"{\"path\":\"/v1/extensions/phone/calls/*\",\"method\":\"DELETE\",\"status\":410}", 0,
         {LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}},
        {"500", L"{\"path\":\"/v1/extensions/phone/calls/*\",\"method\":\"DELETE\",\"status\":500}",
         LINEERR_OPERATIONFAILED, {}},
    };
    OpenLine(0);
    DWORD dwRequestID = 40;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        const std::wstring uuid = std::wstring(L"missed-") + FromUtf8(c.pszName);
        Event(uuid.c_str(), L"21", L"ring", L"inbound");
        Event(uuid.c_str(), L"21", L"answer", L"inbound");
        ASSERT_EQ(Call(0, 0)->m_dwLastState, static_cast<DWORD>(LINECALLSTATE_CONNECTED));
        if (c.pszFault != nullptr) ASSERT_TRUE(s_sim->AddFault(c.pszFault));
        CEventRecorder::Reset();
        ++dwRequestID;
        ASSERT_EQ(TSPI_lineDrop(dwRequestID, reinterpret_cast<HDRVCALL>(Call(0, 0)), nullptr, 0),
                  static_cast<LONG>(dwRequestID));
        ASSERT_TRUE(WaitUntil([&] { return RecordedCompletion(dwRequestID).has_value(); })) << "no completion";
        EXPECT_EQ(CEventRecorder::s_completions, (std::vector<std::pair<DWORD, LONG>>{{dwRequestID, c.lResult}}));
        std::vector<DWORD> states;
        for (const RecordedEvent& event : EventsOf(LINE_CALLSTATE)) states.push_back(static_cast<DWORD>(event.dwParam1));
        EXPECT_EQ(states, c.states);
        // The call is over either way before the next one.
        Event(uuid.c_str(), L"21", L"hangup", L"inbound");
        RemoveAllCalls();
        ASSERT_TRUE(s_sim->ClearFaults());
    }
}

}  // namespace
