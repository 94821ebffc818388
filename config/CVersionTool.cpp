#include "config/CVersionTool.h"

#include <memory>

#include "common/BoundedString.h"

namespace {
// German first, then English, then language-neutral: the first block that
// has the text wins.
constexpr const wchar_t* kLanguageBlocks[] = {L"040704b0", L"040704e4", L"040904b0", L"000004b0"};

template <size_t N>
void LookUpText(const BYTE* pBlock, const wchar_t* pszName, wchar_t (&szText)[N]) {
    for (const wchar_t* pszLanguage : kLanguageBlocks) {
        wchar_t szQuery[96];
        StrFormat(szQuery, L"\\StringFileInfo\\%s\\%s", pszLanguage, pszName);
        void* pValue = nullptr;
        UINT cchValue = 0;
        if (VerQueryValueW(pBlock, szQuery, &pValue, &cchValue) && pValue != nullptr) {
            BoundedCopy(szText, N, static_cast<const wchar_t*>(pValue), 126);
            return;
        }
    }
}

void FormatVersion(wchar_t (&szText)[32], DWORD dwMS, DWORD dwLS) {
    StrFormat(szText, L"%d.%d.%d.%d", HIWORD(dwMS), LOWORD(dwMS), HIWORD(dwLS), LOWORD(dwLS));
}
}  // namespace

CVersionTool::CVersionTool(HMODULE hModule) {
    wchar_t szPath[MAX_PATH] = {};
    GetModuleFileNameW(hModule, szPath, MAX_PATH - 1);
    Read(szPath);
}

CVersionTool::CVersionTool(const wchar_t* pszPath) { Read(pszPath); }

void CVersionTool::Read(const wchar_t* pszPath) {
    ZeroMemory(&m_FixedInfo, sizeof(m_FixedInfo));
    m_szProductVersion[0] = m_szFileVersion[0] = L'\0';
    m_szFileDescription[0] = m_szProductName[0] = m_szComments[0] = m_szOriginalFilename[0] = L'\0';

    if (GetFileAttributesW(pszPath) == INVALID_FILE_ATTRIBUTES) return;
    DWORD dwHandle = 0;
    DWORD cbInfo = GetFileVersionInfoSizeW(pszPath, &dwHandle);
    if (cbInfo == 0) return;
    std::unique_ptr<BYTE[]> block(new (std::nothrow) BYTE[cbInfo + 4]());
    if (!block || !GetFileVersionInfoW(pszPath, 0, cbInfo, block.get())) return;

    VS_FIXEDFILEINFO* pFixed = nullptr;
    UINT cbFixed = 0;
    if (VerQueryValueW(block.get(), L"\\", reinterpret_cast<void**>(&pFixed), &cbFixed) && pFixed != nullptr &&
        cbFixed >= sizeof(VS_FIXEDFILEINFO))
        m_FixedInfo = *pFixed;
    FormatVersion(m_szProductVersion, m_FixedInfo.dwProductVersionMS, m_FixedInfo.dwProductVersionLS);
    FormatVersion(m_szFileVersion, m_FixedInfo.dwFileVersionMS, m_FixedInfo.dwFileVersionLS);

    LookUpText(block.get(), L"FileDescription", m_szFileDescription);
    LookUpText(block.get(), L"ProductName", m_szProductName);
    LookUpText(block.get(), L"Comments", m_szComments);
    LookUpText(block.get(), L"OriginalFilename", m_szOriginalFilename);
}
