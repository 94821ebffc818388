#include "http/MaskSecrets.h"

#include <cwchar>
#include <new>
#include <string>

#include "common/BoundedString.h"

namespace {

constexpr WCHAR MaskChar = L'X';

WCHAR Lower(WCHAR c) { return c >= L'A' && c <= L'Z' ? static_cast<WCHAR>(c - L'A' + L'a') : c; }

// Whether the text at p begins with pszMarker (lower case), case ignored.
bool StartsWithNoCase(const WCHAR* p, const WCHAR* pszMarker) {
    for (; *pszMarker != L'\0'; ++p, ++pszMarker)
        if (Lower(*p) != *pszMarker) return false;
    return true;
}

// Overwrites from p up to the first character of pszStops or the end of the
// text; notes when the run reached the end. Returns where it stopped.
WCHAR* MaskUntil(WCHAR* p, const WCHAR* pszStops, bool* pbReachedEnd) {
    for (; *p != L'\0' && wcschr(pszStops, *p) == nullptr; ++p) *p = MaskChar;
    if (*p == L'\0') *pbReachedEnd = true;
    return p;
}

WCHAR* SkipJsonWhitespace(WCHAR* p) {
    while (*p == L' ' || *p == L'\t' || *p == L'\r' || *p == L'\n') ++p;
    return p;
}

// Member names whose string values are secrets, compared without case.
constexpr const WCHAR* SecretMembers[] = {
    L"password", L"passwd",        L"pwd",           L"token",       L"access-token",
    L"refresh-token", L"access_token", L"refresh_token", L"accesstoken", L"refreshtoken",
};

// The whole string value of every secret member, escaped quotes and all:
// the value ends only at its closing quote.
void MaskJsonMembers(WCHAR* pszText, bool* pbReachedEnd) {
    for (WCHAR* p = wcschr(pszText, L'"'); p != nullptr; p = wcschr(p + 1, L'"')) {
        // A quote after a backslash is inside a string, not a member name.
        if (p > pszText && p[-1] == L'\\') continue;
        for (const WCHAR* pszName : SecretMembers) {
            const size_t cchName = wcslen(pszName);
            if (!StartsWithNoCase(p + 1, pszName) || p[1 + cchName] != L'"') continue;
            WCHAR* pszValue = SkipJsonWhitespace(p + 2 + cchName);
            if (*pszValue != L':') break;
            pszValue = SkipJsonWhitespace(pszValue + 1);
            if (*pszValue != L'"') break;
            WCHAR* q = pszValue + 1;
            while (*q != L'\0' && *q != L'"') {
                if (*q == L'\\' && q[1] != L'\0') *q++ = MaskChar;
                *q++ = MaskChar;
            }
            if (*q == L'\0') *pbReachedEnd = true;
            p = q;  // the closing quote, or the end of the text
            break;
        }
        if (*p == L'\0') break;
    }
}

// "Authorization:" and "Proxy-Authorization:" headers: the scheme stays
// readable, everything after it up to the line end goes; a value of one word
// only is taken as a credential of its own.
void MaskAuthorization(WCHAR* pszText, bool* pbReachedEnd) {
    static const WCHAR kMarker[] = L"authorization:";
    for (WCHAR* p = pszText; *p != L'\0'; ++p) {
        if (Lower(*p) != L'a' || !StartsWithNoCase(p, kMarker)) continue;
        WCHAR* pszScheme = p + wcslen(kMarker);
        while (*pszScheme == L' ' || *pszScheme == L'\t') ++pszScheme;
        WCHAR* pszCredentials = pszScheme;
        while (*pszCredentials != L'\0' && wcschr(L" \t\r\n", *pszCredentials) == nullptr) ++pszCredentials;
        while (*pszCredentials == L' ' || *pszCredentials == L'\t') ++pszCredentials;
        const bool bSchemeOnly = *pszCredentials == L'\0' || *pszCredentials == L'\r' || *pszCredentials == L'\n';
        p = MaskUntil(bSchemeOnly ? pszScheme : pszCredentials, L"\r\n", pbReachedEnd);
        if (*p == L'\0') break;
    }
}

// Form-encoded and query parameters: a value ends at "&", white space or a quote.
constexpr const WCHAR* SecretParameters[] = {L"pwd=", L"passwd=", L"password=", L"token="};

void MaskFormValues(WCHAR* pszText, bool* pbReachedEnd) {
    for (WCHAR* p = pszText; *p != L'\0'; ++p) {
        for (const WCHAR* pszMarker : SecretParameters) {
            if (Lower(*p) != *pszMarker || !StartsWithNoCase(p, pszMarker)) continue;
            p = MaskUntil(p + wcslen(pszMarker), L"&\" \t\r\n", pbReachedEnd) - 1;
            break;
        }
    }
}

// The content of every "<tag>": up to its closing tag on the same line, or
// else up to the next "<", quote or line end, so that it never reaches into
// what other rules look for.
void MaskTag(WCHAR* pszText, const WCHAR* pszTag, const WCHAR* pszClosingTag, bool* pbReachedEnd) {
    const size_t cchTag = wcslen(pszTag);
    for (WCHAR* p = wcsstr(pszText, pszTag); p != nullptr; p = wcsstr(p, pszTag)) {
        p += cchTag;
        const WCHAR* pszLineEnd = p + wcscspn(p, L"\r\n");
        const WCHAR* pszClose = wcsstr(p, pszClosingTag);
        if (pszClose != nullptr && pszClose < pszLineEnd) {
            while (p < pszClose) *p++ = MaskChar;
        } else {
            p = MaskUntil(p, L"<\"\r\n", pbReachedEnd);
        }
    }
}

}  // namespace

void ReplaceAll(WCHAR* pszText, size_t cchCapacity, const WCHAR* pszSearch, const WCHAR* pszReplacement) {
    if (pszText == nullptr || cchCapacity == 0 || pszSearch == nullptr || *pszSearch == L'\0') return;
    if (pszReplacement == nullptr) pszReplacement = L"";
    const size_t cchSearch = wcslen(pszSearch);
    const size_t cchLimit = cchCapacity - 1;
    try {
        std::wstring sResult;
        for (const WCHAR* p = pszText; *p != L'\0' && sResult.size() < cchLimit;) {
            if (wcsncmp(p, pszSearch, cchSearch) == 0) {
                sResult += pszReplacement;
                p += cchSearch;
            } else {
                sResult += *p++;
            }
        }
        BoundedCopy(pszText, cchLimit + 1, sResult.c_str());
    } catch (const std::bad_alloc&) {
        // Without memory the text stays unchanged.
    }
}

void MaskTagContent(WCHAR* pszText, const WCHAR* pszTag) {
    if (pszText == nullptr || pszTag == nullptr || *pszTag == L'\0') return;
    std::wstring closing = pszTag;
    if (closing.size() > 1 && closing[0] == L'<') closing.insert(1, L"/");
    bool bReachedEnd = false;
    MaskTag(pszText, pszTag, closing.c_str(), &bReachedEnd);
}

void MaskSecrets(WCHAR* pszText, size_t cchBuffer) {
    if (pszText == nullptr || cchBuffer == 0) return;
    // The JSON values first: the looser rules after them may cover more than
    // a value, and must never hide a member name before its value is masked.
    bool bReachedEnd = false;
    MaskJsonMembers(pszText, &bReachedEnd);
    MaskAuthorization(pszText, &bReachedEnd);
    MaskFormValues(pszText, &bReachedEnd);
    MaskTag(pszText, L"<username>", L"</username>", &bReachedEnd);
    MaskTag(pszText, L"<password>", L"</password>", &bReachedEnd);
    if (bReachedEnd) {
        // A value that ran to the end widens every quoted mask to at least
        // seven "X", so that short values do not show their length.
        const size_t cchGrown = wcslen(pszText) + 4;
        ReplaceAll(pszText, cchGrown < cchBuffer ? cchGrown : cchBuffer, L"\"XXX", L"\"XXXXXXX");
    }
}
