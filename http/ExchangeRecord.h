// One finished exchange with the PBX as its exchange file shows it, copied
// out of the client right after the request, so that the file can be masked
// and written later, when the thread holds no lock (http/ExchangeDeferral.h).
// The copy holds credentials until it is written: they are wiped when it goes.
#pragma once

#include <windows.h>

#include <string>

struct ExchangeRecord {
    ExchangeRecord() = default;
    ExchangeRecord(ExchangeRecord&&) = default;
    ExchangeRecord& operator=(ExchangeRecord&& other);
    ExchangeRecord(const ExchangeRecord&) = delete;
    ExchangeRecord& operator=(const ExchangeRecord&) = delete;
    ~ExchangeRecord();

    std::wstring sLabel;          // the file's name before "_SEQUENCE.TXT"
    std::wstring sFolder;         // the client's folder, else the log folder
    SYSTEMTIME time = {};         // UTC, when the request ended
    DWORD dwProcessId = 0;
    DWORD dwThreadId = 0;         // the thread that made the request
    std::wstring sVerb;
    std::wstring sUrl;
    DWORD dwLastError = 0;
    std::wstring sLastError;
    LONGLONG llRuntimeMs = 0;
    std::wstring sHeader;
    std::wstring sData;
    std::wstring sResponseHeader;
    std::wstring sAnswer;
};

// Overwrites the text's characters before its memory goes back.
void WipeText(std::wstring& sText);
