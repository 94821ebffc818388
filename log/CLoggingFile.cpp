#include "log/CLoggingFile.h"

#include "common/BoundedString.h"
#include "log/ProtectedFiles.h"

DWORD g_dwLastLogThreadId = 0;

namespace {
constexpr size_t kMessageUnits = 8191;
constexpr size_t kUtf8Bytes = 8191;
// Names tried after a taken one before the line is given up.
constexpr int kMaxSkippedNames = 9;

// Number of UTF-16 units of pszText whose UTF-8 form fits into cbMax bytes,
// never splitting a surrogate pair. Long lines are cut rather than dropped.
int Utf8FittingLength(const wchar_t* pszText, size_t cbMax) {
    size_t cb = 0;
    int i = 0;
    while (pszText[i] != L'\0') {
        wchar_t ch = pszText[i];
        bool bPair = ch >= 0xD800 && ch <= 0xDBFF && pszText[i + 1] >= 0xDC00 && pszText[i + 1] <= 0xDFFF;
        size_t cbChar = bPair ? 4 : ch < 0x80 ? 1 : ch < 0x800 ? 2 : 3;
        if (cb + cbChar > cbMax) break;
        cb += cbChar;
        i += bPair ? 2 : 1;
    }
    return i;
}
}  // namespace

CLoggingFile::CLoggingFile()
    : m_szFileName{},
      m_szFileNamePattern{},
      m_dwDebugLevel(0),
      m_dwMaxFiles(10),
      m_nMaxLogFileSize(kDefaultMaxLogFileSize),
      m_dwProcessId(GetCurrentProcessId()),
      m_dwLogFileNr(0) {
    InitializeCriticalSection(&m_cs);
}

CLoggingFile::~CLoggingFile() {
    CloseCurrentFile();
    DeleteCriticalSection(&m_cs);
}

void CLoggingFile::SetFileNamePattern(const wchar_t* pszPattern) {
    BoundedCopy(m_szFileNamePattern, 512, pszPattern, 511);
}

void CLoggingFile::StartNewFile() {
    // An open file could not be renamed by the shift.
    EnterCriticalSection(&m_cs);
    CloseCurrentFile();
    OnRotate();
    LeaveCriticalSection(&m_cs);
}

void CLoggingFile::NextFileNumber() {
    m_dwLogFileNr = (m_dwLogFileNr + 1) % m_dwMaxFiles;
}

int CLoggingFile::Write(DWORD dwLevel, const wchar_t* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    int nResult = WriteV(dwLevel, pszFormat, args);
    va_end(args);
    return nResult;
}

int CLoggingFile::WriteV(DWORD dwLevel, const wchar_t* pszFormat, va_list args) {
    if (dwLevel > m_dwDebugLevel) return 0;

    EnterCriticalSection(&m_cs);
    int nResult = 0;
    if (m_hFile) {
        LARGE_INTEGER size{};
        LARGE_INTEGER zero{};
        SetFilePointerEx(m_hFile.get(), zero, &size, FILE_END);
        if (size.QuadPart > m_nMaxLogFileSize) {
            CloseCurrentFile();
            nResult = 1;
            NextFileNumber();
            OnRotate();
            BuildFileName();
            // A link or another account's file planted there stays; the
            // log then goes on under the next free name.
            RemoveProtectedFile(m_szFileName);
            OpenCurrentFile(CREATE_NEW);
        }
    } else {
        BuildFileName();
        OpenCurrentFile(OPEN_ALWAYS);
        if (m_hFile) SetFilePointer(m_hFile.get(), 0, nullptr, FILE_END);
    }

    if (m_hFile) {
        SYSTEMTIME now;
        GetSystemTime(&now);
        DWORD dwThreadId = GetCurrentThreadId();
        if (dwThreadId != g_dwLastLogThreadId) {
            WriteText(L"\r\n");
            g_dwLastLogThreadId = dwThreadId;
        }
        wchar_t szHeader[64];
        StrFormat(szHeader, L"%04d-%02d-%02d %02d:%02d:%02d.%03d (%5d:%5d) - ", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, static_cast<int>(m_dwProcessId),
                  static_cast<int>(dwThreadId));
        WriteText(szHeader);

        // Static: Write allocates nothing, and m_cs makes the buffer ours.
        static wchar_t szMessage[kMessageUnits];
        size_t cch = BoundedFormatV(szMessage, kMessageUnits, pszFormat, args);
        if (cch > 1 && szMessage[cch - 2] == L'\r' && szMessage[cch - 1] == L'\n') szMessage[cch - 2] = L'\0';
        // The line end goes separately, so that a message cut to fit the
        // UTF-8 buffer still ends its line.
        WriteText(szMessage);
        WriteText(L"\r\n");
    }
    LeaveCriticalSection(&m_cs);
    return nResult;
}

// The pattern is taken as text: only its last "%03d" stands for the number,
// so a "%" in the folder or in the executable's name is just a character.
void CLoggingFile::BuildFileName() {
    const wchar_t* pszNumber = nullptr;
    for (const wchar_t* p = wcsstr(m_szFileNamePattern, L"%03d"); p != nullptr; p = wcsstr(p + 1, L"%03d"))
        pszNumber = p;
    if (pszNumber == nullptr) {
        StrCopy(m_szFileName, m_szFileNamePattern);
        return;
    }
    wchar_t szNumber[16];
    StrFormat(szNumber, L"%03u", m_dwLogFileNr);
    StrCopy(m_szFileName, m_szFileNamePattern, static_cast<size_t>(pszNumber - m_szFileNamePattern));
    StrAppend(m_szFileName, szNumber);
    StrAppend(m_szFileName, pszNumber + 4);
}

// No pattern (no usable log folder) means no file. A name someone else took
// beforehand (another account's file, a link) is skipped for the next free
// one, "..._000-1.LOG" and so on, which the next shift takes into the series:
// a planted file must not stop the log.
void CLoggingFile::OpenCurrentFile(DWORD dwDisposition) {
    m_hFile.reset();
    if (m_szFileName[0] == L'\0') return;
    wchar_t szName[512];
    StrCopy(szName, m_szFileName);
    const wchar_t* pszSlash = wcsrchr(m_szFileName, L'\\');
    const wchar_t* pszDot = wcsrchr(pszSlash != nullptr ? pszSlash : m_szFileName, L'.');
    const size_t cchStem = pszDot != nullptr ? static_cast<size_t>(pszDot - m_szFileName) : wcslen(m_szFileName);
    for (int nSkipped = 0; nSkipped <= kMaxSkippedNames; ++nSkipped) {
        if (nSkipped > 0) {
            StrCopy(szName, m_szFileName, cchStem);
            wchar_t szSuffix[16];
            StrFormat(szSuffix, L"-%d", nSkipped);
            StrAppend(szName, szSuffix);
            if (pszDot != nullptr) StrAppend(szName, pszDot);
        }
        m_hFile.reset(OpenProtectedFile(szName, dwDisposition));
        if (m_hFile) {
            StrCopy(m_szFileName, szName);
            return;
        }
        // Nothing there: the name is free, the failure is of another kind.
        if (GetFileAttributesW(szName) == INVALID_FILE_ATTRIBUTES) return;
    }
}

void CLoggingFile::CloseCurrentFile() {
    if (!m_hFile) return;
    FlushFileBuffers(m_hFile.get());
    m_hFile.reset();
}

void CLoggingFile::WriteText(const wchar_t* pszText) {
    static char szUtf8[kUtf8Bytes];
    ZeroMemory(szUtf8, sizeof(szUtf8));
    int cch = Utf8FittingLength(pszText, kUtf8Bytes - 1);
    int cb = WideCharToMultiByte(CP_UTF8, 0, pszText, cch, szUtf8, kUtf8Bytes - 1, nullptr, nullptr);
    if (cb <= 0) return;
    DWORD dwWritten = 0;
    WriteFile(m_hFile.get(), szUtf8, static_cast<DWORD>(cb), &dwWritten, nullptr);
}
