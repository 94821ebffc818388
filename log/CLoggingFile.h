// The per-process debug log: levelled, UTF-8 lines appended to a size-limited
// file whose name carries a file number.
#pragma once

#include <windows.h>

#include "common/UniqueHandle.h"

// The size in bytes beyond which a log goes on in a new file, until the
// settings give another.
constexpr LONGLONG kDefaultMaxLogFileSize = 50000000;

class CLoggingFile {
public:
    CLoggingFile();
    virtual ~CLoggingFile();
    CLoggingFile(const CLoggingFile&) = delete;
    CLoggingFile& operator=(const CLoggingFile&) = delete;

    // Called after a full file was closed and the number advanced, before the
    // next file is created.
    virtual void OnRotate() {}

    // A host's start: lines written so far stay in the file they went to, and
    // the next line begins a fresh file (after OnRotate).
    void StartNewFile();
    // The file's path with "%03d" where its number goes; every other character,
    // "%" included, is taken literally. Empty: no file is written.
    void SetFileNamePattern(const wchar_t* pszPattern);
    // printf-style; "%s" takes a wide string. Returns 1 when this line started a
    // new file because the old one was full, else 0.
    int Write(DWORD dwLevel, const wchar_t* pszFormat, ...);
    int WriteV(DWORD dwLevel, const wchar_t* pszFormat, va_list args);
    void NextFileNumber();
    // Whether a line of this level would be written; lets callers skip work.
    bool IsEnabled(DWORD dwLevel) const { return dwLevel <= m_dwDebugLevel; }

    // Around a whole write: last in the lock order (model/ProviderLock.h),
    // since every other lock's holder may trace.
    CRITICAL_SECTION m_cs;
    wchar_t m_szFileName[512];
    wchar_t m_szFileNamePattern[512];
    volatile DWORD m_dwDebugLevel;
    DWORD m_dwMaxFiles;
    LONGLONG m_nMaxLogFileSize;
    DWORD m_dwProcessId;
    UniqueFileHandle m_hFile;
    DWORD m_dwLogFileNr;

private:
    void BuildFileName();
    void OpenCurrentFile(DWORD dwDisposition);
    void CloseCurrentFile();
    void WriteText(const wchar_t* pszText);
};

// Id of the thread that wrote the previous line; a change starts a new block.
extern DWORD g_dwLastLogThreadId;
