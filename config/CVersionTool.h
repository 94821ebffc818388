// The version resource of a file: numbers and the texts shown to users and
// written to the start-up report.
#pragma once

#include <windows.h>

class CVersionTool {
public:
    explicit CVersionTool(HMODULE hModule);
    explicit CVersionTool(const wchar_t* pszPath);
    virtual ~CVersionTool() = default;

    VS_FIXEDFILEINFO m_FixedInfo;
    wchar_t m_szProductVersion[32];
    wchar_t m_szFileVersion[32];
    wchar_t m_szFileDescription[128];
    wchar_t m_szProductName[128];
    wchar_t m_szComments[128];
    wchar_t m_szOriginalFilename[128];

private:
    void Read(const wchar_t* pszPath);
};
