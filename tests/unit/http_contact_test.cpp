// The HTTP client's parts that need no server: URL cracking, body
// assembly, answer decoding, event framing.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/BoundedString.h"
#include "http/AnswerDecoder.h"
#include "http/CHTTPContactEvent.h"
#include "http/CHTTPContactLog.h"
#include "support/TestFiles.h"

namespace {

std::unique_ptr<CHTTPContactBase> NewClient() { return std::make_unique<CHTTPContactBase>(ClientAnswerSize); }

// An explicit port is used but kept out of the URL shown in exchange files.
TEST(HttpContactTest, SetURLDirectCracksTheUrlAndHidesThePort) {
    auto client = NewClient();
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
}

TEST(HttpContactTest, AnswerDecoderTellsUtf16FromItsBytes) {
    const std::string utf16("{\0\"\0n\0\"\0:\0\x3A\x26}\0", 14);
    const struct {
        const char* pszName;
        std::vector<std::string> chunks;
        std::wstring sExpected;
        bool bUtf16;
    } cases[] = {
        {"utf-16 split at odd bytes", {utf16.substr(0, 9), utf16.substr(9, 3), utf16.substr(12)}, L"{\"n\":\x263A}", true},
        // Chunks under nine bytes do not decide; the next one does.
        {"short first chunk", {std::string("a\0b", 3), utf16}, std::wstring(L"a") + L"{\"n\":\x263A}", true},
        // A chunk whose first byte is zero is tested but does not settle the form.
        {"leading zero", {std::string("\0a\0b\0c\0d\0e", 10), utf16}, L"{\"n\":\x263A}", true},
        {"ansi stays ansi", {"0123456789", std::string("a\0b\0c\0d\0e\0", 10)}, L"0123456789a", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        CAnswerDecoder decoder;
        std::wstring text;
        for (const std::string& chunk : c.chunks)
            text += decoder.Decode(reinterpret_cast<const BYTE*>(chunk.data()), static_cast<DWORD>(chunk.size()));
        EXPECT_EQ(c.sExpected, text);
        EXPECT_EQ(c.bUtf16, decoder.IsUtf16());
    }
}

// The event client hands over each event as soon as its empty line has
// arrived, with the last event id; rows from the stream faults seen in the field.
TEST(HttpContactTest, EventClientHandsOverWholeEventsWithTheirIds) {
    using Message = std::pair<std::wstring, std::wstring>;
    const struct {
        const char* pszName;
        std::vector<std::wstring> chunks;
        std::vector<size_t> messagesAfterChunk;  // messages delivered so far, after each chunk
        std::vector<Message> messages;
    } cases[] = {
        {"message across two chunks", {L"id: 1\ndata: {\"uuid\":\"a\",", L"\"state\":\"ring\"}\n\n"}, {0, 1},
         {{L"{\"uuid\":\"a\",\"state\":\"ring\"}", L"1"}}},
        {"two events in one chunk", {L"id: 1\ndata: {\"n\":1}\n\nid: 2\ndata: {\"n\":2}\n\n"}, {2},
         {{L"{\"n\":1}", L"1"}, {L"{\"n\":2}", L"2"}}},
        {"an event followed by a heartbeat in the same write", {L"data: {\"n\":1}\n\n: keep-alive\n\n"}, {1},
         {{L"{\"n\":1}", L""}}},
        {"a write ending right after an inner brace", {L"data: {\"o\":{\"n\":1}", L",\"s\":\"x\"}\n\n"}, {0, 1},
         {{L"{\"o\":{\"n\":1},\"s\":\"x\"}", L""}}},
        {"data without the blank, CR LF line ends", {L"id: 9\r\ndata:{\"n\":1}\r\n\r\n"}, {1}, {{L"{\"n\":1}", L"9"}}},
        {"the event waits for its empty line", {L"data: {\"n\":1}\n", L"\n"}, {0, 1}, {{L"{\"n\":1}", L""}}},
        {"tabs stay in the data", {L"data: {\"a\":\t\"b\tc\"}\n\n"}, {1}, {{L"{\"a\":\t\"b\tc\"}", L""}}},
        {"comment only", {L": keep-alive\n\n"}, {0}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        auto client = std::make_unique<CHTTPContactEvent>(ClientAnswerSize);
        std::vector<Message> messages;
        client->SetMessageHandler([&messages](const std::wstring& data, const std::wstring& id, bool) {
            messages.emplace_back(data, id);
        });
        client->BeginStream();
        for (size_t i = 0; i < c.chunks.size(); ++i) {
            std::wstring chunk = c.chunks[i];
            client->OnData(chunk.data());
            EXPECT_EQ(c.messagesAfterChunk[i], messages.size()) << "after chunk " << i;
        }
        EXPECT_EQ(c.messages, messages);
        EXPECT_EQ(client->LastEventId(), c.messages.empty() ? L"" : c.messages.back().second);
    }
}

}  // namespace
