// The exchange files: one text file per PBX operation showing its latest
// request and answer, with credentials masked before anything is written.
#include <fcntl.h>
#include <io.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "common/BoundedString.h"
#include "common/UniqueHandle.h"
#include "common/UniqueHeapMemory.h"
#include "http/CHTTPContactBase.h"
#include "http/MaskSecrets.h"
#include "log/CLoggingFileWithEvent.h"
#include "log/ObjectSecurity.h"
#include "log/ProtectedFiles.h"

namespace {

constexpr size_t SeparatorChars = 108;
constexpr size_t PathUnits = 512;

// Writes UTF-16 text as UTF-8 with CR LF line ends.
void WriteText(FILE* pFile, const wchar_t* pszText, size_t cchText) {
    std::wstring sText;
    sText.reserve(cchText + cchText / 16);
    for (size_t i = 0; i < cchText; ++i) {
        if (pszText[i] == L'\n') sText.push_back(L'\r');
        sText.push_back(pszText[i]);
    }
    if (sText.empty()) return;
    const int cb = WideCharToMultiByte(CP_UTF8, 0, sText.data(), static_cast<int>(sText.size()), nullptr, 0,
                                       nullptr, nullptr);
    if (cb <= 0) return;
    std::string sBytes(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_UTF8, 0, sText.data(), static_cast<int>(sText.size()), sBytes.data(), cb, nullptr,
                        nullptr);
    fwrite(sBytes.data(), 1, sBytes.size(), pFile);
}

void WriteLine(FILE* pFile, const wchar_t* pszFormat, ...) {
    wchar_t szLine[4096];
    va_list args;
    va_start(args, pszFormat);
    const size_t cch = BoundedFormatV(szLine, 4096, pszFormat, args);
    va_end(args);
    WriteText(pFile, szLine, cch);
}

void WriteSeparator(FILE* pFile, wchar_t ch) {
    const std::wstring sLine = std::wstring(SeparatorChars, ch) + L'\n';
    WriteText(pFile, sLine.data(), sLine.size());
}

// A section: S, its title, D, then the masked text.
void WriteSection(const CHTTPContactBase& client, FILE* pFile, const wchar_t* pszTitle, const wchar_t* pszText) {
    WriteSeparator(pFile, L'#');
    WriteLine(pFile, L"%s\n", pszTitle);
    WriteSeparator(pFile, L'-');
    WriteMaskedText(client, pszText, pFile);
}

// A fresh file, so that it gets the provider's DACL whatever an older file
// there had; null when it cannot be had safely.
FILE* CreateExchangeFile(const wchar_t* pszPath) {
    if (!RemoveProtectedFile(pszPath)) return nullptr;
    UniqueFileHandle file(OpenProtectedFile(pszPath, CREATE_NEW));
    if (!file) return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_WRONLY | _O_BINARY);
    if (fd == -1) return nullptr;
    (void)file.release();  // the descriptor owns it now, and closes it with _close or fclose
    FILE* pFile = _fdopen(fd, "wb");
    if (pFile == nullptr) _close(fd);
    return pFile;
}

}  // namespace

void AppendMaskedLine(const CHTTPContactBase& client, wchar_t* pszOutput, const wchar_t* pszLine) {
    if (pszLine == nullptr || *pszLine == L'\0') return;
    const size_t cchOutput = client.m_dwAnswerSize / 2;
    // Basic credentials are only Base64: the whole value goes, whatever its length.
    BoundedAppend(pszOutput, cchOutput,
                  wcsstr(pszLine, L"Authorization: Basic") != nullptr ? L"Authorization: Basic XXXXXXXX" : pszLine);
    MaskSecrets(pszOutput, cchOutput);
    BoundedAppend(pszOutput, cchOutput, L"\n");
}

void WriteMaskedText(const CHTTPContactBase& client, const wchar_t* pszText, FILE* pFile) {
    const size_t cbText = client.m_dwAnswerSize * sizeof(wchar_t);
    const UniqueHeapMemory<wchar_t> output = AllocateZeroedHeap<wchar_t>(cbText);
    const UniqueHeapMemory<wchar_t> line = AllocateZeroedHeap<wchar_t>(cbText);
    if (!output || !line || pszText == nullptr || *pszText == L'\0') return;
    const size_t cchLineMax = client.m_dwAnswerSize - 1;
    size_t cchLine = 0;
    for (const wchar_t* p = pszText;; ++p) {
        if (*p == L'\n' || *p == L'\0') {
            line.get()[cchLine] = L'\0';
            AppendMaskedLine(client, output.get(), line.get());
            cchLine = 0;
            if (*p == L'\0') break;
        } else if (*p != L'\r' && cchLine < cchLineMax) {
            line.get()[cchLine++] = *p;
        }
    }
    WriteText(pFile, output.get(), wcslen(output.get()));
}

void CHTTPContactBase::SaveSequence(const wchar_t* pszFileBase, BOOL bCounter, const wchar_t* pszSubFolder) {
    Trace(5, L"Func.CHTTPContactBase::SaveSequence.Begin");
    Trace(5, L"Func.CHTTPContactBase::SaveSequence.Param._pszFileBase %s", pszFileBase != nullptr ? pszFileBase : L"NULL");
    Trace(5, L"Func.CHTTPContactBase::SaveSequence.Param._bCounter %d", bCounter);
    Trace(5, L"Func.CHTTPContactBase::SaveSequence.Var.m_dwLastError %lu %s", m_dwLastError, m_szLastError);
    if (pszFileBase == nullptr) {
        Trace(5, L"Func.CHTTPContactBase::SaveSequence.End");
        return;
    }
    const ULONGLONG qwStart = GetTickCount64();

    wchar_t szPath[PathUnits];
    StrCopy(szPath, m_szFileBase[0] != L'\0' ? m_szFileBase : g_szLogPath);
    const size_t cchFolder = wcslen(szPath);
    // Without a folder (none could be had safely) nothing is written anywhere.
    if (cchFolder == 0) {
        Trace(5, L"Func.CHTTPContactBase::SaveSequence.End no folder");
        return;
    }
    if (szPath[cchFolder - 1] != L'\\') StrAppend(szPath, L"\\");
    if (pszSubFolder != nullptr) {
        StrAppend(szPath, pszSubFolder);
        CObjectSecurity security(SecuredObject::LogFolder);
        CreateDirectoryW(szPath, security.Attributes());
        StrAppend(szPath, L"\\");
    }
    StrAppend(szPath, pszFileBase);
    if (bCounter) {
        SYSTEMTIME now;
        GetSystemTime(&now);
        wchar_t szTime[64];
        StrFormat(szTime, L"_%04d_%02d_%02d__%02d_%02d_%02d", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
        StrAppend(szPath, szTime);
    }
    StrAppend(szPath, L"_SEQUENCE.TXT");

    if (FILE* pFile = CreateExchangeFile(szPath)) {
        SYSTEMTIME now;
        GetSystemTime(&now);
        WriteSeparator(pFile, L'#');
        WriteLine(pFile, L"%04d-%02d-%02d %02d:%02d:%02d.%03d (%4lu:%4lu)\n", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, GetCurrentProcessId(),
                  GetCurrentThreadId());
        WriteSeparator(pFile, L'-');
        WriteLine(pFile, L"VERB: %s\n", m_szVerb);
        WriteLine(pFile, L"URL: %s\n", m_szURL);
        WriteLine(pFile, L"HTTP last error: %lu (%s)\n", m_dwLastError, m_szLastError);
        WriteLine(pFile, L"Runtime: %lld miliseconds\n", m_wRuntime);
        WriteSection(*this, pFile, L"Query Header", m_szHeader);
        WriteSection(*this, pFile, L"Query Data", m_szData);
        WriteLine(pFile, L"\n");
        WriteSection(*this, pFile, L"Response Header", m_szResponseHeader);
        WriteSection(*this, pFile, L"Response Data", m_pszAnswer);
        WriteSeparator(pFile, L'#');
        fclose(pFile);
    }
    Trace(5, L"Func.CHTTPContactBase::SaveSequence.Var.wRuntime %d", static_cast<int>(GetTickCount64() - qwStart));
    Trace(5, L"Func.CHTTPContactBase::SaveSequence.End");
}
