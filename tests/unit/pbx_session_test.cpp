// The PBX session, directory and call commands against the simulator: what
// goes over the wire, the token claims, renewal, and the directory scan.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "config/Settings.h"
#include "http/CHTTPContactLog.h"
#include "pbx/CallCommands.h"
#include "pbx/ExtensionDirectory.h"
#include "pbx/Session.h"
#include "support/PbxSim.h"
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

std::string Base64(const std::string& bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        unsigned n = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 2]);
        text += kAlphabet[(n >> 18) & 63];
        text += kAlphabet[(n >> 12) & 63];
        text += i + 1 < bytes.size() ? kAlphabet[(n >> 6) & 63] : '=';
        text += i + 2 < bytes.size() ? kAlphabet[n & 63] : '=';
    }
    return text;
}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::vector<SimRequest> RequestsTo(const PbxSim& sim, const wchar_t* pszMethod, const std::wstring& path) {
    std::vector<SimRequest> matching;
    for (const SimRequest& request : sim.Requests())
        if (request.sMethod == pszMethod && request.sPath == path) matching.push_back(request);
    return matching;
}

class PbxSessionTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new CTempDir(L"session");
        const std::wstring accountFile = s_dir->File(L"account.json");
        ASSERT_TRUE(WriteFileBytes(accountFile, ToUtf8(Widen(kAccount).replace(Widen(kAccount).find(L"PADDING"), 7,
                                                                                std::wstring(1100, L'x')))));
        s_sim = new PbxSim;
        PbxSimOptions options;
        options.sAccountFile = accountFile;
        ASSERT_TRUE(s_sim->Start(options)) << ToUtf8(s_sim->Error());
    }
    static void TearDownTestSuite() {
        delete s_sim;
        delete s_dir;
    }
    void SetUp() override {
        ASSERT_NE(s_sim, nullptr);
        g_sBaseURL = s_sim->ApiBaseUrl();
        g_sUserName = L"lena.muster";
        g_sPassword = L"Demo-Pass-2024";
        g_bIgnoreCertErrors = 0;
        s_sim->ClearRequests();
        s_sim->ClearFaults();
    }

    static PbxSim* s_sim;
    static CTempDir* s_dir;
};
PbxSim* PbxSessionTest::s_sim = nullptr;
CTempDir* PbxSessionTest::s_dir = nullptr;

TEST_F(PbxSessionTest, LoginSendsTheCredentialsAndReadsTheClaims) {
    ASSERT_EQ(Login(), static_cast<int>(wcslen(L"c-test-0815")));
    EXPECT_EQ(g_sCustomer, L"c-test-0815");
    EXPECT_GT(g_nTokenExpiry, static_cast<LONG>(time(nullptr)));
    EXPECT_FALSE(g_sRefreshToken.empty());
    const std::vector<SimRequest> logins = RequestsTo(*s_sim, L"POST", L"/v1/login");
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].body, R"({"username":"lena.muster", "password":"Demo-Pass-2024"})");
}

TEST_F(PbxSessionTest, CredentialsWithQuotesAndBackslashesStillFormValidJson) {
    g_sUserName = L"quote\"user";
    g_sPassword = L"back\\slash\"quote";
    EXPECT_GT(Login(), 0);
    const std::vector<SimRequest> logins = RequestsTo(*s_sim, L"POST", L"/v1/login");
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].body, R"({"username":"quote\"user", "password":"back\\slash\"quote"})");
}

TEST_F(PbxSessionTest, WrongPasswordFailsAndKeepsTheOldClaims) {
    ASSERT_GT(Login(), 0);
    const std::wstring customer = g_sCustomer;
    g_sPassword = L"wrong";
    EXPECT_EQ(Login(), 0);
    EXPECT_EQ(g_sCustomer, customer);
}

TEST_F(PbxSessionTest, TokenIsRenewedOnlyWithinTwentySecondsOfExpiry) {
    ASSERT_GT(Login(), 0);
    const LONG now = static_cast<LONG>(time(nullptr));
    // A margin of a second or two keeps the test independent of the clock tick.
    g_nTokenExpiry = now + 22;
    EXPECT_EQ(ORVO_CheckAccessToken(), 1);
    EXPECT_TRUE(RequestsTo(*s_sim, L"PUT", L"/v1/login").empty());
    g_nTokenExpiry = now + 19;
    EXPECT_GT(ORVO_CheckAccessToken(), 0);
    const std::vector<SimRequest> refreshes = RequestsTo(*s_sim, L"PUT", L"/v1/login");
    ASSERT_EQ(refreshes.size(), 1u);
    EXPECT_TRUE(refreshes[0].body.empty());
    EXPECT_GT(g_nTokenExpiry, now + 19);
}

TEST_F(PbxSessionTest, UntrustedCertificateFailsUnlessIgnoringIsConfigured) {
    PbxSim https;
    PbxSimOptions options;
    options.bHttps = true;
    ASSERT_TRUE(https.Start(options)) << ToUtf8(https.Error());
    g_sBaseURL = https.ApiBaseUrl();
    g_bIgnoreCertErrors = 0;
    EXPECT_EQ(Login(), 0);
    g_bIgnoreCertErrors = 1;
    EXPECT_GT(Login(), 0);
}

struct ClaimsCase {
    const char* pszName;
    std::wstring token;
    int nExpected;  // -1: the length of the customer
    LONG nExpiry;
};

TEST(TokenClaims, AreReadOnlyFromAWellFormedToken) {
    // 37 bytes: the Base64 text ends in "==", which the token leaves off.
    const std::string claims = R"({"customer":"c-1",  "exp":1900000000})";
    const std::wstring payload = Widen(Base64(claims));
    std::wstring unpadded = payload;
    while (!unpadded.empty() && unpadded.back() == L'=') unpadded.pop_back();
    const std::wstring stray = Widen(Base64(claims + "\x01garbage"));
    const ClaimsCase cases[] = {
        {"three parts", L"h." + payload + L".s", 3, 1900000000},
        {"padding added", L"h." + unpadded + L".s", 3, 1900000000},
        {"stray bytes after the object", L"h." + stray + L".s", 3, 1900000000},
        {"two parts", L"h." + payload, 0, 0},
        {"four parts", L"h." + payload + L".s.x", 0, 0},
        {"url-safe alphabet", L"h.eyJjdXN0b21lciI6ImMtMSJ9-_.s", 0, 0},
        {"no customer", L"h." + Widen(Base64(R"({"exp":5})")) + L".s", 0, 5},
    };
    for (const ClaimsCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        g_sCustomer.clear();
        g_nTokenExpiry = 0;
        g_sAccessToken = c.token;
        EXPECT_EQ(ReadTokenClaims(), c.nExpected);
        EXPECT_EQ(g_nTokenExpiry, c.nExpiry);
    }
    // The padding case must really need padding: 2 modulo 4 characters.
    EXPECT_EQ(unpadded.size() % 4, 2u);
}

TEST_F(PbxSessionTest, DirectoryKeepsAnswerOrderSkipsLongRecordsAndRedecodesNames) {
    ASSERT_GT(Login(), 0);
    ASSERT_EQ(ReadExtensions(), 3u);
    ASSERT_EQ(g_Extensions.size(), 3u);
    EXPECT_EQ(g_Extensions[0].extension_number, L"21");
    EXPECT_EQ(g_Extensions[0].name, L"B\u00fcro");
    EXPECT_EQ(g_Extensions[1].extension_number, L"23");
    EXPECT_EQ(g_Extensions[2].name, L"Second 21");
    EXPECT_EQ(g_ExtensionMap[L"21"].name, L"Second 21");
    EXPECT_FALSE(g_Extensions[0].uuid.empty());
    EXPECT_EQ(IsExtensionOffline(L"99"), 0u);
    EXPECT_EQ(g_ExtensionMap.count(L"99"), 1u);
}

TEST_F(PbxSessionTest, FailedDirectoryReadGivesNoLines) {
    ASSERT_GT(Login(), 0);
    ASSERT_TRUE(s_sim->AddFault(L"{\"path\":\"/v1/extensions/phone/data\",\"status\":500,\"count\":3}"));
    EXPECT_EQ(ReadExtensions(), 0u);
    EXPECT_TRUE(g_Extensions.empty());
}

TEST_F(PbxSessionTest, MakeCallSendsTheEscapedBodyAndDropTheCallPath) {
    ASSERT_GT(Login(), 0);
    EXPECT_EQ(ORVO_DoMakeCall(L"21", L"+49 \"30\" 1234"), 1);
    const std::vector<SimRequest> calls = RequestsTo(*s_sim, L"POST", L"/v1/extensions/phone/calls");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].body,
              R"({"caller":"21", "caller_context":"c-test-0815", "callee":"+49 \"30\" 1234", )"
              R"("callee_context":"c-test-0815", "extension":"21"})");
    EXPECT_EQ(calls[0].HeaderValues(L"Authorization"), std::vector<std::wstring>{L"Bearer " + g_sAccessToken});
    // The client keeps scheme and host of the URL for traces, then the answer.
    const std::wstring summary = LastCommandSummary();
    EXPECT_EQ(summary.rfind(L"> POST http://127.0.0.1 -> {", 0), 0u) << ToUtf8(summary);
    EXPECT_NE(summary.find(L"\"uuid\""), std::wstring::npos) << ToUtf8(summary);

    EXPECT_EQ(ORVO_DoDrop(L"no/such-call"), 0);
    EXPECT_EQ(RequestsTo(*s_sim, L"DELETE", L"/v1/extensions/phone/calls/no/such-call").size(), 1u);
}

TEST_F(PbxSessionTest, CommandAnswersWithAnErrorMemberAreFailures) {
    ASSERT_GT(Login(), 0);
    struct Case {
        const wchar_t* pszFault;
        int nExpected;
    } cases[] = {
        {L"{\"path\":\"/v1/extensions/phone/calls\",\"status\":200,\"body\":\"{\\\"error\\\": \\\"busy\\\"}\"}", 0},
        {L"{\"path\":\"/v1/extensions/phone/calls\",\"status\":202,\"body\":\"\"}", 1},
        {L"{\"path\":\"/v1/extensions/phone/calls\",\"status\":401,\"body\":\"{}\"}", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.pszFault));
        ASSERT_TRUE(s_sim->AddFault(c.pszFault));
        EXPECT_EQ(ORVO_DoMakeCall(L"21", L"100"), c.nExpected);
    }
}

}  // namespace
