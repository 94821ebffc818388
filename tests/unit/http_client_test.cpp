// The HTTP client against the PBX simulator: what goes over the wire, retries,
// the status rules, answer truncation and certificates.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "http/AsyncCall.h"
#include "http/CHTTPContactLog.h"
#include "http/RequestStop.h"
#include "json/CJsonParserBase.h"
#include "support/PbxSim.h"
#include "support/SuiteSimulatorFixture.h"
#include "support/TraceCapture.h"

namespace {

constexpr DWORD TimeoutMs = 10000;

// Keeps every streamed chunk.
class CRecordingClient : public CHTTPContactBase {
public:
    CRecordingClient() : CHTTPContactBase(ClientAnswerSize) {}
    void OnData(const wchar_t* pchText, size_t cch) override { m_sStreamed.append(pchText, cch); }
    std::wstring m_sStreamed;
};

std::wstring FaultJson(const std::wstring& path, const std::wstring& members) {
    return L"{\"path\":" + JsonQuote(path) + L"," + members + L"}";
}

// The simulator's next answer on path.
std::wstring Reply(const std::wstring& path, int nStatus, const std::wstring& body = L"{}") {
    return FaultJson(path, L"\"status\":" + std::to_wstring(nStatus) + L",\"body\":" + JsonQuote(body));
}

// One request of the PBX operations' kind: URL, body, header, query.
BOOL Query(CHTTPContactBase& client, const std::wstring& url, const wchar_t* pszVerb = L"GET", DWORD dwLoops = 1,
           const wchar_t* pszBody = nullptr, const wchar_t* pszHeaderFormat = L"Accept:*.*\r\n\r\n") {
    client.SetURLDirect(url.c_str());
    client.SetSData(pszBody);
    client.SetSHeader(pszHeaderFormat);
    return client.IsSuccessful(client.RunQuery(pszVerb, dwLoops, TimeoutMs, TRUE, TRUE));
}

class HttpClientTest : public SuiteSimulatorFixture<testing::Test> {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SuiteSimulatorFixture::SetUp());
        ASSERT_TRUE(s_sim->ClearFaults());
        ASSERT_TRUE(s_sim->ClearRequests());
        m_client = std::make_unique<CHTTPContactLog>(ClientAnswerSize);
    }
    std::wstring Url(const std::wstring& path) const { return s_sim->ApiBaseUrl() + path; }

    std::unique_ptr<CHTTPContactLog> m_client;
};

// A body goes with its length; a caller's host line and bearer token go as given.
TEST_F(HttpClientTest, AssembledHeaderArrivesAsSent) {
    const struct { const wchar_t *pszVerb, *pszBody, *pszHeader, *pszExpectedHost; } cases[] = {
        {L"POST", L"{\"username\":\"lena.muster\", \"password\":\"Demo-Pass-2024\"}",
         L"Accept:*.*\r\nContent-Type: application/json\r\n\r\n", L"127.0.0.1"},
        {L"DELETE", L"", L"Accept:*.*\r\nAuthorization: Bearer abc.def.ghi\r\nhost: pbx.example\r\n\r\n", L"pbx.example"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.pszVerb));
        ASSERT_TRUE(s_sim->ClearRequests());
        ASSERT_TRUE(s_sim->AddFault(Reply(L"/v1/wire", 200)));
        EXPECT_EQ(TRUE, Query(*m_client, Url(L"/wire"), c.pszVerb, 1, c.pszBody, c.pszHeader));
        const std::vector<SimRequest> requests = s_sim->Requests(nullptr, L"/v1/wire");
        ASSERT_EQ(1u, requests.size());
        const SimRequest& request = requests[0];
        const std::string body = ToUtf8(c.pszBody);  // ASCII: as many bytes as characters
        using Values = std::vector<std::wstring>;
        EXPECT_EQ(c.pszVerb, request.sMethod);
        EXPECT_EQ(body, request.body);
        EXPECT_EQ(Values{L"*.*"}, request.HeaderValues(L"Accept"));
        EXPECT_EQ(Values{c.pszExpectedHost}, request.HeaderValues(L"Host"));
        EXPECT_EQ(Values{g_szAgent}, request.HeaderValues(L"User-Agent"));
        for (const std::wstring& length : request.HeaderValues(L"Content-Length")) EXPECT_EQ(std::to_wstring(body.size()), length);
        EXPECT_EQ(body.empty() ? Values{} : Values{L"application/json"}, request.HeaderValues(L"Content-Type"));
        EXPECT_EQ(body.empty() ? Values{L"Bearer abc.def.ghi"} : Values{}, request.HeaderValues(L"Authorization"));
    }
}

// Two dropped connections: three attempts get the answer, two do not.
TEST_F(HttpClientTest, SendLoopRetriesDroppedConnectionsWithoutPause) {
    for (const DWORD dwLoops : {3u, 2u}) {
        SCOPED_TRACE(testing::Message() << dwLoops << " attempts");
        ASSERT_TRUE(s_sim->ClearFaults());
        ASSERT_TRUE(s_sim->ClearRequests());
        ASSERT_TRUE(s_sim->AddFault(FaultJson(L"/v1/retry", L"\"drop\":true,\"count\":2")));
        ASSERT_TRUE(s_sim->AddFault(Reply(L"/v1/retry", 200, L"{\"attempt\":\"last\"}")));

        EXPECT_EQ(dwLoops == 3 ? TRUE : FALSE, Query(*m_client, Url(L"/retry"), L"GET", dwLoops));
        EXPECT_EQ(dwLoops, s_sim->Requests(nullptr, L"/v1/retry").size());
        if (dwLoops == 3) {
            EXPECT_STREQ(L"{\"attempt\":\"last\"}", m_client->m_pszAnswer);
            EXPECT_EQ(0u, m_client->m_dwLastError);
        } else {
            EXPECT_STREQ(L"", m_client->m_pszAnswer);
            EXPECT_NE(0u, m_client->m_dwLastError);
            EXPECT_STRNE(L"", m_client->m_szLastError);
        }
        // The request handle is closed after every query; session and connection stay.
        EXPECT_EQ(nullptr, m_client->m_hRequest);
        EXPECT_NE(nullptr, m_client->m_hConnect);
    }
}

// An answer that ends before the length it announced is no answer.
TEST_F(HttpClientTest, SuccessIsJudgedByTheStatusLineAndAWholeBody) {
    const struct { int nStatus; size_t cbBody; bool bDateHeader; bool bCutOff; BOOL bExpected; } cases[] = {
        {200, 0, false, false, TRUE},
        {202, 0, true, false, TRUE},
        // " 200" in the content-length line, " 202" in the date line of this decade's years.
        {404, 200, false, false, FALSE},
        {201, 2, true, false, FALSE},
        {200, 40, false, true, FALSE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "status " << c.nStatus << ", body " << c.cbBody << ", date " << c.bDateHeader
                                        << ", cut off " << c.bCutOff);
        ASSERT_EQ(200u, s_sim->Control(L"POST", L"settings",
                                       c.bDateHeader ? L"{\"date_header\":true}" : L"{\"date_header\":false}").dwStatus);
        const std::wstring body(c.cbBody, L'x');
        ASSERT_TRUE(s_sim->AddFault(c.bCutOff ? FaultJson(L"/v1/status", L"\"status\":200,\"truncate\":true,\"body\":" +
                                                                            JsonQuote(body))
                                              : Reply(L"/v1/status", c.nStatus, body)));
        EXPECT_EQ(c.bExpected, Query(*m_client, Url(L"/status"))) << ToUtf8(m_client->m_szResponseHeader);
        // The raw header is kept for the exchange file either way, and what came.
        EXPECT_EQ(0, wcsncmp(m_client->m_szResponseHeader, L"HTTP/1.1 ", 9));
        EXPECT_EQ(c.bCutOff ? body.substr(0, c.cbBody / 2) : body, m_client->m_pszAnswer);
    }
    ASSERT_EQ(200u, s_sim->Control(L"POST", L"settings", L"{\"date_header\":true}").dwStatus);
    // A failed query never counts, whatever header an earlier one left.
    EXPECT_EQ(FALSE, m_client->IsSuccessful(FALSE));
}

// An answer larger than the buffer a client starts with (a large directory)
// is kept whole, twice in a row; a stream's buffer keeps only its start while
// the stream sees all.
TEST_F(HttpClientTest, LongAnswerIsKeptWholeWhileAStreamsBufferKeepsItsStart) {
    std::wstring body;
    for (int i = 0; body.size() < 300000; ++i) body += std::to_wstring(i) + L",";
    auto client = std::make_unique<CRecordingClient>();
    for (const BOOL bStreaming : {FALSE, FALSE, TRUE}) {
        if (bStreaming) client = std::make_unique<CRecordingClient>();
        client->m_bStreaming = bStreaming;
        ASSERT_TRUE(s_sim->AddFault(Reply(L"/v1/long", 200, body)));
        EXPECT_EQ(TRUE, Query(*client, Url(L"/long")));
        EXPECT_EQ(bStreaming ? body.substr(0, ClientAnswerSize / 2 - 2) : body, std::wstring(client->m_pszAnswer));
        EXPECT_EQ(bStreaming ? body : L"", client->m_sStreamed);
    }
}

// A self-signed "localhost" certificate: nothing is sent unless certificate
// errors are ignored.
TEST(HttpsClientTest, SelfSignedCertificateIsAcceptedOnlyWhenErrorsAreIgnored) {
    PbxSimOptions options;
    options.bHttps = true;
    PbxSim sim;
    ASSERT_TRUE(sim.Start(options)) << sim.Error();
    ASSERT_TRUE(sim.AddFault(FaultJson(L"/v1/secure", L"\"status\":200,\"body\":\"{}\",\"count\":10")));
    for (const BOOL bIgnoreCertErrors : {FALSE, TRUE}) {
        CHTTPContactLog client(ClientAnswerSize);
        client.m_dwSecureProtocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
        client.m_bIgnoreCertErrors = bIgnoreCertErrors;
        EXPECT_EQ(bIgnoreCertErrors, Query(client, sim.ApiBaseUrl() + L"/secure")) << client.m_dwLastError;
        EXPECT_EQ(static_cast<DWORD>(INTERNET_SCHEME_HTTPS), client.m_nScheme);
        EXPECT_EQ(bIgnoreCertErrors ? 1u : 0u, sim.Requests(nullptr, L"/v1/secure").size())
            << "nothing may be sent to an unverified server";
        if (bIgnoreCertErrors) continue;
        // Wine reports the failed check as a secure-channel error, Windows as a secure failure.
        EXPECT_TRUE(client.m_dwLastError == ERROR_WINHTTP_SECURE_CHANNEL_ERROR ||
                    client.m_dwLastError == ERROR_WINHTTP_SECURE_FAILURE)
            << client.m_dwLastError;
    }
}

// Every wait of a query ends on its own terms, whatever the server does: the
// query's time limit, the provider's stop, the calling thread's stop, and,
// for a streamed answer, the server's silence. Each row names the fault, how
// the query is ended, and what the query then reports.
TEST_F(HttpClientTest, WaitsEndAtTheTimeLimitOnAStopAndWhenAStreamFallsSilent) {
    enum class End { TimeLimit, ProcessStop, ThreadStop, Silence };
    const struct { const char* pszName; const wchar_t* pszFault; End end; BOOL bExpected; DWORD dwError; int nStatus; } cases[] = {
        {"hung answer, time limit", L"\"hang\":true", End::TimeLimit, FALSE, ERROR_WINHTTP_TIMEOUT, 0},
        {"hung answer, provider stops", L"\"hang\":true", End::ProcessStop, FALSE, ERROR_WINHTTP_OPERATION_CANCELLED, 0},
        {"hung answer, thread stops", L"\"hang\":true", End::ThreadStop, FALSE, ERROR_WINHTTP_OPERATION_CANCELLED, 0},
        {"silent stream, idle limit", L"\"stream\":\"silent\"", End::Silence, TRUE, ERROR_WINHTTP_TIMEOUT, 200},
        {"silent stream, thread stops", L"\"stream\":\"silent\"", End::ThreadStop, TRUE,
         ERROR_WINHTTP_OPERATION_CANCELLED, 200},
    };
    HANDLE hStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(hStop, nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        ASSERT_TRUE(s_sim->ClearFaults());
        ASSERT_TRUE(s_sim->ClearRequests());
        ResetEvent(hStop);
        const bool bStream = wcsstr(c.pszFault, L"stream") != nullptr;
        const std::wstring path = bStream ? L"/silent" : L"/hung";
        ASSERT_TRUE(s_sim->AddFault(FaultJson(L"/v1" + path, c.pszFault)));
        const size_t nRecordsBefore = LiveAsyncCalls();
        CHTTPContactLog client(ClientAnswerSize);
        client.m_bStreaming = bStream ? TRUE : FALSE;
        if (c.end == End::Silence) client.m_dwIdleTimeoutMs = 1500;
        std::future<BOOL> query = std::async(std::launch::async, [&] {
            SetProcessStopEvent(c.end == End::ProcessStop ? hStop : nullptr);
            SetThreadStopEvent(c.end == End::ThreadStop ? hStop : nullptr);
            client.SetURLDirect(Url(path).c_str());
            client.SetSData(nullptr);
            client.SetSHeader(L"Accept:*.*\r\n\r\n");
            const BOOL bResult = client.RunQuery(L"GET", 3, c.end == End::TimeLimit ? 1500 : 0xFFFFFFFF, TRUE, TRUE);
            SetProcessStopEvent(nullptr);
            SetThreadStopEvent(nullptr);
            return bResult;
        });
        // The simulator waits on its side until the request has arrived.
        CJsonParserBase arrived;
        ASSERT_TRUE(arrived.Parse(s_sim->Control(L"POST", L"wait", L"{\"requests\":1,\"path\":" + JsonQuote(L"/v1" + path) +
                                                                       L",\"timeout_ms\":20000}").sBody.c_str()));
        ASSERT_TRUE(arrived.GetBool(L"ok"));
        // A stream is stopped while it is silent, not while its answer's header
        // is still on the way (the server has the request before the client the header).
        for (ULONGLONG qwDeadline = GetTickCount64() + 10000; bStream && client.LastStatusCode() != 200;) {
            ASSERT_LT(GetTickCount64(), qwDeadline) << "no stream header";
            Sleep(10);
        }
        if (c.end == End::ProcessStop || c.end == End::ThreadStop) SetEvent(hStop);
        // The watchdog: without an end of its own the query would wait for ever.
        ASSERT_EQ(query.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        EXPECT_EQ(query.get(), c.bExpected);
        EXPECT_EQ(client.m_dwLastError, c.dwError);
        EXPECT_EQ(client.LastStatusCode(), c.nStatus);
        // Given up means given up: no further attempt, and the request is closed.
        EXPECT_EQ(s_sim->Requests(nullptr, L"/v1" + path).size(), 1u);
        EXPECT_EQ(client.m_hRequest, nullptr);
        // A stream given up while it waited for data leaves nothing behind;
        // one given up before its header leaves its (wiped) body to WinHTTP.
        EXPECT_EQ(LiveAsyncCalls(), nRecordsBefore + (bStream ? 0 : 1));
        // The client serves the next request as if nothing had happened.
        ASSERT_TRUE(s_sim->ClearFaults());
        ASSERT_TRUE(s_sim->AddFault(Reply(L"/v1/after", 200, L"{\"next\":1}")));
        EXPECT_EQ(TRUE, Query(client, Url(L"/after")));
        EXPECT_STREQ(L"{\"next\":1}", client.m_pszAnswer);
    }
    CloseHandle(hStop);
}

// The manager tells the client when the caller holds the ProviderLock; a
// request made there is reported, whatever its outcome.
TEST_F(HttpClientTest, RequestInsideTheForbiddenLockIsReported) {
    for (const bool bHeld : {false, true}) {
        CTraceCapture capture(0);
        SetForbiddenLockCheck(bHeld ? +[] { return true; } : +[] { return false; });
        ASSERT_TRUE(s_sim->AddFault(Reply(L"/v1/locked", 200)));
        EXPECT_EQ(TRUE, Query(*m_client, Url(L"/locked")));
        SetForbiddenLockCheck(nullptr);
        EXPECT_EQ(capture.Contains(L"HTTPBASE.Func.CHTTPContactBase::RunQuery.Error.Request inside the ProviderLock GET "
                                   L"http://127.0.0.1"),
                  bHeld) << (bHeld ? "inside" : "outside");
    }
}

}  // namespace
