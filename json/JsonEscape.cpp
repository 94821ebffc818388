#include "json/JsonEscape.h"

#include <cwchar>

std::wstring JsonEscape(const std::wstring& text) {
    std::wstring escaped;
    escaped.reserve(text.size());
    for (wchar_t ch : text) {
        switch (ch) {
        case L'"': escaped += L"\\\""; break;
        case L'\\': escaped += L"\\\\"; break;
        case L'\b': escaped += L"\\b"; break;
        case L'\f': escaped += L"\\f"; break;
        case L'\n': escaped += L"\\n"; break;
        case L'\r': escaped += L"\\r"; break;
        case L'\t': escaped += L"\\t"; break;
        default:
            if (ch < 0x20) {
                wchar_t szCode[8];
                swprintf(szCode, 8, L"\\u%04x", static_cast<unsigned>(ch));
                escaped += szCode;
            } else {
                escaped += ch;
            }
        }
    }
    return escaped;
}
