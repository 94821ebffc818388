// Windows wide-format semantics on glibc: the format is rewritten into the
// glibc spelling of the same conversions, then glibc formats it.
#include "WindowsWideFormat.h"

#undef vswprintf
#undef swprintf

namespace {

bool IsFlagOrWidth(wchar_t c) { return wcschr(L"-+ #0123456789.*", c) != nullptr && c != L'\0'; }

bool IsIntegerConversion(wchar_t c) { return wcschr(L"diouxX", c) != nullptr && c != L'\0'; }

// One conversion after its "%" and flags: the Windows size prefix at p, then
// the conversion letter. Appends the glibc spelling and returns the position
// after the conversion.
const wchar_t* TranslateConversion(const wchar_t* p, std::wstring& sOut) {
    enum class Size { None, Short, Long, Other } size = Size::None;
    std::wstring sPrefix;
    if (p[0] == L'I' && p[1] == L'6' && p[2] == L'4') {
        sPrefix = L"ll", size = Size::Other, p += 3;
    } else if (p[0] == L'I' && p[1] == L'3' && p[2] == L'2') {
        p += 3;
    } else if (p[0] == L'I') {
        sPrefix = L"z", size = Size::Other, p += 1;
    } else if (p[0] == L'l' && p[1] == L'l') {
        sPrefix = L"ll", size = Size::Other, p += 2;
    } else if (p[0] == L'h' && p[1] == L'h') {
        sPrefix = L"hh", size = Size::Other, p += 2;
    } else if (p[0] == L'h') {
        sPrefix = L"h", size = Size::Short, p += 1;
    } else if (p[0] == L'l' || p[0] == L'w') {
        sPrefix = L"l", size = Size::Long, p += 1;
    } else if (p[0] == L'z' || p[0] == L'j' || p[0] == L't' || p[0] == L'L') {
        sPrefix = *p, size = Size::Other, p += 1;
    }

    const wchar_t c = *p;
    if (c == L'\0') {
        sOut += sPrefix;
        return p;
    }
    switch (c) {
    case L's': sOut += size == Size::Short ? L"s" : L"ls"; break;   // wide unless "h"
    case L'S': sOut += size == Size::Long ? L"ls" : L"s"; break;    // narrow unless "l"/"w"
    case L'c': sOut += size == Size::Short ? L"c" : L"lc"; break;
    case L'C': sOut += size == Size::Long ? L"lc" : L"c"; break;
    default:
        // A Windows long is 32 bits: "%lu" of a DWORD reads an int.
        if (size == Size::Long && IsIntegerConversion(c)) sPrefix.clear();
        sOut += sPrefix;
        sOut += c;
    }
    return p + 1;
}

std::wstring TranslateFormat(const wchar_t* pszFormat) {
    std::wstring sOut;
    for (const wchar_t* p = pszFormat; *p != L'\0';) {
        sOut += *p;
        if (*p++ != L'%') continue;
        if (*p == L'%') {
            sOut += *p++;
            continue;
        }
        while (IsFlagOrWidth(*p)) sOut += *p++;
        p = TranslateConversion(p, sOut);
    }
    return sOut;
}

}  // namespace

int WindowsVswprintf(wchar_t* pszDest, size_t cchDest, const wchar_t* pszFormat, va_list args) {
    if (pszFormat == nullptr) return -1;
    return vswprintf(pszDest, cchDest, TranslateFormat(pszFormat).c_str(), args);
}

int WindowsSwprintf(wchar_t* pszDest, size_t cchDest, const wchar_t* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    const int n = WindowsVswprintf(pszDest, cchDest, pszFormat, args);
    va_end(args);
    return n;
}
