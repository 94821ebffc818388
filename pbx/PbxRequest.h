// One request to the PBX, made the same way by every PBX operation: the
// client set up, the URL under the base URL, the header with the bearer
// token, the query run (it gives up when the provider or the calling thread
// is asked to stop, http/RequestStop.h), the answer judged, the exchange
// saved, and a refused token noted. The operations say only what differs:
// verb, path, body, which token, attempts and time limit. Bodies go as UTF-8
// and say so; an answer counts only when it arrived whole and parses as JSON,
// so that a cut-off answer changes nothing.
//
// No lock is taken here: the callers hold the lock their client needs (the
// session lock for g_SessionClient, the command lock for g_CommandClient,
// both through CRequestLockGuard), and never the ProviderLock.
#pragma once

#include <windows.h>

#include <string>

class CHTTPContactBase;

// How much of the client is set up before the request.
enum class PbxClientSetUp {
    // The proxy looked up (before the session opens: WinHTTP takes it then),
    // the session opened, TLS 1.1/1.2 and the certificate checks as
    // "IgnoreCertErrors" says.
    Full,
    // The proxy looked up; the session as the last login set it up.
    ProxyOnly,
    // The session as the last login set it up.
    AsLoggedIn,
};

// The token of the Authorization line.
enum class PbxCredential { None, AccessToken, RefreshToken };

// Attempts and time limit of the session requests (login, refresh, directory)
// and of the call commands.
constexpr DWORD kSessionAttempts = 3;
constexpr DWORD kSessionTimeoutMs = 10000;
constexpr DWORD kCommandAttempts = 1;
constexpr DWORD kCommandTimeoutMs = 5000;
// A query without a time limit (the event stream, held open for its life).
constexpr DWORD kNoTimeLimit = 0xFFFFFFFF;

struct PbxRequest {
    // The traced name of the operation, e.g. "ORVO_DoDrop".
    const wchar_t* pszOperation;
    const wchar_t* pszVerb;
    // Appended to the base URL.
    std::wstring sPath;
    // Empty: no body.
    std::wstring sBody;
    PbxCredential credential;
    DWORD dwAttempts;
    // Bounds all attempts together; kNoTimeLimit for none.
    DWORD dwTimeoutMs;
    // The exchange file's label, when exchanges are saved.
    const wchar_t* pszExchangeLabel;
    PbxClientSetUp setUp = PbxClientSetUp::Full;
    const wchar_t* pszAcceptLine = L"Accept:*.*";
    // Header lines that go before the Authorization line, each ending in CRLF.
    std::wstring sExtraHeaderLines;
    // A success status with an "error" member in the answer is a refusal.
    bool bErrorMemberFails = false;
    // A success answer counts only when it is one whole JSON text; with this
    // set an empty one counts too (commands are judged by their status).
    bool bEmptyAnswerCounts = false;
    // A token refused with 401 makes the next token check renew it, however
    // long it should still be valid.
    bool bRefusalForgetsToken = false;
};

// Runs the request on the client: 1 when the PBX answered with success, the
// answer whole and JSON (and, where asked, without an error member), else 0.
// The answer stays in the client for the caller to read. The exchange file
// is written after the caller's request lock is released (pbx/RequestLock.h).
int RunPbxRequest(CHTTPContactBase& client, const PbxRequest& request);
