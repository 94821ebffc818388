// A WinHTTP client: one request at a time against one URL, with the raw
// response header and the answer text kept in buffers of its own so that the
// PBX operations and the exchange files can read them afterwards. A request
// is: SetURLDirect, SetSData (or SetSData(nullptr) for no body), SetSHeader,
// RunQuery, IsSuccessful. RunQuery blocks its caller until the answer has been
// read, but WinHTTP runs asynchronously underneath (http/AsyncCall.h): every
// wait also ends when the provider or the calling thread is asked to stop
// (http/RequestStop.h), when the query's time limit has passed, and, while a
// streamed answer is read, when the server has been silent for too long.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <memory>
#include <string>

#include "common/UniqueHeapMemory.h"
#include "http/AsyncCall.h"
#include "http/UniqueInternetHandle.h"

struct ExchangeRecord;

// Exchange files on or off; set at start-up from the settings.
extern DWORD g_bSaveSequence;
// User agent of every session; start-up fills in version and user name.
extern wchar_t g_szAgent[256];

class CHTTPContactBase {
public:
    // Buffer sizes in UTF-16 units (m_szDataA in bytes). The request header
    // holds a bearer token far longer than any PBX issues (tokens of 16 KiB
    // and more) besides its other lines, and goes out whole.
    static constexpr size_t UrlUnits = 512;
    static constexpr size_t HeaderUnits = 20480;
    static constexpr size_t DataUnits = 65536;
    static constexpr size_t HostUnits = 1024;
    static constexpr size_t PathUnits = 1024;
    static constexpr size_t VerbUnits = 16;
    static constexpr size_t FileBaseUnits = 260;
    static constexpr size_t LastErrorUnits = 256;
    static constexpr size_t ProxyUnits = 2048;
    // An answer is kept whole up to this many bytes of text; past it, what
    // comes is read and dropped, that is logged, and the query fails (a
    // streamed answer's buffer keeps only its start, and that is no failure).
    static constexpr DWORD MaxAnswerBytes = 64u << 20;

    explicit CHTTPContactBase(DWORD dwAnswerSize);
    virtual ~CHTTPContactBase();
    CHTTPContactBase(const CHTTPContactBase&) = delete;
    CHTTPContactBase& operator=(const CHTTPContactBase&) = delete;

    // Kept so that the operation table stays in its documented order.
    virtual void Reserved() {}
    // Receives every trace line of the client; the base class keeps quiet.
    virtual void OnTrace(DWORD dwLevel, const wchar_t* pszText) {}
    // Receives the text of every answer chunk of a streaming client, cch
    // units (a NUL among them is text like any other).
    virtual void OnData(const wchar_t* pchText, size_t cch) {}
    // A streaming answer's header has been read; its body follows.
    virtual void OnHeaderRead() {}

    void ResetVars();
    BOOL Init();
    void Close();
    void CloseRequest();
    BOOL Connect(const wchar_t* pszHost, WORD wPort);
    void SetURLDirect(const wchar_t* pszURL);
    // pszHost and pszPath take HostUnits and PathUnits; returns the port.
    WORD SplitUrl(const wchar_t* pszURL, wchar_t* pszHost, wchar_t* pszPath);
    // Must follow SetSData: the content-length line is taken from the body.
    void SetSHeader(const wchar_t* pszFormat, ...);
    // Null or empty: no body.
    void SetSData(const wchar_t* pszData);
    void SetTimeOut(DWORD dwMilliseconds);
    void CheckProxySettings(const wchar_t* pszURL);
    // dwTimeout bounds the whole query, all its attempts together (0xFFFFFFFF:
    // no bound). A query that runs out of time or is stopped gives up its
    // request, makes no further attempt and fails with ERROR_WINHTTP_TIMEOUT or
    // ERROR_WINHTTP_OPERATION_CANCELLED. An attempt whose answer did not
    // arrive whole fails too (see ReadAnswer), and the next attempt follows.
    BOOL RunQuery(const wchar_t* pszVerb, DWORD dwLoops, DWORD dwTimeout, BOOL bOpen, BOOL bCloseRequest);
    BOOL StartQuery(const wchar_t* pszVerb, const wchar_t* pszSubPath, int nMaxLoop, BOOL bCloseRequest);
    BOOL ReadHeader(HINTERNET hRequest, DWORD dwInfoLevel);
    // Reads the body into m_pszAnswer (a streaming client also hands it to
    // OnData). TRUE only when it arrived whole: the server ended it, with as
    // many bytes as its Content-Length says, or with the last chunk of a
    // chunked body, within MaxAnswerBytes. A stop, the time limit, a reset or
    // a close in the middle fail it (ERROR_WINHTTP_INVALID_SERVER_RESPONSE
    // when WinHTTP saw no error). A streaming client's answer is TRUE once
    // its header was read: its events went on as they came.
    BOOL ReadAnswer(HINTERNET hRequest);
    // Empties m_pszAnswer and gives back what it grew by beyond its first
    // size: a large answer (the directory) is not kept once it was read.
    void ReleaseAnswer();
    // _bResult when the answer's status is 200 or 202, else 0.
    BOOL IsSuccessful(BOOL _bResult) const;
    // The status code of the last answer's status line; 0 when none came.
    int LastStatusCode() const;
    void SetFileBase(const wchar_t* pszFolder);
    void StoreLastError();
    void ClearLastError();
    void Trace(DWORD dwLevel, const wchar_t* pszFormat, ...);

    // Writes the last exchange to <folder>\<label>[_time]_SEQUENCE.TXT with
    // the credentials masked. A null label writes nothing.
    void SaveSequence(const wchar_t* pszFileBase, BOOL bCounter, const wchar_t* pszSubFolder);
    // A copy of the last exchange for its file (http/ExchangeRecord.h).
    ExchangeRecord CaptureExchange(const wchar_t* pszLabel) const;

    UniqueInternetHandle m_hSession;
    UniqueInternetHandle m_hConnect;
    UniqueInternetHandle m_hRequest;
    DWORD m_nScheme;
    wchar_t m_szURL[UrlUnits];
    wchar_t m_szHeader[HeaderUnits];
    wchar_t m_szData[DataUnits];
    char m_szDataA[DataUnits];   // m_szData in UTF-8, as it is sent
    wchar_t m_szResponseHeader[HeaderUnits];
    wchar_t* m_pszAnswer;  // the text in m_answer, which owns it
    wchar_t m_szHostName[HostUnits];
    wchar_t m_szUrlPath[PathUnits];
    wchar_t m_szVerb[VerbUnits];
    wchar_t m_szFileBase[FileBaseUnits];
    BOOL m_bIgnoreCertErrors;
    DWORD m_dwAnswerSize;
    DWORD m_dwFirstAnswerSize;  // the size it was made with
    WORD m_wPort;
    wchar_t m_szLastError[LastErrorUnits];
    DWORD m_dwLastError;
    wchar_t m_wszProxy[ProxyUnits];
    wchar_t m_wszProxyBypass[ProxyUnits];
    LONGLONG m_wRuntime;
    DWORD m_dwSecureProtocols;
    BOOL m_bStreaming;
    // The longest the server may stay silent while a query waits for it, in
    // milliseconds (INFINITE: no limit besides the query's own). The event
    // stream sets it: a connection that died without a word is noticed.
    DWORD m_dwIdleTimeoutMs = INFINITE;

private:
    // Characters m_pszAnswer can hold besides its terminator.
    size_t AnswerCapacity() const { return m_dwAnswerSize >= 4 ? m_dwAnswerSize / 2 - 2 : 0; }
    // Widens m_pszAnswer (what it holds stays) so that it holds cchNeeded
    // characters, or as many as the sanity bound allows; false when it could
    // not grow at all.
    bool GrowAnswer(size_t cchNeeded);
    // Appends a piece of the answer's text to m_pszAnswer (and OnData);
    // false when it had to be cut at the bound.
    bool TakeAnswerText(const std::wstring& sText, size_t& cchAnswer);
    void ApplySecurityFlags();
    // How long the next wait may take: the idle limit, and no longer than
    // the query's deadline allows.
    DWORD WaitLimitMs() const;
    // Waits for the operation just started; true when it completed with
    // dwExpected. A WinHTTP error is stored as the last error; a stop or the
    // time limit gives the request up.
    bool AwaitCompletion(DWORD dwExpected);
    // Gives up the open request while the operation that completes with
    // dwPending may still be pending.
    void AbandonRequest(DWORD dwError, DWORD dwPending);

    UniqueHeapMemory<wchar_t> m_answer;      // m_dwAnswerSize + 2 bytes
    UniqueAsyncCall m_pCall;                 // completion record of m_hRequest
    ULONGLONG m_qwDeadline = 0;     // tick count at which the running query gives up; 0: none
};

// One section of an exchange file: the text's lines without blank lines and
// CRs, each ended by a line feed, masked in one pass (http/MaskSecrets.h).
std::wstring MaskedExchangeText(const wchar_t* pszText);
// Writes the exchange to <folder>\<label>[_time]_SEQUENCE.TXT with the
// credentials masked.
void WriteExchangeFile(const ExchangeRecord& record, BOOL bCounter, const wchar_t* pszSubFolder);

// Sends "ORVOAPI TSP: <text>" to the debugger for levels below 1.
void DebugOut(int nLevel, const wchar_t* pszFormat, ...);
// Reports certificate failures of a request to the debugger.
void CALLBACK HttpStatusCallback(HINTERNET hInternet, DWORD_PTR dwContext, DWORD _dwInternetStatus,
                                 LPVOID _lpvStatusInformation, DWORD dwStatusInformationLength);
