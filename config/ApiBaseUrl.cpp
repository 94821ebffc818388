#include "config/ApiBaseUrl.h"

#include <cwchar>
#include <cwctype>

namespace {
bool StartsWithNoCase(const wchar_t* pszText, const wchar_t* pszPrefix) {
    return _wcsnicmp(pszText, pszPrefix, wcslen(pszPrefix)) == 0;
}

bool IsHostChar(wchar_t ch) { return iswalnum(ch) || ch == L'-' || ch == L'.' || ch == L'_'; }
}  // namespace

bool IsValidApiBaseUrl(const wchar_t* pszUrl) {
    if (pszUrl == nullptr) return false;
    const size_t cchUrl = wcslen(pszUrl);
    if (cchUrl > kMaxApiBaseUrlChars) return false;
    for (size_t i = 0; i < cchUrl; ++i)
        if (pszUrl[i] <= L' ' || pszUrl[i] >= 0x7F) return false;

    const wchar_t* p = nullptr;
    if (StartsWithNoCase(pszUrl, L"http://"))
        p = pszUrl + 7;
    else if (StartsWithNoCase(pszUrl, L"https://"))
        p = pszUrl + 8;
    else
        return false;

    // The host: a name, an IPv4 address or a bracketed IPv6 address (no user
    // name, no "@").
    const wchar_t* pszHost = p;
    if (*p == L'[') {
        ++p;
        while (iswxdigit(*p) || *p == L':' || *p == L'.') ++p;
        if (*p != L']' || p == pszHost + 1) return false;
        ++p;
    } else {
        while (IsHostChar(*p)) ++p;
        if (p == pszHost || *pszHost == L'.' || *pszHost == L'-') return false;
    }

    if (*p == L':') {
        ++p;
        unsigned long nPort = 0;
        const wchar_t* pszPort = p;
        while (*p >= L'0' && *p <= L'9' && p - pszPort < 5) nPort = nPort * 10 + static_cast<unsigned long>(*p++ - L'0');
        if (p == pszPort || nPort == 0 || nPort > 65535) return false;
    }
    // Then the path or nothing; "?" and "#" have no place in a base.
    if (*p != L'\0' && *p != L'/') return false;
    return wcspbrk(p, L"?#\\") == nullptr;
}
