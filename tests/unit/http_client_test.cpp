// The HTTP client against the PBX simulator: what goes over the wire, retries,
// the status rules, answer decoding and truncation, ports and certificates.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "http/CHTTPContactLog.h"
#include "http/ProxySettings.h"
#include "support/PbxSim.h"

namespace {

constexpr DWORD TimeoutMs = 10000;

// Keeps every streamed chunk.
class CRecordingClient : public CHTTPContactBase {
public:
    CRecordingClient() : CHTTPContactBase(ClientAnswerSize) {}
    void OnData(wchar_t* pszChunk) override { m_sStreamed += pszChunk; }
    std::wstring m_sStreamed;
};

std::wstring FaultJson(const std::wstring& path, const std::wstring& members) {
    return L"{\"path\":" + JsonQuote(path) + L"," + members + L"}";
}

// The simulator's next answer on path.
std::wstring Reply(const std::wstring& path, int nStatus, const std::wstring& body = L"{}") {
    return FaultJson(path, L"\"status\":" + std::to_wstring(nStatus) + L",\"body\":" + JsonQuote(body));
}

// The UTF-16LE bytes of text as a body the simulator sends byte for byte:
// each code unit below 0x80 is one byte of its UTF-8 answer.
std::wstring Utf16LeBytesAsText(const std::wstring& text) {
    std::wstring bytes;
    for (wchar_t ch : text) bytes += {static_cast<wchar_t>(ch & 0xFF), static_cast<wchar_t>(ch >> 8)};
    return bytes;
}

class HttpClientTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_sim = new PbxSim;
        ASSERT_TRUE(s_sim->Start()) << s_sim->Error();
    }
    static void TearDownTestSuite() {
        delete s_sim;
        s_sim = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(s_sim, nullptr);
        ASSERT_TRUE(s_sim->ClearFaults());
        ASSERT_TRUE(s_sim->ClearRequests());
        m_client = std::make_unique<CHTTPContactLog>(ClientAnswerSize);
    }

    // One request of the PBX operations' kind: URL, body, header, query.
    BOOL Query(CHTTPContactBase& client, const wchar_t* pszVerb, const std::wstring& path, DWORD dwLoops = 1,
               const wchar_t* pszBody = nullptr, const wchar_t* pszHeaderFormat = L"Accept:*.*\r\n\r\n") {
        client.SetURLDirect((s_sim->ApiBaseUrl() + path).c_str());
        client.SetSData(pszBody);
        client.SetSHeader(pszHeaderFormat);
        return client.IsSuccessful(client.RunQuery(pszVerb, dwLoops, TimeoutMs, TRUE, TRUE));
    }

    std::vector<SimRequest> RequestsTo(const std::wstring& path) const {
        std::vector<SimRequest> found;
        for (SimRequest& request : s_sim->Requests()) {
            if (request.sPath == L"/v1" + path) found.push_back(std::move(request));
        }
        return found;
    }

    static PbxSim* s_sim;
    std::unique_ptr<CHTTPContactLog> m_client;
};

PbxSim* HttpClientTest::s_sim = nullptr;

// A body goes with its length; a caller's host line and bearer token go as given.
TEST_F(HttpClientTest, AssembledHeaderArrivesAsSent) {
    const struct {
        const wchar_t* pszVerb;
        const wchar_t* pszBody;
        const wchar_t* pszHeader;
        const wchar_t* pszExpectedHost;
    } cases[] = {
        {L"POST", L"{\"username\":\"lena.muster\", \"password\":\"Demo-Pass-2024\"}",
         L"Accept:*.*\r\nContent-Type: application/json\r\n\r\n", L"127.0.0.1"},
        {L"DELETE", L"", L"Accept:*.*\r\nAuthorization: Bearer abc.def.ghi\r\nhost: pbx.example\r\n\r\n", L"pbx.example"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.pszVerb));
        ASSERT_TRUE(s_sim->ClearRequests());
        ASSERT_TRUE(s_sim->AddFault(Reply(L"/v1/wire", 200)));
        EXPECT_EQ(TRUE, Query(*m_client, c.pszVerb, L"/wire", 1, c.pszBody, c.pszHeader));

        const std::vector<SimRequest> requests = RequestsTo(L"/wire");
        ASSERT_EQ(1u, requests.size());
        const SimRequest& request = requests[0];
        EXPECT_EQ(c.pszVerb, request.sMethod);
        EXPECT_EQ(std::vector<std::wstring>{L"*.*"}, request.HeaderValues(L"Accept"));
        EXPECT_EQ(std::vector<std::wstring>{c.pszExpectedHost}, request.HeaderValues(L"Host"));
        EXPECT_EQ(std::vector<std::wstring>{g_szAgent}, request.HeaderValues(L"User-Agent"));
        // ASCII bodies: as many bytes as characters.
        const std::string body = ToUtf8(c.pszBody);
        EXPECT_EQ(body, request.body);
        if (!body.empty()) {
            EXPECT_EQ(std::vector<std::wstring>{L"application/json"}, request.HeaderValues(L"Content-Type"));
            EXPECT_EQ(std::vector<std::wstring>{std::to_wstring(body.size())}, request.HeaderValues(L"Content-Length"));
        } else {
            for (const std::wstring& length : request.HeaderValues(L"Content-Length")) EXPECT_EQ(L"0", length);
            EXPECT_EQ(std::vector<std::wstring>{L"Bearer abc.def.ghi"}, request.HeaderValues(L"Authorization"));
        }
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

        EXPECT_EQ(dwLoops == 3 ? TRUE : FALSE, Query(*m_client, L"GET", L"/retry", dwLoops));
        EXPECT_EQ(dwLoops, RequestsTo(L"/retry").size());
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

TEST_F(HttpClientTest, SuccessIsJudgedByTheStatusLine) {
    const struct {
        int nStatus;
        size_t cbBody;
        bool bDateHeader;
        BOOL bExpected;
    } cases[] = {
        {200, 0, false, TRUE},
        {202, 0, true, TRUE},
        // " 200" in the content-length line, " 202" in the date line of this decade's years.
        {404, 200, false, FALSE},
        {409, 2, true, FALSE},
        {201, 2, true, FALSE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "status " << c.nStatus << ", body " << c.cbBody << ", date " << c.bDateHeader);
        ASSERT_EQ(200u, s_sim->Control(L"POST", L"settings",
                                       c.bDateHeader ? L"{\"date_header\":true}" : L"{\"date_header\":false}").dwStatus);
        const std::wstring body(c.cbBody, L'x');
        ASSERT_TRUE(s_sim->AddFault(Reply(L"/v1/status", c.nStatus, body)));
        EXPECT_EQ(c.bExpected, Query(*m_client, L"GET", L"/status")) << ToUtf8(m_client->m_szResponseHeader);
        // The raw header is kept for the exchange file either way.
        EXPECT_EQ(0, wcsncmp(m_client->m_szResponseHeader, L"HTTP/1.1 ", 9));
        EXPECT_EQ(body, m_client->m_pszAnswer);
    }
    ASSERT_EQ(200u, s_sim->Control(L"POST", L"settings", L"{\"date_header\":true}").dwStatus);
    // A failed query never counts, whatever header an earlier one left.
    EXPECT_EQ(FALSE, m_client->IsSuccessful(FALSE));
}

TEST_F(HttpClientTest, AnswerTextFormIsTakenFromTheBody) {
    // Every UTF-16 unit here has two bytes below 0x80, so the simulator can be
    // told the exact bytes through its JSON control interface.
    const std::wstring utf16Text = L"{\"name\":\"\x263A \x0141ukasz \x4E2D\"}";
    const std::string utf8Bytes = "{\"name\":\"Gr\xC3\xBC\xC3\x9F" "e\"}";
    wchar_t szAnsiWidened[64] = {};
    MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, utf8Bytes.c_str(), -1, szAnsiWidened, 64);
    const struct {
        const char* pszName;
        std::wstring sBody;  // the bytes as code units
        std::wstring sExpected;
    } cases[] = {
        {"utf-16", Utf16LeBytesAsText(utf16Text), utf16Text},
        {"utf-8", FromUtf8(utf8Bytes), szAnsiWidened},
        {"short", L"ok", L"ok"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        ASSERT_TRUE(s_sim->AddFault(Reply(L"/v1/text", 200, c.sBody)));
        EXPECT_EQ(TRUE, Query(*m_client, L"GET", L"/text"));
        EXPECT_EQ(c.sExpected, m_client->m_pszAnswer);
    }
}

TEST_F(HttpClientTest, LongAnswerIsStoredTruncatedWhileStreamingSeesAll) {
    std::wstring body;
    for (int i = 0; body.size() < 300000; ++i) body += std::to_wstring(i) + L",";
    ASSERT_TRUE(s_sim->AddFault(Reply(L"/v1/long", 200, body)));

    auto client = std::make_unique<CRecordingClient>();
    client->m_bStreaming = TRUE;
    EXPECT_EQ(TRUE, Query(*client, L"GET", L"/long"));
    const size_t cchKept = ClientAnswerSize / 2 - 2;
    EXPECT_EQ(131070u, cchKept);
    EXPECT_EQ(body.substr(0, cchKept), std::wstring(client->m_pszAnswer));
    EXPECT_EQ(body, client->m_sStreamed);
}

TEST_F(HttpClientTest, ProxyOutcomeIsRememberedAndDoesNotStallRequests) {
    ForgetProxySettings();
    m_client->CheckProxySettings(s_sim->ApiBaseUrl().c_str());
    // This machine has no proxy: requests go straight to the simulator.
    EXPECT_STREQ(L"", m_client->m_wszProxy);
    // Later checks reuse the outcome instead of asking the network again.
    const ULONGLONG qwStart = GetTickCount64();
    for (int i = 0; i < 20; ++i) m_client->CheckProxySettings(s_sim->ApiBaseUrl().c_str());
    EXPECT_LT(GetTickCount64() - qwStart, 1000u);
    ASSERT_TRUE(s_sim->AddFault(Reply(L"/v1/proxy", 200)));
    EXPECT_EQ(TRUE, Query(*m_client, L"GET", L"/proxy"));
}

// The simulator's certificate, trusted in the current user's root store for
// the life of the object. The store is closed after each change: Wine writes
// it out, where the chain engine finds it, only when the last reference goes.
class CTrustedCertificate {
public:
    explicit CTrustedCertificate(const std::string& der) : m_der(der) {
        HCERTSTORE hStore = OpenRoot();
        if (hStore == nullptr) return;
        m_bAdded = CertAddEncodedCertificateToStore(hStore, X509_ASN_ENCODING, Bytes(), Size(),
                                                    CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
        CertCloseStore(hStore, 0);
    }
    ~CTrustedCertificate() {
        HCERTSTORE hStore = m_bAdded ? OpenRoot() : nullptr;
        if (hStore == nullptr) return;
        if (PCCERT_CONTEXT pWanted = CertCreateCertificateContext(X509_ASN_ENCODING, Bytes(), Size())) {
            if (PCCERT_CONTEXT pFound = CertFindCertificateInStore(hStore, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING,
                                                                   pWanted, nullptr)) {
                CertDeleteCertificateFromStore(pFound);
            }
            CertFreeCertificateContext(pWanted);
        }
        CertCloseStore(hStore, 0);
    }
    bool Added() const { return m_bAdded; }

private:
    static HCERTSTORE OpenRoot() {
        return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    }
    const BYTE* Bytes() const { return reinterpret_cast<const BYTE*>(m_der.data()); }
    DWORD Size() const { return static_cast<DWORD>(m_der.size()); }

    std::string m_der;
    bool m_bAdded = false;
};

// A request as the PBX operations make it, on a fresh client; the count of
// such requests that reached the server.
BOOL SecureQuery(const PbxSim& sim, BOOL bIgnoreCertErrors, DWORD& dwLastError, size_t& nArrived) {
    auto client = std::make_unique<CHTTPContactLog>(ClientAnswerSize);
    client->m_dwSecureProtocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    client->m_bIgnoreCertErrors = bIgnoreCertErrors;
    client->SetURLDirect((sim.ApiBaseUrl() + L"/secure").c_str());
    EXPECT_EQ(static_cast<DWORD>(INTERNET_SCHEME_HTTPS), client->m_nScheme);
    client->SetSData(nullptr);
    client->SetSHeader(L"Accept:*.*\r\n\r\n");
    const BOOL bResult = client->IsSuccessful(client->RunQuery(L"GET", 1, TimeoutMs, TRUE, TRUE));
    dwLastError = client->m_dwLastError;
    nArrived = 0;
    for (const SimRequest& request : sim.Requests()) nArrived += request.sPath == L"/v1/secure";
    return bResult;
}

// Two HTTPS simulators, each with its own self-signed "localhost"
// certificate; the first one's is trusted while the test runs.
TEST(HttpsClientTest, SelfSignedCertificateIsAcceptedOnlyWhenErrorsAreIgnored) {
    PbxSimOptions options;
    options.bHttps = true;
    PbxSim trustedSim, untrustedSim;
    ASSERT_TRUE(trustedSim.Start(options)) << trustedSim.Error();
    ASSERT_TRUE(untrustedSim.Start(options)) << untrustedSim.Error();
    CTrustedCertificate trust(trustedSim.CertificateDer());
    ASSERT_TRUE(trust.Added());
    for (PbxSim* sim : {&trustedSim, &untrustedSim}) {
        ASSERT_TRUE(sim->AddFault(FaultJson(L"/v1/secure", L"\"status\":200,\"body\":\"{}\",\"count\":10")));
    }
    DWORD dwLastError = 0;
    size_t nArrived = 0;

    EXPECT_EQ(FALSE, SecureQuery(untrustedSim, FALSE, dwLastError, nArrived));
    // Wine reports the failed check as a secure-channel error, Windows as a secure failure.
    EXPECT_TRUE(dwLastError == ERROR_WINHTTP_SECURE_CHANNEL_ERROR || dwLastError == ERROR_WINHTTP_SECURE_FAILURE)
        << dwLastError;
    EXPECT_EQ(0u, nArrived) << "nothing may be sent to an unverified server";

    EXPECT_EQ(TRUE, SecureQuery(trustedSim, FALSE, dwLastError, nArrived)) << dwLastError;
    EXPECT_EQ(1u, nArrived);

    EXPECT_EQ(TRUE, SecureQuery(untrustedSim, TRUE, dwLastError, nArrived)) << dwLastError;
    EXPECT_EQ(1u, nArrived);
}

}  // namespace
