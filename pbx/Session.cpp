#include "pbx/Session.h"

#include <ctime>
#include <string>
#include <vector>

#include "common/SecretWipe.h"
#include "common/TimerScale.h"
#include "config/Settings.h"
#include "http/CHTTPContactLog.h"
#include "json/CJsonParserBase.h"
#include "json/JsonEscape.h"
#include "log/Trace.h"
#include "pbx/Base64.h"
#include "pbx/PbxRequest.h"

namespace {
constexpr int kTokenMarginSeconds = 20;
// A login answered with one of these was refused: the credentials are wrong.
constexpr int kUnauthorized = 401;
constexpr int kForbidden = 403;
// A login or token request that gets no answer in kSessionTimeoutMs is given
// up: the telephony service, which waits for the enumeration, is never held
// longer. Shortened for tests, the wait stays far beyond an answer.
constexpr DWORD kMinSessionAnswerWaitMs = 2000;
DWORD SessionAnswerWaitMs() { return ScaledMs(kSessionTimeoutMs, kMinSessionAnswerWaitMs); }
// A token goes into the Authorization line of every request, whose header
// buffer must also hold the other lines; a longer token could only be sent
// cut off, so it fails the login instead.
constexpr size_t kMaxTokenChars = CHTTPContactBase::HeaderUnits - 512;

std::vector<std::wstring> SplitAtDots(const std::wstring& token) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    while (start < token.size()) {
        size_t dot = token.find(L'.', start);
        if (dot == std::wstring::npos) dot = token.size();
        parts.push_back(token.substr(start, dot - start));
        start = dot + 1;
    }
    // "a..b" has an empty middle part; only a trailing dot adds none.
    return parts;
}
}  // namespace

int Login() {
    CSessionGuard session(SessionMutex());
    CFuncTrace trace(2, L"Login");
    // No usable base URL: the credentials go nowhere.
    if (g_sBaseURL.empty()) return trace.End(0);
    if (LoginHeldBack()) {
        trace.Warning(L"The PBX refused these credentials: no login until they are set again");
        return trace.End(0);
    }
    // The body holds the password: built in one buffer, wiped once sent.
    std::wstring password = JsonEscape(g_sPassword);
    std::wstring body = L"{\"username\":\"" + JsonEscape(g_sUserName) + L"\", \"password\":\"";
    body.reserve(body.size() + password.size() + 2);
    body += password;
    body += L"\"}";
    WipeSecret(password);
    PbxRequest request{L"Login", L"POST", L"/login", std::move(body), PbxCredential::None, kSessionAttempts,
                       SessionAnswerWaitMs(), L"Login"};
    int nResult = RunPbxRequest(g_SessionClient, request);
    WipeSecret(request.sBody);
    const int nStatus = g_SessionClient.LastStatusCode();
    if (nResult == 0 && (nStatus == kUnauthorized || nStatus == kForbidden)) {
        // Trying the same again would only bring the account nearer its lock-out.
        trace.Warning(L"Credentials refused (%d)", nStatus);
        NoteCredentialsRefused();
    }
    if (nResult != 0) nResult = ReadTokens();
    if (nResult != 0) NoteCredentialsAccepted();
    trace.End(nResult);
    return nResult;
}

int RefreshToken() {
    CSessionGuard session(SessionMutex());
    CFuncTrace trace(2, L"RefreshToken");
    if (g_sBaseURL.empty()) return trace.End(0);
    PbxRequest request{L"RefreshToken", L"PUT", L"/login", L"", PbxCredential::RefreshToken, kSessionAttempts,
                       SessionAnswerWaitMs(), L"RefreshToken"};
    request.setUp = PbxClientSetUp::ProxyOnly;
    int nResult = RunPbxRequest(g_SessionClient, request);
    if (nResult != 0) nResult = ReadTokens();
    trace.End(nResult);
    return nResult;
}

int ORVO_CheckAccessToken() {
    CSessionGuard session(SessionMutex());
    const LONG now = static_cast<LONG>(time(nullptr));
    const LONG secondsLeft = static_cast<LONG>(static_cast<DWORD>(g_nTokenExpiry) - static_cast<DWORD>(now));
    if (secondsLeft >= kTokenMarginSeconds) return 1;
    int nResult = RefreshToken();
    // Refused rather than unanswered: the refresh token is no good any more
    // (expired, revoked, never had), and only a fresh login gets new tokens.
    const int nStatus = g_SessionClient.LastStatusCode();
    if (nResult == 0 && nStatus >= 400 && nStatus < 500) {
        Trace(2, L"Func.ORVO_CheckAccessToken.Warning.Refresh refused (%d), logging in again", nStatus);
        nResult = Login();
    }
    return nResult;
}

int ReadTokens() {
    CSessionGuard session(SessionMutex());
    CJsonParserBase answer;
    if (g_SessionClient.m_pszAnswer == nullptr || !answer.Parse(g_SessionClient.m_pszAnswer)) return 0;
    // Read whole: a token cut to the length of an ordinary member would be useless.
    // Into the same buffers, the old tokens wiped; the copies read go wiped too.
    std::wstring access = answer.GetString(L"access-token", kMaxTokenChars + 1);
    std::wstring refresh = answer.GetString(L"refresh-token", kMaxTokenChars + 1);
    AssignSecret(g_sAccessToken, access.c_str());
    AssignSecret(g_sRefreshToken, refresh.c_str());
    WipeSecret(access);
    WipeSecret(refresh);
    if (g_sAccessToken.size() > kMaxTokenChars || g_sRefreshToken.size() > kMaxTokenChars) {
        Trace(2, L"Func.ReadTokens.Warning.Token longer than %u characters", static_cast<DWORD>(kMaxTokenChars));
        return 0;
    }
    return ReadTokenClaims();
}

int ReadTokenClaims() {
    CSessionGuard session(SessionMutex());
    const std::vector<std::wstring> parts = SplitAtDots(g_sAccessToken);
    if (parts.size() != 3) return 0;
    std::wstring payload = parts[1];
    while (payload.size() % 4 != 0) payload += L'=';
    std::string bytes;
    if (!Base64Decode(payload.c_str(), payload.size(), bytes) || bytes.empty()) return 0;

    // The claims as narrow text, whatever their length (the token's is
    // bounded), without whatever follows the closing brace.
    std::wstring claims;
    for (size_t i = 0; i < bytes.size() && bytes[i] != '\0'; ++i)
        claims += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]));
    while (!claims.empty() && claims.back() != L'}') claims.pop_back();

    CJsonParserBase parser;
    if (!parser.Parse(claims.c_str())) return 0;
    g_sCustomer = parser.GetString(L"customer");
    g_nTokenExpiry = parser.GetInt(L"exp");
    return static_cast<int>(g_sCustomer.size());
}

