#include "json/CJsonParserBase.h"

#include <new>
#include <type_traits>
#include <utility>

#include "common/TextBoundary.h"

namespace {

// Beyond this many exponent steps every value has long reached zero or
// infinity, so stepping further would change nothing but the time taken.
constexpr unsigned MaxExponentSteps = 10000;

bool IsDigit(WCHAR c) { return c >= L'0' && c <= L'9'; }

int HexDigitValue(WCHAR c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// The literal words are accepted in any letter case. The terminating NUL never
// matches a letter, so the comparison cannot run past the end of the text.
bool MatchesWord(const WCHAR* psz, const wchar_t* pszLowerWord) {
    for (; *pszLowerWord != L'\0'; ++psz, ++pszLowerWord) {
        const WCHAR c = (*psz >= L'A' && *psz <= L'Z') ? static_cast<WCHAR>(*psz - L'A' + L'a') : *psz;
        if (c != *pszLowerWord) return false;
    }
    return true;
}

constexpr WCHAR kReplacement = 0xFFFD;

bool IsHighSurrogate(unsigned nUnit) { return nUnit >= 0xD800 && nUnit <= 0xDBFF; }
bool IsLowSurrogate(unsigned nUnit) { return nUnit >= 0xDC00 && nUnit <= 0xDFFF; }

// The four hex digits of a "\\u" escape, advancing past them.
bool ReadHexUnit(const WCHAR*& p, unsigned& nUnit) {
    nUnit = 0;
    for (int i = 0; i < 4; ++i) {
        const int nDigit = HexDigitValue(*p++);
        if (nDigit < 0) return false;
        nUnit = nUnit * 16 + static_cast<unsigned>(nDigit);
    }
    return true;
}

// Appends the character of the escape after a backslash.
bool AppendEscape(const WCHAR*& p, std::wstring& sText) {
    const WCHAR c = *p++;
    switch (c) {
    case L'"': case L'\\': case L'/': sText += c; return true;
    case L'b': sText += L'\b'; return true;
    case L'f': sText += L'\f'; return true;
    case L'n': sText += L'\n'; return true;
    case L'r': sText += L'\r'; return true;
    case L't': sText += L'\t'; return true;
    case L'u': {
        // A character beyond U+FFFF arrives as two escapes, its surrogate
        // pair; a surrogate without its partner becomes U+FFFD, so that the
        // text stays well-formed UTF-16.
        unsigned nUnit = 0;
        if (!ReadHexUnit(p, nUnit)) return false;
        if (IsHighSurrogate(nUnit) && p[0] == L'\\' && p[1] == L'u') {
            const WCHAR* q = p + 2;
            unsigned nLow = 0;
            if (!ReadHexUnit(q, nLow)) return false;
            if (IsLowSurrogate(nLow)) {
                sText += static_cast<WCHAR>(nUnit);
                sText += static_cast<WCHAR>(nLow);
                p = q;
                return true;
            }
        }
        sText += IsHighSurrogate(nUnit) || IsLowSurrogate(nUnit) ? kReplacement : static_cast<WCHAR>(nUnit);
        return true;
    }
    default: return false;
    }
}

// The grammar is written once for both of its uses: building the tree
// (Node<true>, the value) and only checking a text (Node<false>, whether it
// is one), which a large answer is checked with before it is read in pieces.
template <bool bBuild>
using Node = std::conditional_t<bBuild, std::unique_ptr<JsonValue>, bool>;

template <bool bBuild, class... Args>
Node<bBuild> MakeNode(Args&&... args) {
    if constexpr (bBuild) return std::make_unique<JsonValue>(std::forward<Args>(args)...);
    else return true;
}

template <bool bBuild>
Node<bBuild> ReadValue(const WCHAR*& p, int nDepth);

// Numbers are computed digit by digit in double precision, the way PBX answers
// have always been read, rather than through the C runtime's conversion.
template <bool bBuild>
Node<bBuild> ParseNumber(const WCHAR*& p) {
    const bool bNegative = *p == L'-';
    if (bNegative) ++p;
    if (!IsDigit(*p)) return Node<bBuild>();

    double dValue = 0;
    if (*p == L'0') {
        ++p;  // digits after a leading zero are left behind for the caller to refuse
    } else {
        while (IsDigit(*p)) dValue = dValue * 10 + (*p++ - L'0');
    }

    if (*p == L'.') {
        ++p;
        if (!IsDigit(*p)) return Node<bBuild>();
        for (double dPlace = 0.1; IsDigit(*p); dPlace *= 0.1) dValue += (*p++ - L'0') * dPlace;
    }

    if (*p == L'e' || *p == L'E') {
        ++p;
        const bool bNegativeExponent = *p == L'-';
        if (*p == L'-' || *p == L'+') ++p;
        if (!IsDigit(*p)) return Node<bBuild>();
        unsigned nSteps = 0;
        while (IsDigit(*p)) {
            nSteps = nSteps * 10 + static_cast<unsigned>(*p++ - L'0');
            if (nSteps > MaxExponentSteps) nSteps = MaxExponentSteps;
        }
        for (; nSteps > 0; --nSteps) dValue = bNegativeExponent ? dValue / 10 : dValue * 10;
    }

    return MakeNode<bBuild>(bNegative ? -dValue : dValue);
}

// Reads the elements of an array or the members of an object after the opening
// bracket, up to and including chClose. Brackets with only white space between
// them are empty; a comma before the first element or the closing bracket fails.
template <class ReadElement>
bool ParseElements(const WCHAR*& p, WCHAR chClose, ReadElement readElement) {
    for (bool bFirst = true;; bFirst = false) {
        if (!CJsonParserBase::SkipWhitespace(p)) return false;
        if (bFirst && *p == chClose) break;
        if (!readElement(p) || !CJsonParserBase::SkipWhitespace(p)) return false;
        if (*p == chClose) break;
        if (*p != L',') return false;
        ++p;
    }
    ++p;
    return true;
}

template <bool bBuild>
Node<bBuild> ParseArray(const WCHAR*& p, int nDepth) {
    JsonValue::ArrayItems items;
    const bool bParsed = ParseElements(p, L']', [&](const WCHAR*& q) {
        Node<bBuild> pItem = ReadValue<bBuild>(q, nDepth);
        if (!pItem) return false;
        if constexpr (bBuild) items.push_back(std::move(pItem));
        return true;
    });
    return bParsed ? MakeNode<bBuild>(std::move(items)) : Node<bBuild>();
}

template <bool bBuild>
Node<bBuild> ParseObject(const WCHAR*& p, int nDepth) {
    JsonValue::ObjectMembers members;
    const bool bParsed = ParseElements(p, L'}', [&](const WCHAR*& q) {
        std::wstring sKey;
        if (*q != L'"' || !CJsonParserBase::ParseString(++q, sKey)) return false;
        if (!CJsonParserBase::SkipWhitespace(q) || *q != L':') return false;
        ++q;
        if (!CJsonParserBase::SkipWhitespace(q)) return false;
        Node<bBuild> pValue = ReadValue<bBuild>(q, nDepth);
        if (!pValue) return false;
        // A repeated key keeps its last value; the earlier one is released here.
        if constexpr (bBuild) members.insert_or_assign(std::move(sKey), std::move(pValue));
        return true;
    });
    return bParsed ? MakeNode<bBuild>(std::move(members)) : Node<bBuild>();
}

template <bool bBuild>
Node<bBuild> ReadValue(const WCHAR*& p, int nDepth) {
    const WCHAR c = *p;
    if (c == L'"') {
        std::wstring sText;
        if (!CJsonParserBase::ParseString(++p, sText)) return Node<bBuild>();
        return MakeNode<bBuild>(std::move(sText));
    }
    // Only the word is taken; a letter right after it is left for the caller to refuse.
    if (MatchesWord(p, L"true")) {
        p += 4;
        return MakeNode<bBuild>(true);
    }
    if (MatchesWord(p, L"false")) {
        p += 5;
        return MakeNode<bBuild>(false);
    }
    if (MatchesWord(p, L"null")) {
        p += 4;
        return MakeNode<bBuild>();
    }
    if (c == L'-' || IsDigit(c)) return ParseNumber<bBuild>(p);
    if (c == L'{' || c == L'[') {
        if (nDepth >= CJsonParserBase::MaxNestingDepth) return Node<bBuild>();
        ++p;
        return c == L'{' ? ParseObject<bBuild>(p, nDepth + 1) : ParseArray<bBuild>(p, nDepth + 1);
    }
    return Node<bBuild>();
}

template <bool bBuild>
Node<bBuild> ReadText(const WCHAR* pszText) {
    if (pszText == nullptr) return Node<bBuild>();
    try {
        const WCHAR* p = pszText;
        if (!CJsonParserBase::SkipWhitespace(p)) return Node<bBuild>();
        Node<bBuild> pRoot = ReadValue<bBuild>(p, 0);
        // Only white space may follow the root: the event framing relies on it.
        if (!pRoot || CJsonParserBase::SkipWhitespace(p)) return Node<bBuild>();
        return pRoot;
    } catch (const std::bad_alloc&) {
        return Node<bBuild>();
    }
}

}  // namespace

BOOL CJsonParserBase::Parse(const WCHAR* pszText) {
    Clear();
    std::unique_ptr<JsonValue> pRoot = ParseText(pszText);
    const JsonValue::ObjectMembers* pMembers = pRoot ? pRoot->GetIf<JsonValue::Object>() : nullptr;
    if (pMembers == nullptr) return FALSE;
    try {
        for (const auto& [sKey, pValue] : *pMembers) m_Index.emplace_hint(m_Index.end(), sKey, pValue.get());
    } catch (const std::bad_alloc&) {
        Clear();
        return FALSE;
    }
    m_pRoot = std::move(pRoot);
    return TRUE;
}

void CJsonParserBase::Clear() {
    m_Index.clear();
    m_pRoot.reset();
}

const JsonValue* CJsonParserBase::Find(const WCHAR* pszKey) const {
    if (pszKey == nullptr) return nullptr;
    const auto it = m_Index.find(pszKey);
    return it != m_Index.end() ? it->second : nullptr;
}

std::wstring CJsonParserBase::GetString(const WCHAR* pszKey, size_t cchMax) const {
    const JsonValue* pValue = Find(pszKey);
    const std::wstring* psText = pValue ? pValue->GetIf<JsonValue::String>() : nullptr;
    if (psText == nullptr) return {};
    try {
        return psText->substr(0, Utf16CutLength(psText->data(), psText->size(), cchMax));
    } catch (const std::bad_alloc&) {
        return {};
    }
}

LONG CJsonParserBase::GetInt(const WCHAR* pszKey) const {
    const JsonValue* pValue = Find(pszKey);
    const double* pdNumber = pValue ? pValue->GetIf<JsonValue::Number>() : nullptr;
    if (pdNumber == nullptr) return 0;
    // The negated test also sends NaN and the infinities to the out-of-range result.
    if (!(*pdNumber > -2147483649.0 && *pdNumber < 2147483648.0)) return static_cast<LONG>(-2147483647 - 1);
    return static_cast<LONG>(*pdNumber);
}

BOOL CJsonParserBase::GetBool(const WCHAR* pszKey) const {
    const JsonValue* pValue = Find(pszKey);
    const bool* pbValue = pValue ? pValue->GetIf<JsonValue::Bool>() : nullptr;
    return (pbValue != nullptr && *pbValue) ? TRUE : FALSE;
}

std::unique_ptr<JsonValue> CJsonParserBase::ParseText(const WCHAR* pszText) { return ReadText<true>(pszText); }

BOOL CJsonParserBase::IsJsonText(const WCHAR* pszText) { return ReadText<false>(pszText) ? TRUE : FALSE; }

std::unique_ptr<JsonValue> CJsonParserBase::ParseValue(const WCHAR*& pszPos, int nDepth) {
    return ReadValue<true>(pszPos, nDepth);
}

BOOL CJsonParserBase::ParseString(const WCHAR*& pszPos, std::wstring& sText) {
    sText.clear();
    const WCHAR* p = pszPos;
    for (;;) {
        const WCHAR c = *p++;
        if (c == L'\0') return FALSE;
        if (c == L'"') break;
        if (c == L'\\') {
            if (!AppendEscape(p, sText)) return FALSE;
        } else if (static_cast<unsigned>(c) < 0x20 && c != L'\t') {
            return FALSE;  // raw control characters other than TAB, line ends included
        } else {
            sText += c;
        }
    }
    pszPos = p;
    return TRUE;
}

BOOL CJsonParserBase::SkipWhitespace(const WCHAR*& pszPos) {
    while (*pszPos == L' ' || *pszPos == L'\t' || *pszPos == L'\r' || *pszPos == L'\n') ++pszPos;
    return *pszPos != L'\0' ? TRUE : FALSE;
}
