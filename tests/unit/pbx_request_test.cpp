// The one request path of the PBX operations against the simulator: the
// header lines each request sends, how an answer is judged, and what a
// refused token does.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "config/Settings.h"
#include "http/CHTTPContactLog.h"
#include "pbx/PbxRequest.h"
#include "pbx/Session.h"
#include "support/PbxSim.h"
#include "support/SuiteSimulatorFixture.h"
#include "support/TestFiles.h"

namespace {

const wchar_t kDirectoryPath[] = L"/extensions/phone/data";

class PbxRequestTest : public SuiteSimulatorFixture<testing::Test> {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SuiteSimulatorFixture::SetUp());
        s_sim->ClearFaults();
        s_sim->ClearRequests();
    }

    // The one request the simulator received since the last clearing.
    static SimRequest OnlyRequest() {
        const std::vector<SimRequest> requests = s_sim->Requests();
        EXPECT_EQ(requests.size(), 1u);
        return requests.empty() ? SimRequest{} : requests.front();
    }
};

PbxRequest DirectoryRequest(PbxCredential credential) {
    return PbxRequest{L"PbxRequestTest", L"GET", kDirectoryPath, L"", credential, 1, 5000, L"PbxRequestTest"};
}

// Each credential goes into its own Authorization line, sent as it is and
// whole, even with characters that a format would take for its own, and
// however long (a PBX may issue tokens of 16 KiB).
TEST_F(PbxRequestTest, EachCredentialGoesIntoTheAuthorizationLineAsItIs) {
    g_sRefreshToken = L"refresh-token";
    const std::wstring longToken = L"eyJhbGciOiJIUzI1NiJ9." + std::wstring(16384, L'P') + L".c2ln";
    const struct {
        const char* pszName;
        PbxCredential credential;
        std::wstring accessToken;
        std::vector<std::wstring> authorization;
    } cases[] = {
        {"none", PbxCredential::None, L"", {}},
        {"access token", PbxCredential::AccessToken, L"access%s%n%%token", {L"Bearer access%s%n%%token"}},
        {"refresh token", PbxCredential::RefreshToken, L"", {L"Bearer refresh-token"}},
        {"16 KiB token", PbxCredential::AccessToken, longToken, {L"Bearer " + longToken}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        g_sAccessToken = c.accessToken;
        ASSERT_TRUE(s_sim->ClearRequests());
        RunPbxRequest(g_SessionClient, DirectoryRequest(c.credential));
        const SimRequest request = OnlyRequest();
        EXPECT_EQ(request.sMethod, L"GET");
        EXPECT_EQ(request.sPath, L"/v1/extensions/phone/data");
        EXPECT_EQ(request.HeaderValues(L"Authorization"), c.authorization);
        EXPECT_EQ(request.HeaderValues(L"Accept"), std::vector<std::wstring>{L"*.*"});
        EXPECT_EQ(request.HeaderValues(L"Content-Type"), std::vector<std::wstring>{L"application/json; charset=utf-8"});
    }
}

// Extra lines go between the content type and the authorisation; the accept
// line is the request's own.
TEST_F(PbxRequestTest, ExtraHeaderLinesAndTheAcceptLineAreSent) {
    ASSERT_GT(Login(), 0);
    ASSERT_TRUE(s_sim->ClearRequests());
    PbxRequest request = DirectoryRequest(PbxCredential::AccessToken);
    request.pszAcceptLine = L"Accept: application/x-test";
    request.sExtraHeaderLines = L"Last-Event-ID: 41\r\nX-Test: yes\r\n";
    EXPECT_EQ(RunPbxRequest(g_SessionClient, request), 1);
    const SimRequest sent = OnlyRequest();
    EXPECT_EQ(sent.HeaderValues(L"Accept"), std::vector<std::wstring>{L"application/x-test"});
    EXPECT_EQ(sent.HeaderValues(L"Last-Event-ID"), std::vector<std::wstring>{L"41"});
    EXPECT_EQ(sent.HeaderValues(L"X-Test"), std::vector<std::wstring>{L"yes"});
    EXPECT_EQ(sent.HeaderValues(L"Authorization"), std::vector<std::wstring>{L"Bearer " + g_sAccessToken});
}

// Only a success status with a whole JSON answer counts (an empty one only
// where the request allows it), and, where the request asks for it, only one
// without an error member; a token refused with 401 is forgotten only where
// the request asks for it, so that the next check renews it.
TEST_F(PbxRequestTest, AnswersAreJudgedAndARefusedTokenIsForgottenWhereAsked) {
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

}  // namespace
