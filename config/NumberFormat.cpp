#include "config/NumberFormat.h"

namespace {
struct CodeRange {
    DWORD first;
    DWORD last;
};

struct PrefixRow {
    const CodeRange* pRanges;
    size_t cRanges;
    CountryPrefixes prefixes;
};

template <size_t N>
constexpr PrefixRow Row(const CodeRange (&ranges)[N], const wchar_t* pszNational, const wchar_t* pszInternational) {
    return PrefixRow{ranges, N, {pszNational, pszInternational}};
}

constexpr CodeRange kRow1[] = {{1, 1}, {691, 692}};
constexpr CodeRange kRow8_810[] = {{7, 7}, {375, 375}, {380, 380}, {992, 993}, {995, 995}, {998, 998}};
constexpr CodeRange kRow8_00[] = {{370, 371}};
constexpr CodeRange kRow36[] = {{36, 36}};
constexpr CodeRange kRow52[] = {{52, 52}};
constexpr CodeRange kRow57[] = {{57, 57}};
constexpr CodeRange kRow53[] = {{53, 53}};
constexpr CodeRange kRow61[] = {{61, 61}};
constexpr CodeRange kRow0_001[] = {{62, 62}, {66, 66}, {82, 82}, {855, 855}};
constexpr CodeRange kRow81[] = {{81, 81}};
constexpr CodeRange kRow234[] = {{234, 234}};
constexpr CodeRange kRow0_000[] = {{254, 256}};
constexpr CodeRange kRow268[] = {{268, 268}};
constexpr CodeRange kRow886[] = {{886, 886}};
constexpr CodeRange kRowNone_001[] = {{65, 65}, {592, 592}, {852, 852}};
constexpr CodeRange kRowNone_0[] = {{238, 238}, {685, 685}};
constexpr CodeRange kRow235[] = {{235, 235}};
constexpr CodeRange kRow675[] = {{675, 675}};
constexpr CodeRange kRow680[] = {{680, 680}};
constexpr CodeRange kRow850[] = {{850, 850}};
constexpr CodeRange kRowNone_00[] = {
    {33, 34},   {45, 45},   {47, 47},   {95, 95},   {220, 231}, {236, 237}, {239, 242}, {245, 248},
    {250, 250}, {252, 253}, {257, 258}, {261, 262}, {265, 267}, {290, 290}, {297, 299}, {350, 352},
    {354, 354}, {356, 357}, {376, 378}, {420, 420}, {423, 423}, {500, 504}, {506, 509}, {590, 590},
    {594, 594}, {596, 597}, {670, 670}, {674, 674}, {676, 679}, {681, 683}, {687, 690}, {853, 853},
    {960, 960}, {968, 968}, {973, 975}};

constexpr PrefixRow kCountryTable[] = {
    Row(kRow1, L"1", L"011"),         Row(kRow8_810, L"8", L"810"),      Row(kRow8_00, L"8", L"00"),
    Row(kRow36, L"06", L"00"),        Row(kRow52, L"01", L"00"),         Row(kRow57, L"09", L"009"),
    Row(kRow53, L"0", L"119"),        Row(kRow61, L"0", L"0011"),        Row(kRow0_001, L"0", L"001"),
    Row(kRow81, L"0", L"010"),        Row(kRow234, L"0", L"009"),        Row(kRow0_000, L"0", L"000"),
    Row(kRow268, L"0", L"00*"),       Row(kRow886, L"0", L"002"),        Row(kRowNone_001, nullptr, L"001"),
    Row(kRowNone_0, nullptr, L"0"),   Row(kRow235, nullptr, L"15"),      Row(kRow675, nullptr, L"05"),
    Row(kRow680, nullptr, L"011"),    Row(kRow850, nullptr, L"99"),      Row(kRowNone_00, nullptr, L"00"),
};

constexpr CountryPrefixes kDefaultPrefixes{L"0", L"00"};

// Country codes are digits, so this is an exact comparison in practice.
int CompareStart(const std::wstring& number, const wchar_t* pszCountry, size_t cchCountry) {
    for (size_t i = 0; i < cchCountry; ++i) {
        wchar_t a = i < number.size() ? number[i] : L'\0';
        wchar_t b = pszCountry[i];
        if (a >= L'A' && a <= L'Z') a = static_cast<wchar_t>(a - L'A' + L'a');
        if (b >= L'A' && b <= L'Z') b = static_cast<wchar_t>(b - L'A' + L'a');
        if (a != b) return a < b ? -1 : 1;
        if (a == L'\0') break;
    }
    return 0;
}
}  // namespace

CountryPrefixes LookUpCountryPrefixes(DWORD dwCountryCode) {
    for (const PrefixRow& row : kCountryTable)
        for (size_t i = 0; i < row.cRanges; ++i)
            if (dwCountryCode >= row.pRanges[i].first && dwCountryCode <= row.pRanges[i].last) return row.prefixes;
    return kDefaultPrefixes;
}

std::wstring FormatNumber(const std::wstring& number, int nFormatType, const DialingPrefixes& prefixes,
                          int* pnNationalTest) {
    if (number.size() <= 5) return number;
    switch (nFormatType) {
        case 1:
            return number;
        case 2: {
            int nNationalTest = CompareStart(number, prefixes.pszCountry, prefixes.cchCountry);
            if (pnNationalTest != nullptr) *pnNationalTest = nNationalTest;
            if (nNationalTest == 0)
                return prefixes.pszNational + number.substr(prefixes.cchCountry < number.size() ? prefixes.cchCountry : number.size());
            return prefixes.pszInternational + number;
        }
        case 3:
            return prefixes.pszInternational + number;
        default:
            return L"+" + number;
    }
}
