// The exchange files: one text file per PBX operation showing its latest
// request and answer, with credentials masked before anything is written.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <new>
#include <string>

#include "common/BoundedString.h"
#include "common/UniqueHandle.h"
#include "http/CHTTPContactBase.h"
#include "http/ExchangeRecord.h"
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
void WriteSection(FILE* pFile, const wchar_t* pszTitle, const std::wstring& sText) {
    WriteSeparator(pFile, L'#');
    WriteLine(pFile, L"%s\n", pszTitle);
    WriteSeparator(pFile, L'-');
    const std::wstring sMasked = MaskedExchangeText(sText.c_str());
    WriteText(pFile, sMasked.data(), sMasked.size());
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

std::wstring MaskedExchangeText(const wchar_t* pszText) {
    std::wstring sOutput;
    if (pszText == nullptr) return sOutput;
    try {
        // The lines first, then one masking pass over them all: a value that
        // goes on in the next line (pretty-printed JSON) is still found whole.
        const size_t cchText = wcslen(pszText);
        sOutput.reserve(cchText + 8);
        for (const wchar_t* p = pszText; *p != L'\0';) {
            const wchar_t* pEnd = wcschr(p, L'\n');
            if (pEnd == nullptr) pEnd = p + wcslen(p);
            std::wstring sLine(p, pEnd);
            sLine.erase(std::remove(sLine.begin(), sLine.end(), L'\r'), sLine.end());
            p = *pEnd == L'\n' ? pEnd + 1 : pEnd;
            if (sLine.empty()) continue;
            if (!sOutput.empty()) sOutput += L'\n';
            // Basic credentials are only Base64: the whole value goes, whatever its length.
            sOutput += sLine.find(L"Authorization: Basic") != std::wstring::npos ? L"Authorization: Basic XXXXXXXX"
                                                                                 : sLine;
            WipeText(sLine);
        }
        if (sOutput.empty()) return sOutput;
        // Room for the widening of masks that run to the end of the text;
        // the last line end follows the masking, so such a mask stops there.
        sOutput.resize(sOutput.size() + 4, L'\0');
        MaskSecrets(sOutput.data(), sOutput.size());
        sOutput.resize(wcslen(sOutput.c_str()));
        sOutput += L'\n';
    } catch (const std::bad_alloc&) {
        WipeText(sOutput);
        sOutput.clear();
    }
    return sOutput;
}

void WipeText(std::wstring& sText) {
    if (!sText.empty()) SecureZeroMemory(sText.data(), sText.size() * sizeof(wchar_t));
}

ExchangeRecord& ExchangeRecord::operator=(ExchangeRecord&& other) {
    if (this == &other) return *this;
    for (std::wstring* psText : {&sHeader, &sData, &sResponseHeader, &sAnswer}) WipeText(*psText);
    sLabel = std::move(other.sLabel);
    sFolder = std::move(other.sFolder);
    time = other.time;
    dwProcessId = other.dwProcessId;
    dwThreadId = other.dwThreadId;
    sVerb = std::move(other.sVerb);
    sUrl = std::move(other.sUrl);
    dwLastError = other.dwLastError;
    sLastError = std::move(other.sLastError);
    llRuntimeMs = other.llRuntimeMs;
    sHeader = std::move(other.sHeader);
    sData = std::move(other.sData);
    sResponseHeader = std::move(other.sResponseHeader);
    sAnswer = std::move(other.sAnswer);
    return *this;
}

ExchangeRecord::~ExchangeRecord() {
    for (std::wstring* psText : {&sHeader, &sData, &sResponseHeader, &sAnswer}) WipeText(*psText);
}

ExchangeRecord CHTTPContactBase::CaptureExchange(const wchar_t* pszLabel) const {
    ExchangeRecord record;
    record.sLabel = pszLabel != nullptr ? pszLabel : L"";
    record.sFolder = m_szFileBase[0] != L'\0' ? m_szFileBase : g_szLogPath;
    GetSystemTime(&record.time);
    record.dwProcessId = GetCurrentProcessId();
    record.dwThreadId = GetCurrentThreadId();
    record.sVerb = m_szVerb;
    record.sUrl = m_szURL;
    record.dwLastError = m_dwLastError;
    record.sLastError = m_szLastError;
    record.llRuntimeMs = m_wRuntime;
    record.sHeader = m_szHeader;
    record.sData = m_szData;
    record.sResponseHeader = m_szResponseHeader;
    record.sAnswer = m_pszAnswer != nullptr ? m_pszAnswer : L"";
    return record;
}

void CHTTPContactBase::SaveSequence(const wchar_t* pszFileBase, BOOL bCounter, const wchar_t* pszSubFolder) {
    Trace(5, L"Func.CHTTPContactBase::SaveSequence.Begin");
    Trace(5, L"Func.CHTTPContactBase::SaveSequence.Param._pszFileBase %s", pszFileBase != nullptr ? pszFileBase : L"NULL");
    Trace(5, L"Func.CHTTPContactBase::SaveSequence.Param._bCounter %d", bCounter);
    Trace(5, L"Func.CHTTPContactBase::SaveSequence.Var.m_dwLastError %lu %s", m_dwLastError, m_szLastError);
    const ULONGLONG qwStart = GetTickCount64();
    if (pszFileBase != nullptr) WriteExchangeFile(CaptureExchange(pszFileBase), bCounter, pszSubFolder);
    Trace(5, L"Func.CHTTPContactBase::SaveSequence.Var.wRuntime %d", static_cast<int>(GetTickCount64() - qwStart));
    Trace(5, L"Func.CHTTPContactBase::SaveSequence.End");
}

void WriteExchangeFile(const ExchangeRecord& record, BOOL bCounter, const wchar_t* pszSubFolder) {
    if (record.sLabel.empty()) return;
    wchar_t szPath[PathUnits];
    StrCopy(szPath, record.sFolder.c_str());
    const size_t cchFolder = wcslen(szPath);
    // Without a folder (none could be had safely) nothing is written anywhere.
    if (cchFolder == 0) return;
    if (szPath[cchFolder - 1] != L'\\') StrAppend(szPath, L"\\");
    if (pszSubFolder != nullptr) {
        StrAppend(szPath, pszSubFolder);
        CObjectSecurity security(SecuredObject::LogFolder);
        CreateDirectoryW(szPath, security.Attributes());
        StrAppend(szPath, L"\\");
    }
    StrAppend(szPath, record.sLabel.c_str());
    if (bCounter) {
        const SYSTEMTIME& t = record.time;
        wchar_t szTime[64];
        StrFormat(szTime, L"_%04d_%02d_%02d__%02d_%02d_%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond);
        StrAppend(szPath, szTime);
    }
    StrAppend(szPath, L"_SEQUENCE.TXT");

    FILE* pFile = CreateExchangeFile(szPath);
    if (pFile == nullptr) return;
    const SYSTEMTIME& t = record.time;
    WriteSeparator(pFile, L'#');
    WriteLine(pFile, L"%04d-%02d-%02d %02d:%02d:%02d.%03d (%4lu:%4lu)\n", t.wYear, t.wMonth, t.wDay, t.wHour,
              t.wMinute, t.wSecond, t.wMilliseconds, record.dwProcessId, record.dwThreadId);
    WriteSeparator(pFile, L'-');
    WriteLine(pFile, L"VERB: %s\n", record.sVerb.c_str());
    WriteLine(pFile, L"URL: %s\n", record.sUrl.c_str());
    WriteLine(pFile, L"HTTP last error: %lu (%s)\n", record.dwLastError, record.sLastError.c_str());
    WriteLine(pFile, L"Runtime: %lld miliseconds\n", record.llRuntimeMs);
    WriteSection(pFile, L"Query Header", record.sHeader);
    WriteSection(pFile, L"Query Data", record.sData);
    WriteLine(pFile, L"\n");
    WriteSection(pFile, L"Response Header", record.sResponseHeader);
    WriteSection(pFile, L"Response Data", record.sAnswer);
    WriteSeparator(pFile, L'#');
    fclose(pFile);
}
