#include "http/CHTTPContactBase.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "common/BoundedString.h"
#include "common/TextBoundary.h"
#include "http/AnswerDecoder.h"
#include "http/AsyncCall.h"
#include "http/ProxySettings.h"
#include "http/RequestStop.h"
#include "http/WinHttpErrorName.h"

DWORD g_bSaveSequence = 0;
wchar_t g_szAgent[256] = L"WinHttpClient/1.0";

namespace {

constexpr DWORD kReadChunkBytes = 8192;
constexpr DWORD kWholeAnswerReadBytes = 65536;

// Completions the client waits for, certificate failures for the debugger.
constexpr DWORD kNotifications = WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_SECURE_FAILURE;

constexpr DWORD IgnoredCertErrors = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE |
                                    SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                                    SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;

// The status code of a raw response header ("HTTP/1.1 200 OK..."), 0 when
// the first line is no status line.
int StatusCode(const wchar_t* pszHeader) {
    if (wcsncmp(pszHeader, L"HTTP", 4) != 0) return 0;
    const wchar_t* p = pszHeader + 4;
    while (*p != L'\0' && *p != L' ' && *p != L'\r' && *p != L'\n') ++p;
    while (*p == L' ') ++p;
    int nCode = 0;
    for (int i = 0; i < 3; ++i, ++p) {
        if (*p < L'0' || *p > L'9') return 0;
        nCode = nCode * 10 + (*p - L'0');
    }
    return (*p == L'\0' || *p == L' ' || *p == L'\r' || *p == L'\n') ? nCode : 0;
}

}  // namespace

CHTTPContactBase::CHTTPContactBase(DWORD dwAnswerSize)
    : m_nScheme(0), m_szURL{}, m_szHeader{},
      m_szData{}, m_szDataA{}, m_szResponseHeader{}, m_pszAnswer(nullptr), m_szHostName{}, m_szUrlPath{},
      m_szVerb{}, m_szFileBase{}, m_bIgnoreCertErrors(FALSE), m_dwAnswerSize(dwAnswerSize),
      m_dwFirstAnswerSize(dwAnswerSize), m_wPort(0),
      m_szLastError{}, m_dwLastError(0), m_wszProxy{}, m_wszProxyBypass{}, m_wRuntime(0),
      m_dwSecureProtocols(0), m_bStreaming(FALSE) {
    m_answer = AllocateZeroedHeap<wchar_t>(dwAnswerSize + 2);
    m_pszAnswer = m_answer.get();
    ResetVars();
    ClearLastError();
}

CHTTPContactBase::~CHTTPContactBase() { Close(); }

void CHTTPContactBase::ResetVars() {
    m_wPort = 0;
    m_nScheme = 0;
    m_dwSecureProtocols = 0;
    m_szURL[0] = m_szHeader[0] = m_szData[0] = m_szResponseHeader[0] = L'\0';
    m_szHostName[0] = m_szUrlPath[0] = m_szVerb[0] = L'\0';
    m_szDataA[0] = '\0';
    if (m_pszAnswer != nullptr) m_pszAnswer[0] = L'\0';
}

BOOL CHTTPContactBase::Init() {
    if (m_hSession) return TRUE;
    KeepWinHttpLoaded();
    const bool bProxy = m_wszProxy[0] != L'\0';
    m_hSession.reset(WinHttpOpen(g_szAgent, bProxy ? WINHTTP_ACCESS_TYPE_NAMED_PROXY : WINHTTP_ACCESS_TYPE_NO_PROXY,
                                 bProxy ? m_wszProxy : WINHTTP_NO_PROXY_NAME,
                                 bProxy ? m_wszProxyBypass : WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
    Trace(3, L"Func.CHTTPContactBase::Init.Var.m_hSession %p", m_hSession.get());
    return m_hSession ? TRUE : FALSE;
}

void CHTTPContactBase::Close() {
    CloseRequest();
    m_qwDeadline = 0;
    m_hConnect.reset();
    m_hSession.reset();
    ResetVars();
}

void CHTTPContactBase::CloseRequest() {
    if (!m_hRequest) return;
    // Nothing is pending: once out of the callback, the record is ours alone.
    WinHttpSetStatusCallback(m_hRequest.get(), nullptr, 0, 0);
    m_hRequest.reset();
    WaitForStatusCallbacksToLeave();
    m_pCall.reset();
}

void CHTTPContactBase::AbandonRequest(DWORD dwError, DWORD dwPending) {
    Trace(3, L"Func.CHTTPContactBase::AbandonRequest.Warning.%s %s %s",
          dwError == ERROR_WINHTTP_OPERATION_CANCELLED ? L"Stopped" : L"No answer in time", m_szVerb, m_szURL);
    // Unhooked first: WinHTTP may finish the pending operation much later, on
    // its own thread, when this library may be gone. It may still read the
    // body or fill the read buffer then: that buffer is left to it, wiped;
    // the rest of the record goes (http/AsyncCall.h).
    WinHttpSetStatusCallback(m_hRequest.get(), nullptr, 0, 0);
    m_hRequest.reset();
    WaitForStatusCallbacksToLeave();
    RetireAsyncCall(m_pCall.release(), dwPending);
    SetLastError(dwError);
    StoreLastError();
}

DWORD CHTTPContactBase::WaitLimitMs() const {
    DWORD dwLimit = m_dwIdleTimeoutMs;
    if (m_qwDeadline != 0) {
        const ULONGLONG qwNow = GetTickCount64();
        const ULONGLONG qwLeft = qwNow < m_qwDeadline ? m_qwDeadline - qwNow : 0;
        if (qwLeft < dwLimit) dwLimit = static_cast<DWORD>(qwLeft);
    }
    return dwLimit;
}

bool CHTTPContactBase::AwaitCompletion(DWORD dwExpected) {
    const DWORD dwLimit = WaitLimitMs();
    switch (WaitForAsyncCall(*m_pCall, dwLimit)) {
        case AsyncWaitEnd::Completed:
            if (m_pCall->dwStatus == dwExpected) return true;
            SetLastError(m_pCall->dwError != 0 ? m_pCall->dwError : ERROR_WINHTTP_INTERNAL_ERROR);
            StoreLastError();
            return false;
        case AsyncWaitEnd::Stopped:
            AbandonRequest(ERROR_WINHTTP_OPERATION_CANCELLED, dwExpected);
            return false;
        case AsyncWaitEnd::TimedOut:
            if (m_qwDeadline == 0 || GetTickCount64() < m_qwDeadline)
                Trace(3, L"Func.CHTTPContactBase::AwaitCompletion.Warning.Server silent for %u ms", dwLimit);
            AbandonRequest(ERROR_WINHTTP_TIMEOUT, dwExpected);
            return false;
    }
    return false;
}

BOOL CHTTPContactBase::Connect(const wchar_t* pszHost, WORD wPort) {
    if (!m_hSession) return FALSE;
    if (m_hConnect) return TRUE;
    wchar_t szHost[512];
    StrCopy(szHost, pszHost != nullptr ? pszHost : m_szHostName);
    ClearLastError();
    m_hConnect.reset(WinHttpConnect(m_hSession.get(), szHost, wPort != 0 ? wPort : m_wPort, 0));
    StoreLastError();
    Trace(3, L"Func.CHTTPContactBase::Connect.Var.m_hConnect %p %s", m_hConnect.get(), m_szLastError);
    return m_hConnect ? TRUE : FALSE;
}

void CHTTPContactBase::SetURLDirect(const wchar_t* pszURL) {
    StrCopy(m_szURL, pszURL, UrlUnits - 2);
    ClearLastError();
    wchar_t szOldHost[HostUnits];
    StrCopy(szOldHost, m_szHostName);
    const WORD wOldPort = m_wPort;
    m_wPort = SplitUrl(m_szURL, m_szHostName, m_szUrlPath);
    StoreLastError();
    // The connection is kept between requests to the same server only.
    if (m_wPort != wOldPort || wcscmp(szOldHost, m_szHostName) != 0) {
        CloseRequest();
        m_hConnect.reset();
    }
    // m_szURL only feeds traces and exchange files: they show scheme and host
    // without the port.
    if (wcslen(m_szURL) > 8) {
        if (wchar_t* pszColon = wcschr(m_szURL + 8, L':')) *pszColon = L'\0';
    }
}

WORD CHTTPContactBase::SplitUrl(const wchar_t* pszURL, wchar_t* pszHost, wchar_t* pszPath) {
    wchar_t szURL[1024], szHost[HostUnits] = {}, szPath[PathUnits] = {};
    StrCopy(szURL, pszURL);
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.lpszHostName = szHost;
    parts.dwHostNameLength = HostUnits;
    parts.lpszUrlPath = szPath;
    parts.dwUrlPathLength = PathUnits;
    const BOOL bCracked = WinHttpCrackUrl(szURL, 0, 0, &parts);
    BoundedCopy(pszHost, HostUnits, bCracked ? szHost : L"");
    BoundedCopy(pszPath, PathUnits, bCracked ? szPath : L"");
    if (!bCracked) return 0;
    m_nScheme = static_cast<DWORD>(parts.nScheme);
    return parts.nPort;
}

void CHTTPContactBase::SetSHeader(const wchar_t* pszFormat, ...) {
    wchar_t szWork[HeaderUnits];
    va_list args;
    va_start(args, pszFormat);
    size_t cch = BoundedFormatV(szWork, HeaderUnits - 1, pszFormat, args);
    va_end(args);
    m_szHeader[0] = L'\0';
    // The callers' formats end in an empty line; one line end of it is
    // dropped so that the host line follows the caller's last line.
    if (cch >= 4) {
        const bool bCrBeforeLf = szWork[cch - 2] == L'\r';
        if (szWork[cch - 1] == L'\n') {
            szWork[--cch] = L'\0';
            if (bCrBeforeLf) szWork[--cch] = L'\0';
        }
    }
    StrCopy(m_szHeader, szWork, HeaderUnits - 2);
    if (wcsstr(m_szHeader, L"host:") == nullptr) {
        wchar_t szHost[HostUnits];
        StrCopy(szHost, m_szHostName);
        if (wchar_t* pszColon = wcschr(szHost, L':')) *pszColon = L'\0';
        BoundedFormat(m_szHeader + wcslen(m_szHeader), HeaderUnits - 1 - wcslen(m_szHeader), L"\nhost: %s",
                      szHost);
    }
    if (m_szDataA[0] != '\0') {
        BoundedFormat(m_szHeader + wcslen(m_szHeader), HeaderUnits - 1 - wcslen(m_szHeader),
                      L"\r\ncontent-length: %d", static_cast<int>(strlen(m_szDataA)));
    }
    BoundedAppend(m_szHeader, HeaderUnits - 1, L"\n\n");
}

void CHTTPContactBase::SetSData(const wchar_t* pszData) {
    m_szData[0] = L'\0';
    m_szDataA[0] = '\0';
    if (pszData == nullptr || *pszData == L'\0') return;
    StrCopy(m_szData, pszData, DataUnits - 2);
    // JSON goes as UTF-8 (a lone surrogate becomes U+FFFD), cut between two characters.
    const int cb = WideCharToMultiByte(CP_UTF8, 0, m_szData, -1, nullptr, 0, nullptr, nullptr);
    if (cb <= 0) return;
    std::string sData(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_UTF8, 0, m_szData, -1, sData.data(), cb, nullptr, nullptr);
    const size_t cbCopy = Utf8CutLength(sData.data(), strlen(sData.c_str()), DataUnits - 2);
    memcpy(m_szDataA, sData.data(), cbCopy);
    m_szDataA[cbCopy] = '\0';
}

void CHTTPContactBase::SetTimeOut(DWORD dwMilliseconds) {
    if (!m_hSession) return;
    const int nTimeout = static_cast<int>(dwMilliseconds);
    WinHttpSetTimeouts(m_hSession.get(), nTimeout, nTimeout, nTimeout, nTimeout);
}

void CHTTPContactBase::CheckProxySettings(const wchar_t* pszURL) {
    const ProxySettings settings = LookUpProxySettings(pszURL);
    wchar_t szProxy[ProxyUnits], szBypass[ProxyUnits];
    StrCopy(szProxy, settings.sProxy.c_str(), ProxyUnits - 2);
    StrCopy(szBypass, settings.sBypass.c_str(), ProxyUnits - 2);
    const bool bChanged = wcscmp(szProxy, m_wszProxy) != 0 || wcscmp(szBypass, m_wszProxyBypass) != 0;
    StrCopy(m_wszProxy, szProxy);
    StrCopy(m_wszProxyBypass, szBypass);
    // A session takes its proxy when it is opened: one opened with other
    // settings goes, and the next query opens one with these.
    if (bChanged && m_hSession) {
        CloseRequest();
        m_hConnect.reset();
        m_hSession.reset();
    }
    Trace(3, L"Func.CHTTPContactBase::CheckProxySettings.Var.m_wszProxy %s", m_wszProxy);
}

BOOL CHTTPContactBase::RunQuery(const wchar_t* pszVerb, DWORD dwLoops, DWORD dwTimeout, BOOL bOpen,
                                BOOL bCloseRequest) {
    if (pszVerb == nullptr) return FALSE;
    Trace(5, L"Func.CHTTPContactBase::RunQuery.Begin %s %s", pszVerb, m_szURL);
    if (CallerHoldsForbiddenLock())
        Trace(0, L"Func.CHTTPContactBase::RunQuery.Error.Request inside the ProviderLock %s %s", pszVerb, m_szURL);
    m_szResponseHeader[0] = L'\0';
    m_wRuntime = 0;
    // A steady clock: a wall-clock difference jumps at month ends and time changes.
    const ULONGLONG qwStart = GetTickCount64();
    m_qwDeadline = dwTimeout != 0xFFFFFFFF ? qwStart + dwTimeout : 0;
    auto finish = [&](BOOL bResult) {
        m_qwDeadline = 0;
        m_wRuntime = static_cast<LONGLONG>(GetTickCount64() - qwStart);
        Trace(5, L"Func.CHTTPContactBase::RunQuery.End.Result %d %lld ms %s", bResult, m_wRuntime, m_szLastError);
        return bResult;
    };
    StrCopy(m_szVerb, pszVerb, VerbUnits - 2);

    if (bOpen) {
        ClearLastError();
        if (!Init()) {
            StoreLastError();
            return finish(FALSE);
        }
    }
    SetTimeOut(dwTimeout);
    if (m_dwSecureProtocols != 0) {
        DWORD dwProtocols = m_dwSecureProtocols;
        WinHttpSetOption(m_hSession.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &dwProtocols, sizeof(dwProtocols));
        StoreLastError();
        if (m_dwLastError != 0) Trace(3, L"Func.CHTTPContactBase::RunQuery.Error.WinHttpSetOption %s", m_szLastError);
    }
    if (bOpen) {
        ClearLastError();
        const BOOL bConnected = Connect(m_szHostName, m_wPort);
        StoreLastError();
        if (!bConnected) return finish(FALSE);
    }
    ClearLastError();
    return finish(StartQuery(pszVerb, m_szUrlPath, static_cast<int>(dwLoops), bCloseRequest));
}

void CHTTPContactBase::ApplySecurityFlags() {
    if (!m_bIgnoreCertErrors) return;
    DWORD dwFlags = IgnoredCertErrors;
    WinHttpSetOption(m_hRequest.get(), WINHTTP_OPTION_SECURITY_FLAGS, &dwFlags, sizeof(dwFlags));
}

BOOL CHTTPContactBase::StartQuery(const wchar_t* pszVerb, const wchar_t* pszSubPath, int nMaxLoop,
                                  BOOL bCloseRequest) {
    if (pszVerb == nullptr || m_pszAnswer == nullptr) return FALSE;
    m_pszAnswer[0] = L'\0';
    if (!m_hSession || !m_hConnect) return FALSE;
    StrCopy(m_szVerb, pszVerb, VerbUnits - 2);
    wchar_t szVerb[8], szPath[512];
    StrCopy(szVerb, pszVerb);
    StrCopy(szPath, pszSubPath);

    DWORD dwFlags = WINHTTP_FLAG_NULL_CODEPAGE;
    if (m_nScheme == INTERNET_SCHEME_HTTPS) dwFlags |= WINHTTP_FLAG_SECURE;
    if (!m_hRequest) {
        m_hRequest.reset(WinHttpOpenRequest(m_hConnect.get(), szVerb, szPath, nullptr, WINHTTP_NO_REFERER,
                                            WINHTTP_DEFAULT_ACCEPT_TYPES, dwFlags));
        StoreLastError();
        if (!m_hRequest) {
            Trace(3, L"Func.CHTTPContactBase::StartQuery.Error.WinHttpOpenRequest %s", m_szLastError);
            return FALSE;
        }
        m_pCall.reset(NewAsyncCall());
        if (!m_pCall) {
            m_pCall.reset();
            m_hRequest.reset();
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            StoreLastError();
            return FALSE;
        }
        WinHttpSetStatusCallback(m_hRequest.get(), HttpStatusCallback, kNotifications, 0);
    }
    // Authorisation travels in the callers' header text only; no WinHTTP credentials.
    ApplySecurityFlags();

    m_pCall->body.assign(m_szDataA);
    BOOL bResult = FALSE;
    // A request given up (stopped, out of time) ends the attempts.
    for (int nLoop = 1; nLoop <= nMaxLoop && !bResult && m_hRequest; ++nLoop) {
        const DWORD cbData = static_cast<DWORD>(m_pCall->body.size());
        LPVOID pData = cbData != 0 ? m_pCall->body.data() : WINHTTP_NO_REQUEST_DATA;
        ClearLastError();
        m_pCall->Arm();
        // The header goes whole, however long its token.
        BOOL bSent = WinHttpSendRequest(m_hRequest.get(),
                                        m_szHeader[0] != L'\0' ? m_szHeader : WINHTTP_NO_ADDITIONAL_HEADERS,
                                        m_szHeader[0] != L'\0' ? static_cast<DWORD>(-1) : 0, pData, cbData, cbData,
                                        reinterpret_cast<DWORD_PTR>(m_pCall.get()));
        if (!bSent) StoreLastError();
        if (bSent) bSent = AwaitCompletion(WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE);
        if (!bSent) {
            Trace(5, L"Func.CHTTPContactBase::StartQuery.Error.WinHttpSendRequest %d %s", m_dwLastError,
                  m_szLastError);
            continue;
        }
        m_pCall->Arm();
        BOOL bReceived = WinHttpReceiveResponse(m_hRequest.get(), nullptr);
        if (!bReceived) StoreLastError();
        if (bReceived) bReceived = AwaitCompletion(WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE);
        if (!bReceived && m_dwLastError != ERROR_WINHTTP_REDIRECT_FAILED) {
            Trace(5, L"Func.CHTTPContactBase::StartQuery.Error.WinHttpReceiveResponse %d %s", m_dwLastError,
                  m_szLastError);
            continue;
        }
        if (m_hRequest) bResult = ReadAnswer(m_hRequest.get());
    }
    if (bCloseRequest) CloseRequest();
    return bResult;
}

BOOL CHTTPContactBase::ReadHeader(HINTERNET hRequest, DWORD dwInfoLevel) {
    m_szResponseHeader[0] = L'\0';
    DWORD cbHeader = 4095;
    if (WinHttpQueryHeaders(hRequest, dwInfoLevel, WINHTTP_HEADER_NAME_BY_INDEX, m_szResponseHeader, &cbHeader,
                            WINHTTP_NO_HEADER_INDEX)) {
        return TRUE;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return FALSE;
    std::vector<wchar_t> header(cbHeader / sizeof(wchar_t) + 2, L'\0');
    DWORD cbBuffer = static_cast<DWORD>(header.size() * sizeof(wchar_t));
    if (!WinHttpQueryHeaders(hRequest, dwInfoLevel, WINHTTP_HEADER_NAME_BY_INDEX, header.data(), &cbBuffer,
                             WINHTTP_NO_HEADER_INDEX)) {
        return FALSE;
    }
    StrCopy(m_szResponseHeader, header.data());
    return TRUE;
}

BOOL CHTTPContactBase::ReadAnswer(HINTERNET hRequest) {
    if (!ReadHeader(hRequest, WINHTTP_QUERY_RAW_HEADERS_CRLF)) return FALSE;
    if (m_bStreaming) OnHeaderRead();
    // The length the server announced, when it did (a chunked or
    // close-delimited body has none).
    DWORD dwAnnounced = 0;
    DWORD cbAnnounced = sizeof(dwAnnounced);
    const bool bAnnounced = WinHttpQueryHeaders(hRequest, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                                                WINHTTP_HEADER_NAME_BY_INDEX, &dwAnnounced, &cbAnnounced,
                                                WINHTTP_NO_HEADER_INDEX) != FALSE;
    CAnswerDecoder decoder;
    size_t cchAnswer = 0;
    ULONGLONG cbReceived = 0;
    bool bWhole = true;   // nothing cut at the bound
    bool bEnded = false;  // the server ended the body
    // Until the server ends the answer, or the wait for more ends (stopped,
    // out of time, silent too long: the request is then given up and the
    // last error tells which), or WinHTTP reports an error (a reset).
    while (m_hRequest) {
        // A stream is read as it comes: what is there, in pieces of a bounded
        // size, so that a stop is looked at between them even while events
        // pour in. Any other answer is read in large pieces, each filled
        // before it completes: a directory of thousands of extensions would
        // otherwise take hundreds of completions, two thread hand-overs each.
        DWORD cbWanted = kWholeAnswerReadBytes;
        if (m_bStreaming) {
            m_pCall->Arm();
            if (!WinHttpQueryDataAvailable(hRequest, nullptr)) {
                StoreLastError();
                break;
            }
            if (!AwaitCompletion(WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE)) break;
            cbWanted = std::min<DWORD>(DWORD{m_pCall->dwValue}, kReadChunkBytes);
            if (cbWanted == 0) {
                bEnded = true;
                break;
            }
        }
        std::vector<BYTE>& chunk = m_pCall->buffer;
        chunk.assign(static_cast<size_t>(cbWanted) + 2, 0);
        m_pCall->Arm();
        if (!WinHttpReadData(hRequest, chunk.data(), cbWanted, nullptr)) {
            StoreLastError();
            break;
        }
        if (!AwaitCompletion(WINHTTP_CALLBACK_STATUS_READ_COMPLETE)) break;
        // Nothing more read: the answer has ended.
        if (m_pCall->dwValue == 0) {
            bEnded = true;
            break;
        }
        cbReceived += m_pCall->dwValue;
        bWhole = TakeAnswerText(decoder.Decode(chunk.data(), m_pCall->dwValue), cchAnswer) && bWhole;
    }
    bWhole = TakeAnswerText(decoder.Finish(), cchAnswer) && bWhole;
    if (m_bStreaming) return TRUE;
    if (bEnded && bAnnounced && cbReceived != dwAnnounced) {
        Trace(1, L"Func.CHTTPContactBase::ReadAnswer.Warning.Answer cut off: %llu of %lu bytes", cbReceived,
              dwAnnounced);
        bEnded = false;
    }
    if (bEnded && bWhole) return TRUE;
    // What came stays for the exchange file, but counts for nothing.
    if (m_dwLastError == 0) {
        SetLastError(ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
        StoreLastError();
    }
    Trace(3, L"Func.CHTTPContactBase::ReadAnswer.Warning.Answer incomplete %s %s: %s", m_szVerb, m_szURL,
          m_szLastError);
    return FALSE;
}

bool CHTTPContactBase::TakeAnswerText(const std::wstring& sText, size_t& cchAnswer) {
    if (sText.empty()) return true;
    // An answer is kept whole (a directory of thousands of extensions), up
    // to the sanity bound. A stream's text goes to OnData instead; its
    // buffer keeps only the start. The rest of a cut answer is still read,
    // so that the connection stays usable.
    if (!m_bStreaming && cchAnswer + sText.size() > AnswerCapacity()) GrowAnswer(cchAnswer + sText.size());
    const size_t cchTake = std::min(sText.size(), AnswerCapacity() - cchAnswer);
    const bool bCut = cchTake < sText.size();
    if (bCut && !m_bStreaming && cchAnswer < AnswerCapacity())
        Trace(1, L"Func.CHTTPContactBase::ReadAnswer.Warning.Answer cut at %u bytes, the bound", m_dwAnswerSize);
    wmemcpy(m_pszAnswer + cchAnswer, sText.data(), cchTake);
    cchAnswer += cchTake;
    m_pszAnswer[cchAnswer] = L'\0';
    if (m_bStreaming) OnData(sText.data(), sText.size());
    return !bCut || m_bStreaming;
}

bool CHTTPContactBase::GrowAnswer(size_t cchNeeded) {
    DWORD cbNew = m_dwAnswerSize;
    while (cbNew / 2 - 2 < cchNeeded && cbNew < MaxAnswerBytes) cbNew = std::min<DWORD>(cbNew * 2, MaxAnswerBytes);
    if (cbNew <= m_dwAnswerSize) return false;
    void* pGrown = HeapReAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, m_answer.get(), cbNew + 2);
    if (pGrown == nullptr) {
        Trace(1, L"Func.CHTTPContactBase::GrowAnswer.Warning.No memory for %u bytes", cbNew);
        return false;
    }
    // A successful reallocation has given the old block back already.
    (void)m_answer.release();
    m_answer.reset(static_cast<wchar_t*>(pGrown));
    m_pszAnswer = m_answer.get();
    m_dwAnswerSize = cbNew;
    return true;
}

void CHTTPContactBase::ReleaseAnswer() {
    if (m_dwAnswerSize > m_dwFirstAnswerSize) {
        UniqueHeapMemory<wchar_t> first = AllocateZeroedHeap<wchar_t>(m_dwFirstAnswerSize + 2);
        if (first) {
            m_answer = std::move(first);
            m_pszAnswer = m_answer.get();
            m_dwAnswerSize = m_dwFirstAnswerSize;
        }
    }
    if (m_pszAnswer != nullptr) m_pszAnswer[0] = L'\0';
}

BOOL CHTTPContactBase::IsSuccessful(BOOL _bResult) const {
    // Judged by the status line alone: texts such as " 200" also occur in
    // other header lines (a content length, the year in a date).
    const int nStatus = LastStatusCode();
    return (nStatus == 200 || nStatus == 202) ? _bResult : FALSE;
}

int CHTTPContactBase::LastStatusCode() const { return StatusCode(m_szResponseHeader); }

void CHTTPContactBase::SetFileBase(const wchar_t* pszFolder) {
    StrCopy(m_szFileBase, pszFolder, FileBaseUnits - 2);
}

void CHTTPContactBase::StoreLastError() {
    m_dwLastError = GetLastError();
    StrCopy(m_szLastError, WinHttpErrorName(m_dwLastError).c_str(), LastErrorUnits - 2);
}

void CHTTPContactBase::ClearLastError() {
    m_dwLastError = 0;
    m_szLastError[0] = L'\0';
    SetLastError(0);
}

void CHTTPContactBase::Trace(DWORD dwLevel, const wchar_t* pszFormat, ...) {
    wchar_t szText[4096];
    va_list args;
    va_start(args, pszFormat);
    BoundedFormatV(szText, 4095, pszFormat, args);
    va_end(args);
    for (wchar_t* p = szText; *p != L'\0'; ++p) {
        if (*p == L'\r' || *p == L'\n') *p = L' ';
    }
    OnTrace(dwLevel, szText);
}

void DebugOut(int nLevel, const wchar_t* pszFormat, ...) {
    if (nLevel >= 1) return;
    wchar_t szLine[8192];
    const size_t cchPrefix = StrCopy(szLine, L"ORVOAPI TSP: ");
    va_list args;
    va_start(args, pszFormat);
    size_t cch = cchPrefix + BoundedFormatV(szLine + cchPrefix, 8191 - cchPrefix, pszFormat, args);
    va_end(args);
    if (cch >= 2 && szLine[cch - 2] == L'\r' && szLine[cch - 1] == L'\n') szLine[cch -= 2] = L'\0';
    BoundedAppend(szLine, 8192, L"\n");
    OutputDebugStringW(szLine);
}

void CALLBACK HttpStatusCallback(HINTERNET hInternet, DWORD_PTR dwContext, DWORD _dwInternetStatus,
                                 LPVOID _lpvStatusInformation, DWORD dwStatusInformationLength) {
    EnterStatusCallback();
    if (_dwInternetStatus == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE) {
        const DWORD dwFlags =
            _lpvStatusInformation != nullptr ? *static_cast<const DWORD*>(_lpvStatusInformation) : 0;
        DebugOut(-2, L"WINHTTP_CALLBACK_STATUS_SECURE_FAILURE");
        DebugOut(-2, L" _dwInternetStatus 0x%08X", _dwInternetStatus);
        DebugOut(-2, L" _lpvStatusInformation 0x%08X", dwFlags);
    }
    // The request's completion record rides along as its context; one its
    // client has let go of is not touched.
    if (CAsyncCall* pCall = AcquireAsyncCall(dwContext)) {
        pCall->Note(_dwInternetStatus, _lpvStatusInformation, dwStatusInformationLength);
        ReleaseAsyncCall(pCall);
    }
    LeaveStatusCallback();
}
