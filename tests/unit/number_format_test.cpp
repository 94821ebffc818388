// Number formats 0 to 3 for dialing locations of several countries, without
// any registry, and dialled numbers reduced to what the PBX dials.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "config/NumberFormat.h"
#include "model/NumberText.h"

namespace {
// What a dialing location in the given country contributes, as the location
// reader fills it: the country as text (kept in country) and the table's prefixes.
DialingPrefixes PrefixesOf(DWORD dwCountry, std::wstring& country) {
    country = std::to_wstring(dwCountry);
    const CountryPrefixes prefixes = LookUpCountryPrefixes(dwCountry);
    return {country.c_str(), country.size(), prefixes.pszNational != nullptr ? prefixes.pszNational : L"",
            prefixes.pszInternational};
}

TEST(NumberFormatTest, FormatsByCountryAndType) {
    // nNationalTest 99: format 2 not used, left alone.
    const struct { DWORD dwCountry; int nFormat; const wchar_t *pszNumber, *pszExpected; int nNationalTest; } cases[] = {
        {49, 0, L"493012345678", L"+493012345678", 99},
        {49, 1, L"493012345678", L"493012345678", 99},
        {49, 2, L"493012345678", L"03012345678", 0},
        {49, 3, L"493012345678", L"00493012345678", 99},
        {49, 2, L"41441234567", L"0041441234567", 1},
        {1, 2, L"12125551234", L"12125551234", 0},
        {1, 2, L"493012345678", L"011493012345678", 1},
        {33, 2, L"33123456789", L"123456789", 0},
        {49, 7, L"493012345678", L"+493012345678", 99},
        {49, 2, L"12345", L"12345", 99},  // 5 characters: an extension, never changed
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "country " << c.dwCountry << ", format " << c.nFormat << ", number "
                                        << std::wstring(c.pszNumber).size() << " characters");
        std::wstring country;
        int nNationalTest = 99;
        EXPECT_EQ(c.pszExpected, FormatNumber(c.pszNumber, c.nFormat, PrefixesOf(c.dwCountry, country), &nNationalTest));
        EXPECT_EQ(c.nNationalTest == 0, nNationalTest == 0);
        EXPECT_EQ(c.nNationalTest == 99, nNationalTest == 99);
    }
}

TEST(CleanNumber, ReducesDialStringsToDigitsAndHash) {
    struct Case { const wchar_t* pszInput; const wchar_t* pszExpected; };
    const Case cases[] = {
        {L"(030) 12/34-56", L"030123456"},
        {L"*21#", L"21#"},
        {L"NMuster <0301234> mobil", L"0301234"},
        {L"N0301234", L"0301234"},   // no "<": the prefix stays and is removed as a letter
        {L"N<0301234", L"0301234"},  // no ">": unchanged by the prefix rule
        {L"N<+49301234>", L"+49301234"},
        {L"T0301234", L"0301234"},
        {L"T1234567890123456789", L"123456789012345678"},  // prefix rewrites keep 18 characters
        {L"+49-30/1234", L"+49-30/1234"},                  // international numbers stay as typed
        {L"abc", L""},
    };
    for (const Case& c : cases) {
        WCHAR szNumber[kDialBufferChars] = {};
        wcsncpy(szNumber, c.pszInput, kDialBufferChars - 1);
        CleanNumber(szNumber);
        EXPECT_EQ(std::wstring(szNumber), c.pszExpected) << "input " << testing::PrintToString(std::wstring(c.pszInput));
    }
    CleanNumber(nullptr);
}

TEST(CleanNumber, StaysInsideAnUnterminatedBuffer) {
    WCHAR szNumber[kDialBufferChars + 1];
    for (unsigned i = 0; i < kDialBufferChars; ++i) szNumber[i] = L'7';
    szNumber[kDialBufferChars] = L'X';  // guard just past the buffer
    CleanNumber(szNumber);
    EXPECT_EQ(szNumber[kDialBufferChars], L'X');
    EXPECT_EQ(std::wstring(szNumber), std::wstring(kDialBufferChars - 1, L'7'));
}

}  // namespace
