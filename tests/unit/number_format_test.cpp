// Number formats 0 to 3 and the country table, without any registry.
#include <gtest/gtest.h>

#include <string>

#include "config/NumberFormat.h"

namespace {
// What a dialing location in the given country contributes, as the location
// reader fills it (country text and the table's prefixes).
struct Location {
    std::wstring country;
    std::wstring national;
    std::wstring international;

    explicit Location(DWORD dwCountry) : country(std::to_wstring(dwCountry)) {
        CountryPrefixes prefixes = LookUpCountryPrefixes(dwCountry);
        national = prefixes.pszNational != nullptr ? prefixes.pszNational : L"";
        international = prefixes.pszInternational;
    }
    DialingPrefixes Prefixes() const {
        return {country.c_str(), country.size(), national.c_str(), international.c_str()};
    }
};

TEST(NumberFormatTest, FormatsByCountryAndType) {
    const struct {
        DWORD dwCountry;
        int nFormat;
        const wchar_t* pszNumber;
        const wchar_t* pszExpected;
        int nNationalTest;  // 99: format 2 not used, left alone
    } cases[] = {
        {49, 0, L"493012345678", L"+493012345678", 99},
        {49, 1, L"493012345678", L"493012345678", 99},
        {49, 2, L"493012345678", L"03012345678", 0},
        {49, 3, L"493012345678", L"00493012345678", 99},
        {49, 2, L"41441234567", L"0041441234567", 1},
        {1, 2, L"12125551234", L"12125551234", 0},
        {1, 2, L"493012345678", L"011493012345678", 1},
        {33, 2, L"33123456789", L"123456789", 0},
        {7, 2, L"74951234567", L"84951234567", 0},
        {61, 3, L"493012345678", L"0011493012345678", 99},
        {49, 7, L"493012345678", L"+493012345678", 99},
        {49, 2, L"12345", L"12345", 99},  // 5 characters: an extension, never changed
        {49, 0, L"123456", L"+123456", 99},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "country " << c.dwCountry << ", format " << c.nFormat << ", number "
                                        << std::wstring(c.pszNumber).size() << " characters");
        Location location(c.dwCountry);
        int nNationalTest = 99;
        EXPECT_EQ(c.pszExpected, FormatNumber(c.pszNumber, c.nFormat, location.Prefixes(), &nNationalTest));
        EXPECT_EQ(c.nNationalTest == 0, nNationalTest == 0);
        EXPECT_EQ(c.nNationalTest == 99, nNationalTest == 99);
    }
}

// One country of every prefix pair, the ends of multi-country ranges, and codes
// outside the table, which get "0" and "00".
TEST(NumberFormatTest, CountryTable) {
    const struct {
        DWORD dwCode;
        const wchar_t* pszNational;  // null: the table gives none
        const wchar_t* pszInternational;
    } cases[] = {
        {1, L"1", L"011"},     {692, L"1", L"011"},   {7, L"8", L"810"},     {993, L"8", L"810"},
        {371, L"8", L"00"},    {36, L"06", L"00"},    {52, L"01", L"00"},    {57, L"09", L"009"},
        {53, L"0", L"119"},    {61, L"0", L"0011"},   {855, L"0", L"001"},   {81, L"0", L"010"},
        {234, L"0", L"009"},   {256, L"0", L"000"},   {268, L"0", L"00*"},   {886, L"0", L"002"},
        {852, nullptr, L"001"}, {685, nullptr, L"0"}, {235, nullptr, L"15"}, {675, nullptr, L"05"},
        {680, nullptr, L"011"}, {850, nullptr, L"99"}, {33, nullptr, L"00"}, {220, nullptr, L"00"},
        {231, nullptr, L"00"}, {975, nullptr, L"00"},
        {0, L"0", L"00"},      {49, L"0", L"00"},     {232, L"0", L"00"},    {994, L"0", L"00"},
    };
    for (const auto& c : cases) {
        CountryPrefixes prefixes = LookUpCountryPrefixes(c.dwCode);
        if (c.pszNational == nullptr)
            EXPECT_EQ(nullptr, prefixes.pszNational) << "country " << c.dwCode;
        else
            EXPECT_STREQ(c.pszNational, prefixes.pszNational) << "country " << c.dwCode;
        EXPECT_STREQ(c.pszInternational, prefixes.pszInternational) << "country " << c.dwCode;
    }
}
}  // namespace
