// Exchange files: their place and name, their exact layout, and that no
// credential of an exchange reaches them.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <regex>
#include <string>

#include "common/BoundedString.h"
#include "http/CHTTPContactLog.h"
#include "log/CLoggingFileWithEvent.h"
#include "support/PbxSim.h"
#include "support/TestFiles.h"

namespace {

const std::string S = std::string(108, '#') + "\r\n";
const std::string D = std::string(108, '-') + "\r\n";

// A client holding a finished exchange, as a PBX operation leaves it.
std::unique_ptr<CHTTPContactLog> ClientWithExchange(const wchar_t* pszHeader, const wchar_t* pszData,
                                                    const wchar_t* pszResponseHeader, const wchar_t* pszAnswer) {
    auto client = std::make_unique<CHTTPContactLog>(ClientAnswerSize);
    StrCopy(client->m_szVerb, L"POST");
    StrCopy(client->m_szURL, L"https://pbx.example/v1/login");
    client->m_dwLastError = 12002;
    StrCopy(client->m_szLastError, L"TIMEOUT");
    client->m_wRuntime = 1234;
    StrCopy(client->m_szHeader, pszHeader);
    StrCopy(client->m_szData, pszData);
    StrCopy(client->m_szResponseHeader, pszResponseHeader);
    BoundedCopy(client->m_pszAnswer, ClientAnswerSize / 2, pszAnswer);
    return client;
}

// The file's text with its time line replaced by a marker, after checking that line's form.
std::string ReadWithoutTimeLine(const std::wstring& path) {
    std::string text = ReadFileBytes(path);
    const size_t nStart = text.find("\r\n") + 2;
    const size_t nEnd = text.find("\r\n", nStart);
    if (nStart < 2 || nEnd == std::string::npos) return text;
    const std::string timeLine = text.substr(nStart, nEnd - nStart);
    char szIds[32];
    sprintf_s(szIds, "(%4lu:%4lu)", GetCurrentProcessId(), GetCurrentThreadId());
    EXPECT_TRUE(std::regex_match(timeLine, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )" +
                                                      std::regex_replace(szIds, std::regex(R"([()])"), R"(\$&)"))))
        << timeLine;
    return text.replace(nStart, nEnd - nStart, "<time>");
}

// Every line of the answer is kept, blank ones dropped; basic credentials of
// any length are masked whole.
TEST(HttpExchangeFileTest, FileHasTheLayoutAndMasksCredentials) {
    CTempDir dir(L"exchange");
    auto client = ClientWithExchange(
        L"Accept:*.*\r\nContent-Type: application/json\r\nAuthorization: Basic bGVuYTpzZWNyZXQ=\r\n\nhost: "
        L"pbx.example\r\ncontent-length: 55\n\n",
        L"{\"username\":\"lena.muster\", \"password\":\"Demo-Pass-2024\"}",
        L"HTTP/1.1 200 OK\r\nContent-Length: 80\r\n\r\n",
        L"{\"access-token\": \"aaa.bbb.ccc\", \"refresh-token\": \"ddd.eee.fff\",\n\r\n\"expires-in\": 3600}");
    client->SetFileBase(dir.Path().c_str());
    client->SaveSequence(L"Login", FALSE, nullptr);

    const std::string expected =
        S + "<time>\r\n" + D +
        "VERB: POST\r\n"
        "URL: https://pbx.example/v1/login\r\n"
        "HTTP last error: 12002 (TIMEOUT)\r\n"
        "Runtime: 1234 miliseconds\r\n" +
        S + "Query Header\r\n" + D +
        "Accept:*.*\r\nContent-Type: application/json\r\nAuthorization: Basic XXXXXXXX\r\nhost: pbx.example\r\n"
        "content-length: 55\r\n" +
        S + "Query Data\r\n" + D +
        "{\"username\":\"lena.muster\", \"password\":\"XXXXXXXXXXXXXX\"}\r\n"
        "\r\n" +
        S + "Response Header\r\n" + D +
        "HTTP/1.1 200 OK\r\nContent-Length: 80\r\n" +
        S + "Response Data\r\n" + D +
        "{\"access-token\": \"XXXXXXXXXXX\", \"refresh-token\": \"XXXXXXXXXXX\",\r\n\"expires-in\": 3600}\r\n" + S;
    EXPECT_EQ(expected, ReadWithoutTimeLine(dir.File(L"Login_SEQUENCE.TXT")));
}

TEST(HttpExchangeFileTest, FileIsNamedAfterItsLabelInItsFolder) {
    CTempDir dir(L"exchange");
    auto client = ClientWithExchange(L"", L"", L"", L"");
    client->SetFileBase(dir.Path().c_str());

    client->SaveSequence(nullptr, FALSE, nullptr);
    EXPECT_TRUE(ListFiles(dir.Path()).empty());

    // A second save of the same label replaces the file.
    client->SaveSequence(L"RefreshToken", FALSE, nullptr);
    StrCopy(client->m_szVerb, L"PUT");
    client->SaveSequence(L"RefreshToken", FALSE, nullptr);
    EXPECT_EQ(std::vector<std::wstring>{L"RefreshToken_SEQUENCE.TXT"}, ListFiles(dir.Path()));
    EXPECT_NE(std::string::npos, ReadFileBytes(dir.File(L"RefreshToken_SEQUENCE.TXT")).find("VERB: PUT\r\n"));

    client->SaveSequence(L"Login", TRUE, L"history");
    const std::vector<std::wstring> saved = ListFiles(dir.File(L"history"));
    ASSERT_EQ(1u, saved.size());
    EXPECT_TRUE(std::regex_match(ToUtf8(saved[0]), std::regex(R"(Login_\d{4}_\d\d_\d\d__\d\d_\d\d_\d\d_SEQUENCE\.TXT)")))
        << ToUtf8(saved[0]);
    DeleteFileW((dir.File(L"history") + L"\\" + saved[0]).c_str());
    RemoveDirectoryW(dir.File(L"history").c_str());

    // Without a folder of its own the client writes to the log folder.
    const std::wstring savedLogPath = g_szLogPath;
    StrCopy(g_szLogPath, dir.Path().c_str());
    client->SetFileBase(L"");
    client->SaveSequence(L"ORVO_DoMakeCall", FALSE, nullptr);
    StrCopy(g_szLogPath, savedLogPath.c_str());
    EXPECT_TRUE(FileExists(dir.File(L"ORVO_DoMakeCall_SEQUENCE.TXT")));
}

// A real login and token refresh against the simulator: the exchange files
// show the requests and answers, but none of the credentials.
TEST(HttpExchangeFileTest, RealExchangesLeaveNoSecretInTheFiles) {
    PbxSim sim;
    ASSERT_TRUE(sim.Start()) << sim.Error();
    CTempDir dir(L"exchange");
    auto client = std::make_unique<CHTTPContactLog>(ClientAnswerSize);
    client->SetFileBase(dir.Path().c_str());
    const std::wstring password = L"Demo-Pass-2024";

    client->SetURLDirect((sim.ApiBaseUrl() + L"/login").c_str());
    client->SetSData((L"{\"username\":\"lena.muster\", \"password\":\"" + password + L"\"}").c_str());
    client->SetSHeader(L"Accept:*.*\r\nContent-Type: application/json\r\n\r\n");
    ASSERT_EQ(TRUE, client->IsSuccessful(client->RunQuery(L"POST", 3, 10000, TRUE, TRUE)));
    client->SaveSequence(L"Login", FALSE, nullptr);
    const std::wstring answer = client->m_pszAnswer;
    auto member = [&answer](const std::wstring& name) {
        const size_t nName = answer.find(L"\"" + name + L"\"");
        const size_t nStart = answer.find(L'"', answer.find(L':', nName)) + 1;
        return answer.substr(nStart, answer.find(L'"', nStart) - nStart);
    };
    const std::wstring accessToken = member(L"access-token"), refreshToken = member(L"refresh-token");
    ASSERT_GT(accessToken.size(), 20u);
    ASSERT_GT(refreshToken.size(), 20u);

    client->SetURLDirect((sim.ApiBaseUrl() + L"/login").c_str());
    client->SetSData(nullptr);
    client->SetSHeader(L"Accept:*.*\r\nContent-Type: application/json\r\nAuthorization: Bearer %s\r\n\r\n",
                       refreshToken.c_str());
    ASSERT_EQ(TRUE, client->IsSuccessful(client->RunQuery(L"PUT", 3, 10000, TRUE, TRUE)));
    client->SaveSequence(L"RefreshToken", FALSE, nullptr);
    const std::wstring newAccessToken = member(L"access-token");

    const std::string login = ReadFileBytes(dir.File(L"Login_SEQUENCE.TXT"));
    const std::string refresh = ReadFileBytes(dir.File(L"RefreshToken_SEQUENCE.TXT"));
    ASSERT_FALSE(login.empty());
    ASSERT_FALSE(refresh.empty());
    for (const std::wstring& secret : {password, accessToken, refreshToken, newAccessToken}) {
        EXPECT_EQ(std::string::npos, login.find(ToUtf8(secret))) << ToUtf8(secret);
        EXPECT_EQ(std::string::npos, refresh.find(ToUtf8(secret))) << ToUtf8(secret);
    }
    // What is not secret stays readable.
    EXPECT_NE(std::string::npos, login.find("\"username\":\"lena.muster\""));
    EXPECT_NE(std::string::npos, login.find("\"password\":\"" + std::string(password.size(), 'X') + "\""));
    EXPECT_NE(std::string::npos, refresh.find("Authorization: Bearer " + std::string(refreshToken.size(), 'X') + "\r\n"));
    EXPECT_NE(std::string::npos, refresh.find("VERB: PUT\r\nURL: http://127.0.0.1\r\nHTTP last error: 0 (SUCCESS)\r\n"));
}

}  // namespace
