#include "pbx/PbxRequest.h"

#include <cwchar>

#include "config/Settings.h"
#include "http/CHTTPContactBase.h"
#include "http/ExchangeDeferral.h"
#include "http/ExchangeRecord.h"
#include "json/CJsonParserBase.h"
#include "log/Trace.h"
#include "pbx/SessionState.h"

namespace {
constexpr DWORD kSecureProtocols = 0xA00;  // TLS 1.1 and TLS 1.2
constexpr int kTokenRefusedStatus = 401;

void SetUpClient(CHTTPContactBase& client, PbxClientSetUp setUp) {
    if (setUp == PbxClientSetUp::AsLoggedIn) return;
    // The proxy before the session: WinHTTP takes it when the session opens.
    client.CheckProxySettings(g_sBaseURL.c_str());
    if (setUp == PbxClientSetUp::ProxyOnly) return;
    client.Init();
    client.m_dwSecureProtocols = kSecureProtocols;
    client.m_bIgnoreCertErrors = g_bIgnoreCertErrors ? TRUE : FALSE;
}

std::wstring TokenOf(PbxCredential credential) {
    switch (credential) {
        case PbxCredential::AccessToken:
            return CurrentAccessToken();
        case PbxCredential::RefreshToken:
            return CurrentRefreshToken();
        case PbxCredential::None:
            break;
    }
    return std::wstring();
}

std::wstring HeaderOf(const PbxRequest& request) {
    std::wstring header = request.pszAcceptLine;
    header += L"\r\nContent-Type: application/json; charset=utf-8\r\n";
    header += request.sExtraHeaderLines;
    if (request.credential != PbxCredential::None)
        header += L"Authorization: Bearer " + TokenOf(request.credential) + L"\r\n";
    return header + L"\r\n";
}

bool AnswerIsJson(const CHTTPContactBase& client, const PbxRequest& request) {
    const wchar_t* pszAnswer = client.m_pszAnswer != nullptr ? client.m_pszAnswer : L"";
    const wchar_t* p = pszAnswer;
    if (!CJsonParserBase::SkipWhitespace(p)) return request.bEmptyAnswerCounts;
    return CJsonParserBase::IsJsonText(pszAnswer) == TRUE;
}

// A stream given up because its thread is asked to stop or reconnect is not
// written out: masking a full answer buffer takes seconds, which a stop must
// not wait for.
bool ExchangeWorthSaving(const CHTTPContactBase& client) {
    return !(client.m_bStreaming && client.m_dwLastError == ERROR_WINHTTP_OPERATION_CANCELLED);
}
}  // namespace

int RunPbxRequest(CHTTPContactBase& client, const PbxRequest& request) {
    SetUpClient(client, request.setUp);
    const std::wstring url = g_sBaseURL + request.sPath;
    client.SetURLDirect(url.c_str());
    client.SetSData(request.sBody.c_str());
    // Passed as an argument, so that nothing of a token is read as a format.
    client.SetSHeader(L"%s", HeaderOf(request).c_str());
    const BOOL bAnswered = client.RunQuery(request.pszVerb, request.dwAttempts, request.dwTimeoutMs, TRUE, TRUE);
    int nResult = client.IsSuccessful(bAnswered);
    if (nResult != 0 && !client.m_bStreaming && !AnswerIsJson(client, request)) {
        Trace(2, L"Func.%s.Warning.Answer is no JSON text, not taken", request.pszOperation);
        nResult = 0;
    }
    if (request.bErrorMemberFails && client.m_pszAnswer != nullptr &&
        wcsstr(client.m_pszAnswer, L"\"error\":") != nullptr)
        nResult = 0;
    if (g_bSaveSequence && ExchangeWorthSaving(client) && request.pszExchangeLabel != nullptr)
        WriteOrDeferExchange(client.CaptureExchange(request.pszExchangeLabel));
    if (request.bRefusalForgetsToken && client.LastStatusCode() == kTokenRefusedStatus) {
        Trace(2, L"Func.%s.Warning.Token refused", request.pszOperation);
        ForgetAccessToken();
    }
    return nResult;
}
