// The HTTP client's parts that need no server: URL cracking, header and body
// assembly, status rules, error names, answer decoding, event framing, traces.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "common/BoundedString.h"
#include "http/AnswerDecoder.h"
#include "http/CHTTPContactEvent.h"
#include "http/CHTTPContactLog.h"
#include "http/WinHttpErrorName.h"
#include "support/TestFiles.h"
#include "support/TraceCapture.h"

namespace {

std::unique_ptr<CHTTPContactBase> NewClient() {
    return std::make_unique<CHTTPContactBase>(ClientAnswerSize);
}

// An explicit port is used but kept out of the URL shown in exchange files.
TEST(HttpContactTest, SetURLDirectCracksTheUrlAndHidesThePort) {
    auto client = NewClient();
    client->SetURLDirect(L"https://api.orvo.cloud/v1/login");
    EXPECT_STREQ(L"https://api.orvo.cloud/v1/login", client->m_szURL);
    EXPECT_EQ(443, client->m_wPort);
    EXPECT_EQ(static_cast<DWORD>(INTERNET_SCHEME_HTTPS), client->m_nScheme);

    client->SetURLDirect(L"http://localhost:8080/v1/extensions/phone/data");
    EXPECT_STREQ(L"http://localhost", client->m_szURL);
    EXPECT_STREQ(L"localhost", client->m_szHostName);
    EXPECT_STREQ(L"/v1/extensions/phone/data", client->m_szUrlPath);
    EXPECT_EQ(8080, client->m_wPort);
    EXPECT_EQ(static_cast<DWORD>(INTERNET_SCHEME_HTTP), client->m_nScheme);
    EXPECT_EQ(0u, client->m_dwLastError);

    client = NewClient();
    client->SetURLDirect(L"no url at all");
    EXPECT_EQ(0, client->m_wPort);
    EXPECT_STREQ(L"", client->m_szHostName);
    EXPECT_NE(0u, client->m_dwLastError);
}

TEST(HttpContactTest, SetSHeaderAddsHostAndContentLengthLines) {
    const struct {
        const wchar_t* pszURL;
        const wchar_t* pszBody;
        const wchar_t* pszFormat;
        const wchar_t* pszExpected;
    } cases[] = {
        {L"https://pbx.example/v1/login", L"{\"username\":\"u\", \"password\":\"p\"}",
         L"Accept:*.*\r\nContent-Type: application/json\r\n\r\n",
         L"Accept:*.*\r\nContent-Type: application/json\r\n\nhost: pbx.example\r\ncontent-length: 32\n\n"},
        {L"https://pbx.example:8443/v1/login", nullptr, L"Accept:*.*\r\nAuthorization: Bearer %s\n\n",
         L"Accept:*.*\r\nAuthorization: Bearer tok\n\nhost: pbx.example\n\n"},
        {L"https://pbx.example/v1/login", L"", L"Accept:*.*\r\nhost: other\r\n\r\n", L"Accept:*.*\r\nhost: other\r\n\n\n"},
        {L"https://pbx.example/v1/login", L"x", L"Accept:*.*", L"Accept:*.*\nhost: pbx.example\r\ncontent-length: 1\n\n"},
        // Texts under four characters are kept whole.
        {L"https://pbx.example/v1/login", nullptr, L"A\n\n", L"A\n\n\nhost: pbx.example\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.pszFormat));
        auto client = NewClient();
        client->SetURLDirect(c.pszURL);
        client->SetSData(c.pszBody);
        client->SetSHeader(c.pszFormat, L"tok");
        EXPECT_STREQ(c.pszExpected, client->m_szHeader);
    }
}

TEST(HttpContactTest, SetSDataKeepsTheBodyInTheAnsiCodePageWithinItsLimits) {
    auto client = NewClient();
    char szAnsi[8] = {};
    WideCharToMultiByte(CP_ACP, 0, L"\x00E4", -1, szAnsi, sizeof(szAnsi), nullptr, nullptr);
    client->SetSData(L"\x00E4");
    EXPECT_STREQ(L"\x00E4", client->m_szData);
    EXPECT_STREQ(szAnsi, client->m_szDataA);

    client->SetSData(std::wstring(70000, L'a').c_str());
    EXPECT_EQ(65534u, wcslen(client->m_szData));
    EXPECT_EQ(65534u, strlen(client->m_szDataA));

    client->SetSData(L"");
    EXPECT_STREQ(L"", client->m_szData);
    EXPECT_STREQ("", client->m_szDataA);
}

// Code 0 names the thread's last error; the code is left as the last error.
TEST(HttpContactTest, WinHttpErrorNameNamesCodesAndRestoresTheLastError) {
    SetLastError(0);
    EXPECT_EQ(L"_SECURE_CHANNEL_ERROR", WinHttpErrorName(12157));
    EXPECT_EQ(12157u, GetLastError());
    SetLastError(0);
    EXPECT_EQ(L"SUCCESS", WinHttpErrorName(0));
    SetLastError(12030);
    EXPECT_EQ(L"CONNECTION_ERROR", WinHttpErrorName(0));
    EXPECT_EQ(12030u, GetLastError());
    // Codes outside the table: the system's text, one line.
    const std::wstring name = WinHttpErrorName(ERROR_ACCESS_DENIED);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(std::wstring::npos, name.find_first_of(L"\r\n"));
}

TEST(HttpContactTest, AnswerDecoderTellsUtf16FromItsBytes) {
    struct Case {
        const char* pszName;
        std::vector<std::string> chunks;
        std::wstring sExpected;
        bool bUtf16;
    };
    const std::string utf16("{\0\"\0n\0\"\0:\0\x3A\x26}\0", 14);
    const Case cases[] = {
        {"utf-16 split at odd bytes", {utf16.substr(0, 9), utf16.substr(9, 3), utf16.substr(12)}, L"{\"n\":\x263A}",
         true},
        {"ansi", {"{\"n\":\"abc\"}"}, L"{\"n\":\"abc\"}", false},
        // Chunks under nine bytes do not decide; the next one does.
        {"short first chunk", {std::string("a\0b", 3), utf16}, std::wstring(L"a") + L"{\"n\":\x263A}", true},
        // A chunk whose first byte is zero is tested but does not settle the form.
        {"leading zero", {std::string("\0a\0b\0c\0d\0e", 10), utf16}, L"{\"n\":\x263A}", true},
        {"ansi stays ansi", {"0123456789", std::string("a\0b\0c\0d\0e\0", 10)}, L"0123456789a", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        CAnswerDecoder decoder;
        std::wstring text;
        for (const std::string& chunk : c.chunks) {
            text += decoder.Decode(reinterpret_cast<const BYTE*>(chunk.data()), static_cast<DWORD>(chunk.size()));
        }
        EXPECT_EQ(c.sExpected, text);
        EXPECT_EQ(c.bUtf16, decoder.IsUtf16());
    }
}

TEST(HttpContactTest, EventClientCutsTheStreamIntoMessages) {
    struct Case {
        const char* pszName;
        std::vector<std::wstring> chunks;
        std::vector<size_t> messagesAfterChunk;  // messages delivered so far, after each chunk
        std::vector<std::wstring> messages;
    };
    const Case cases[] = {
        {"message across two chunks",
         {L"id: 1\ndata: {\"uuid\":\"a\",", L"\"state\":\"ring\"}\n\n"},
         {0, 1},
         {L"{\"uuid\":\"a\",\"state\":\"ring\"}"}},
        {"two events in one chunk",
         {L"id: 1\ndata: {\"n\":1}\n\nid: 2\ndata: {\"n\":2}\n\n"},
         {2},
         {L"{\"n\":1}id: 2", L"{\"n\":2}"}},
        {"tabs and line ends go", {L"data: {\"a\":\t\"b\r\"}\r\n\r\n"}, {1}, {L"{\"a\":\"b\"}"}},
        {"comment only", {L": keep-alive\n\n"}, {0}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        auto client = std::make_unique<CHTTPContactEvent>(ClientAnswerSize);
        std::vector<std::wstring> messages;
        client->SetMessageHandler([&messages](const std::wstring& message) { messages.push_back(message); });
        for (size_t i = 0; i < c.chunks.size(); ++i) {
            std::wstring chunk = c.chunks[i];
            client->OnData(chunk.data());
            EXPECT_EQ(c.messagesAfterChunk[i], messages.size()) << "after chunk " << i;
        }
        EXPECT_EQ(c.messages, messages);
    }
}

// Trace lines become single lines; the provider's clients write them to the log.
TEST(HttpContactTest, TraceLinesReachTheLogAsOneLine) {
    CTraceCapture capture(5);
    CHTTPContactLog client(ClientAnswerSize);
    client.Trace(5, L"Func.CHTTPContactBase::Test.Info.%s", L"HTTP/1.1 200 OK\r\nServer: x");
    client.Trace(6, L"Func.CHTTPContactBase::Test.Info.too detailed");
    auto base = NewClient();
    base->Trace(1, L"Func.CHTTPContactBase::Test.Info.not written");
    EXPECT_EQ(std::vector<std::wstring>{L"HTTPBASE.Func.CHTTPContactBase::Test.Info.HTTP/1.1 200 OK  Server: x"},
              capture.Messages());
}

TEST(HttpContactTest, FailuresEndTheQueryWithTheirError) {
    auto client = NewClient();
    EXPECT_EQ(FALSE, client->RunQuery(nullptr, 1, 1000, TRUE, TRUE));
    EXPECT_EQ(FALSE, client->Connect(L"localhost", 80));  // no session yet
    EXPECT_EQ(FALSE, client->StartQuery(L"GET", L"/", 1, TRUE));

    // Nothing listens on port 1 of the loopback.
    client->SetURLDirect(L"http://127.0.0.1:1/v1/login");
    client->SetSData(nullptr);
    client->SetSHeader(L"Accept:*.*\r\n\r\n");
    EXPECT_EQ(FALSE, client->IsSuccessful(client->RunQuery(L"GET", 2, 5000, TRUE, TRUE)));
    EXPECT_EQ(static_cast<DWORD>(ERROR_WINHTTP_CANNOT_CONNECT), client->m_dwLastError);
    EXPECT_STREQ(L"CANNOT_CONNECT", client->m_szLastError);
    EXPECT_STREQ(L"GET", client->m_szVerb);
    EXPECT_STREQ(L"", client->m_pszAnswer);
    EXPECT_GE(client->m_wRuntime, 0);
}

}  // namespace
