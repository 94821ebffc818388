// The HTTP client's parts that need no server: URL cracking, body
// assembly, event hand-over, the choice of proxy.
#include <gtest/gtest.h>

#include <windows.h>

#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/BoundedString.h"
#include "http/AsyncCall.h"
#include "http/CHTTPContactEvent.h"
#include "http/CHTTPContactLog.h"
#include "http/ProxySettings.h"

namespace {

std::unique_ptr<CHTTPContactBase> NewClient() { return std::make_unique<CHTTPContactBase>(ClientAnswerSize); }

// An explicit port is used but kept out of the URL shown in exchange files
// (that a URL's parts reach the server is every simulator test's).
TEST(HttpContactTest, SetURLDirectCracksTheUrlAndHidesThePort) {
    auto client = NewClient();
    client->SetURLDirect(L"http://localhost:8080/v1/extensions/phone/data");
    EXPECT_STREQ(L"http://localhost", client->m_szURL);
    EXPECT_EQ(0u, client->m_dwLastError);

    client = NewClient();
    client->SetURLDirect(L"no url at all");
    EXPECT_EQ(0, client->m_wPort);
    EXPECT_STREQ(L"", client->m_szHostName);
    EXPECT_NE(0u, client->m_dwLastError);
}

// A status callback that WinHTTP dispatched before its request was unhooked
// may run after the client let go of the record: it still finds the record
// whole while it runs, a later one finds nothing, and the last one out frees it.
TEST(HttpContactTest, StatusCallbacksNeverOutliveTheirRecord) {
    const size_t nBefore = LiveAsyncCalls();
    CAsyncCall* pCall = NewAsyncCall();
    ASSERT_NE(pCall, nullptr);
    const DWORD_PTR dwContext = reinterpret_cast<DWORD_PTR>(pCall);
    CAsyncCall* pRunning = AcquireAsyncCall(dwContext);
    ASSERT_EQ(pRunning, pCall);
    RetireAsyncCall(pCall, 0);
    EXPECT_EQ(AcquireAsyncCall(dwContext), nullptr);
    HttpStatusCallback(nullptr, dwContext, WINHTTP_CALLBACK_STATUS_READ_COMPLETE, nullptr, 3);
    pRunning->Note(WINHTTP_CALLBACK_STATUS_READ_COMPLETE, nullptr, 5);
    EXPECT_EQ(pRunning->dwValue, 5u);
    EXPECT_EQ(LiveAsyncCalls(), nBefore + 1);
    ReleaseAsyncCall(pRunning);
    EXPECT_EQ(LiveAsyncCalls(), nBefore);
}

// Bodies go as UTF-8 ("Ü" as C3 9C, a lone surrogate as U+FFFD), cut between two characters.
TEST(HttpContactTest, SetSDataKeepsTheBodyInUtf8WithinItsLimits) {
    auto client = NewClient();
    client->SetSData(L"P\x00DCss \U0001F600 \xD800");
    EXPECT_STREQ(L"P\x00DCss \U0001F600 \xD800", client->m_szData);
    EXPECT_STREQ("P\xC3\x9Css \xF0\x9F\x98\x80 \xEF\xBF\xBD", client->m_szDataA);

    client->SetSData(std::wstring(70000, L'a').c_str());
    EXPECT_EQ(65534u, wcslen(client->m_szData));
    EXPECT_EQ(65534u, strlen(client->m_szDataA));
    client->SetSData((std::wstring(65532, L'a') + L"\x00DC\x00DC").c_str());
    EXPECT_EQ(65534u, strlen(client->m_szDataA));  // the second "Ü" would not fit whole
}

// The event client hands over each event as soon as its empty line has
// arrived, whole (tabs and NULs are text), with the last event id (the
// framing's own cases are its test's).
TEST(HttpContactTest, EventClientHandsOverWholeEventsWithTheirIds) {
    using Message = std::pair<std::wstring, std::wstring>;
    const std::wstring chunks[] = {L"id: 1\ndata: {\"a\":\t", L"\"b\"}\n", std::wstring(L"\ndata: x\0y\n\n", 12)};
    const size_t messagesAfterChunk[] = {0, 0, 2};
    auto client = std::make_unique<CHTTPContactEvent>(ClientAnswerSize);
    std::vector<Message> messages;
    client->SetMessageHandler(
        [&messages](const std::wstring& data, const std::wstring& id, bool) { messages.emplace_back(data, id); });
    client->BeginStream();
    for (size_t i = 0; i < std::size(chunks); ++i) {
        client->OnData(chunks[i].data(), chunks[i].size());
        EXPECT_EQ(messagesAfterChunk[i], messages.size()) << "after chunk " << i;
    }
    EXPECT_EQ(messages, (std::vector<Message>{{L"{\"a\":\t\"b\"}", L"1"}, {std::wstring(L"x\0y", 3), L"1"}}));
    EXPECT_EQ(client->LastEventId(), L"1");
}

// What WinHTTP's configuration and a detection say, in this order.
TEST(ProxySettingsTest, AccountThenMachineWideThenDetectionInThatOrder) {
    const wchar_t* const kAccount = L"account:8080";
    const wchar_t* const kMachine = L"machine:3128";
    const wchar_t* const kDetected = L"detected:8000";
    const struct {
        const wchar_t* pszWhat;
        bool bAccountProxy, bDetectionWanted, bDetected, bDetectedDirect, bMachineProxy;
        const wchar_t* pszExpected;  // empty: direct
    } cases[] = {
        {L"the account's fixed proxy", true, false, false, false, true, kAccount},
        {L"no proxy, no detection: the machine-wide one", false, false, false, false, true, kMachine},
        {L"nothing anywhere: direct", false, false, false, false, false, L""},
        {L"detection found one", true, true, true, false, true, kDetected},
        {L"detection found direct", false, true, true, true, true, L""},
        {L"detection failed, fixed proxy", true, true, false, false, true, kAccount},
        {L"detection failed or not yet done, no fixed proxy", false, true, false, false, true, kMachine},
        {L"a detection is not asked for: its outcome is not used", false, false, true, false, true, kMachine},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.pszWhat)));
        ProxySources sources;
        sources.bAccountNamesProxy = c.bAccountProxy;
        if (c.bAccountProxy) sources.sAccountProxy = kAccount;
        sources.bDetectionWanted = c.bDetectionWanted;
        sources.bDetected = c.bDetected;
        if (c.bDetected && !c.bDetectedDirect) sources.sDetectedProxy = kDetected;
        sources.bMachineNamesProxy = c.bMachineProxy;
        if (c.bMachineProxy) sources.sMachineProxy = kMachine;
        EXPECT_EQ(ChooseProxy(sources).sProxy, c.pszExpected);
    }
}

}  // namespace
