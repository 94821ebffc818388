// Wide formatting in the native build reads formats the Windows way, so that
// the bounded-format helpers give the same text as in the product.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "common/BoundedString.h"
#include "common/Types.h"

namespace {

struct FormatCase {
    const wchar_t* pszWhat;
    std::function<size_t(wchar_t (&)[64])> format;
    const wchar_t* pszExpected;
};

TEST(WideFormat, ConversionsHaveTheirWindowsMeaning) {
    const DWORD dwError = 12029;
    const LONG lResult = -2147483647 - 1;
    const FormatCase cases[] = {
        {L"%s is wide", [](auto& sz) { return StrFormat(sz, L"VERB: %s|", L"POST"); }, L"VERB: POST|"},
        {L"width and precision on %s",
         [](auto& sz) { return StrFormat(sz, L"[%6s|%-4s|%.2s]", L"abc", L"ab", L"xyz"); }, L"[   abc|ab  |xy]"},
        {L"%ls and %ws are wide", [](auto& sz) { return StrFormat(sz, L"%ls %ws", L"a", L"b"); }, L"a b"},
        {L"%hs and %S are narrow", [](auto& sz) { return StrFormat(sz, L"%hs %S", "n1", "n2"); }, L"n1 n2"},
        {L"%c is wide, %hc and %C narrow",
         [](auto& sz) { return StrFormat(sz, L"%c%hc%C", L'\u00e9', 'x', 'y'); }, L"\u00e9xy"},
        {L"%lu and %ld read 32 bits",
         [&](auto& sz) { return StrFormat(sz, L"%lu (%ld) %08lX", dwError, lResult, DWORD{0xBEEF}); },
         L"12029 (-2147483648) 0000BEEF"},
        {L"%I64u and %lld read 64 bits",
         [](auto& sz) { return StrFormat(sz, L"%I64u %lld", uint64_t{1} << 40, -(int64_t{1} << 33)); },
         L"1099511627776 -8589934592"},
        {L"%% stays a percent sign", [](auto& sz) { return StrFormat(sz, L"100%% %%s %s", L"x"); }, L"100% %s x"},
    };
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        wchar_t szText[64];
        const size_t cch = c.format(szText);
        EXPECT_EQ(std::wstring(szText), c.pszExpected);
        EXPECT_EQ(cch, wcslen(c.pszExpected));
    }
}

TEST(WideFormat, OutputIsCutAndTerminated) {
    wchar_t szText[8];
    wmemset(szText, L'#', 8);
    EXPECT_EQ(StrFormat(szText, L"%s-%s", L"abcdef", L"ghijkl"), 7u);
    EXPECT_EQ(std::wstring(szText), L"abcdef-");
}

}  // namespace
