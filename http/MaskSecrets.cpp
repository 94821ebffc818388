#include "http/MaskSecrets.h"

#include <cwchar>
#include <new>
#include <string>

#include "common/BoundedString.h"

namespace {

constexpr WCHAR MaskChar = L'X';

// A masked value ends at white space, a line end or a double quote; outside
// JSON text also at "," and "=", which separate the parameters there.
bool EndsValue(WCHAR c, bool bJson) {
    switch (c) {
    case L'\0': case L'\t': case L'\n': case L'\r': case L' ': case L'"': return true;
    case L',': case L'=': return !bJson;
    default: return false;
    }
}

// Overwrites the value starting at psz; true when it ran to the end of the text.
bool MaskValue(WCHAR* psz, bool bJson) {
    for (; !EndsValue(*psz, bJson); ++psz) *psz = MaskChar;
    return *psz == L'\0';
}

WCHAR* SkipJsonWhitespace(WCHAR* psz) {
    while (*psz == L' ' || *psz == L'\t' || *psz == L'\r' || *psz == L'\n') ++psz;
    return psz;
}

// Where the string value begins of the member whose quoted name ends at psz,
// or null when the name is not followed by a colon and a string.
WCHAR* MemberStringValue(WCHAR* psz) {
    psz = SkipJsonWhitespace(psz);
    if (*psz != L':') return nullptr;
    psz = SkipJsonWhitespace(psz + 1);
    return *psz == L'"' ? psz + 1 : nullptr;
}

struct Marker {
    const WCHAR* pszText;
    bool bJson;  // the value is a JSON string: "," and "=" belong to it
};

// Tried in this order; only the first one found in the text is masked.
constexpr Marker FirstMarkers[] = {
    {L"Authorization: Basic ", false},
    {L"pwd=", false},
    {L"&password=", false},
    {L"AUTH_TOKEN=", false},
    {L"\"token\":\"", true},
    {L"\"password\":\"", true},
};

struct TokenMarker {
    const WCHAR* pszText;
    bool bMemberName;  // a quoted JSON member name: the value follows after a colon
};

// Tokens grant access to the account just like the password, so each of them
// is masked wherever it occurs, independently of the first-marker rule.
constexpr TokenMarker TokenMarkers[] = {
    {L"Authorization: Bearer ", false},
    {L"\"access-token\"", true},
    {L"\"refresh-token\"", true},
};

void MaskTokens(WCHAR* pszText) {
    for (const TokenMarker& marker : TokenMarkers) {
        const size_t cchMarker = wcslen(marker.pszText);
        for (WCHAR* p = wcsstr(pszText, marker.pszText); p != nullptr; p = wcsstr(p, marker.pszText)) {
            p += cchMarker;
            WCHAR* pszValue = marker.bMemberName ? MemberStringValue(p) : p;
            if (pszValue != nullptr) MaskValue(pszValue, true);
        }
    }
}

void MaskFirstMarker(WCHAR* pszText, size_t cchBuffer) {
    for (const Marker& marker : FirstMarkers) {
        WCHAR* pszFound = wcsstr(pszText, marker.pszText);
        if (pszFound == nullptr) continue;
        if (MaskValue(pszFound + wcslen(marker.pszText), marker.bJson)) {
            // A value that ran to the end widens every quoted mask to at least
            // seven "X", so that short values do not show their length.
            const size_t cchGrown = wcslen(pszText) + 4;
            ReplaceAll(pszText, cchGrown < cchBuffer ? cchGrown : cchBuffer, L"\"XXX", L"\"XXXXXXX");
        }
        return;
    }
}

}  // namespace

void ReplaceAll(WCHAR* pszText, size_t cchCapacity, const WCHAR* pszSearch, const WCHAR* pszReplacement) {
    if (pszText == nullptr || cchCapacity == 0 || pszSearch == nullptr || *pszSearch == L'\0') return;
    if (pszReplacement == nullptr) pszReplacement = L"";
    const size_t cchSearch = wcslen(pszSearch);
    const size_t cchLimit = (cchCapacity < ReplaceAllBufferUnits ? cchCapacity : ReplaceAllBufferUnits) - 1;
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
    WCHAR* p = wcsstr(pszText, pszTag);
    if (p == nullptr) return;
    for (p += wcslen(pszTag); *p != L'\0' && *p != L'<'; ++p) *p = MaskChar;
}

void MaskSecrets(WCHAR* pszText, size_t cchBuffer) {
    if (pszText == nullptr || cchBuffer == 0) return;
    MaskTagContent(pszText, L"<username>");
    MaskTagContent(pszText, L"<password>");
    MaskTokens(pszText);
    MaskFirstMarker(pszText, cchBuffer);
}
