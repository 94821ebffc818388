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
    } cases[] = {
        {49, 0, L"493012345678", L"+493012345678"},
        {49, 1, L"493012345678", L"493012345678"},
        {49, 2, L"493012345678", L"03012345678"},
        {49, 3, L"493012345678", L"00493012345678"},
        {49, 2, L"41441234567", L"0041441234567"},
        {1, 2, L"12125551234", L"12125551234"},
        {1, 2, L"493012345678", L"011493012345678"},
        {1, 3, L"493012345678", L"011493012345678"},
        {33, 2, L"33123456789", L"123456789"},
        {33, 2, L"493012345678", L"00493012345678"},
        {7, 2, L"74951234567", L"84951234567"},
        {61, 2, L"493012345678", L"0011493012345678"},
        {49, 7, L"493012345678", L"+493012345678"},
        {49, -1, L"493012345678", L"+493012345678"},
        {49, 2, L"12345", L"12345"},      // 5 characters: an extension, never changed
        {49, 0, L"12345", L"12345"},
        {49, 3, L"", L""},
        {49, 0, L"123456", L"+123456"},   // 6 characters are formatted
        {49, 2, L"491234", L"01234"},
    };
    for (const auto& c : cases) {
        Location location(c.dwCountry);
        int nNationalTest = 99;
        EXPECT_EQ(c.pszExpected, FormatNumber(c.pszNumber, c.nFormat, location.Prefixes(), &nNationalTest))
            << "country " << c.dwCountry << ", format " << c.nFormat << ", number " << std::wstring(c.pszNumber).size()
            << " characters";
    }
}

TEST(NumberFormatTest, NationalTestIsReportedForFormatTwo) {
    Location germany(49);
    int nNationalTest = 99;
    FormatNumber(L"493012345678", 2, germany.Prefixes(), &nNationalTest);
    EXPECT_EQ(0, nNationalTest);
    FormatNumber(L"413012345678", 2, germany.Prefixes(), &nNationalTest);
    EXPECT_NE(0, nNationalTest);
    nNationalTest = 99;
    FormatNumber(L"413012345678", 3, germany.Prefixes(), &nNationalTest);
    EXPECT_EQ(99, nNationalTest);
}

TEST(NumberFormatTest, WithoutLocation) {
    // No "CurrentID": nothing known, format 2 and 3 leave the number as it is.
    DialingPrefixes unknown{L"", 0, L"", L""};
    EXPECT_EQ(L"493012345678", FormatNumber(L"493012345678", 2, unknown));
    EXPECT_EQ(L"493012345678", FormatNumber(L"493012345678", 3, unknown));
    // "CurrentID" but no location: country 0 with the default prefixes.
    CountryPrefixes none = LookUpCountryPrefixes(0);
    DialingPrefixes defaults{L"", 0, none.pszNational, none.pszInternational};
    EXPECT_EQ(L"0493012345678", FormatNumber(L"493012345678", 2, defaults));
    EXPECT_EQ(L"00493012345678", FormatNumber(L"493012345678", 3, defaults));
}

TEST(NumberFormatTest, CountryTable) {
    const struct {
        DWORD dwCode;
        const wchar_t* pszNational;  // null: the table gives none
        const wchar_t* pszInternational;
    } cases[] = {
        {1, L"1", L"011"},     {691, L"1", L"011"},   {692, L"1", L"011"},   {7, L"8", L"810"},
        {375, L"8", L"810"},   {380, L"8", L"810"},   {992, L"8", L"810"},   {993, L"8", L"810"},
        {995, L"8", L"810"},   {998, L"8", L"810"},   {370, L"8", L"00"},    {371, L"8", L"00"},
        {36, L"06", L"00"},    {52, L"01", L"00"},    {57, L"09", L"009"},   {53, L"0", L"119"},
        {61, L"0", L"0011"},   {62, L"0", L"001"},    {66, L"0", L"001"},    {82, L"0", L"001"},
        {855, L"0", L"001"},   {81, L"0", L"010"},    {234, L"0", L"009"},   {254, L"0", L"000"},
        {255, L"0", L"000"},   {256, L"0", L"000"},   {268, L"0", L"00*"},   {886, L"0", L"002"},
        {65, nullptr, L"001"}, {592, nullptr, L"001"}, {852, nullptr, L"001"}, {238, nullptr, L"0"},
        {685, nullptr, L"0"},  {235, nullptr, L"15"}, {675, nullptr, L"05"}, {680, nullptr, L"011"},
        {850, nullptr, L"99"},
        // The long row of countries without a trunk prefix, ends of its ranges included.
        {33, nullptr, L"00"},  {34, nullptr, L"00"},  {45, nullptr, L"00"},  {47, nullptr, L"00"},
        {95, nullptr, L"00"},  {220, nullptr, L"00"}, {231, nullptr, L"00"}, {236, nullptr, L"00"},
        {237, nullptr, L"00"}, {239, nullptr, L"00"}, {242, nullptr, L"00"}, {245, nullptr, L"00"},
        {248, nullptr, L"00"}, {250, nullptr, L"00"}, {252, nullptr, L"00"}, {253, nullptr, L"00"},
        {257, nullptr, L"00"}, {258, nullptr, L"00"}, {261, nullptr, L"00"}, {262, nullptr, L"00"},
        {265, nullptr, L"00"}, {267, nullptr, L"00"}, {290, nullptr, L"00"}, {297, nullptr, L"00"},
        {299, nullptr, L"00"}, {350, nullptr, L"00"}, {352, nullptr, L"00"}, {354, nullptr, L"00"},
        {356, nullptr, L"00"}, {357, nullptr, L"00"}, {376, nullptr, L"00"}, {378, nullptr, L"00"},
        {420, nullptr, L"00"}, {423, nullptr, L"00"}, {500, nullptr, L"00"}, {504, nullptr, L"00"},
        {506, nullptr, L"00"}, {509, nullptr, L"00"}, {590, nullptr, L"00"}, {594, nullptr, L"00"},
        {596, nullptr, L"00"}, {597, nullptr, L"00"}, {670, nullptr, L"00"}, {674, nullptr, L"00"},
        {676, nullptr, L"00"}, {679, nullptr, L"00"}, {681, nullptr, L"00"}, {683, nullptr, L"00"},
        {687, nullptr, L"00"}, {690, nullptr, L"00"}, {853, nullptr, L"00"}, {960, nullptr, L"00"},
        {968, nullptr, L"00"}, {973, nullptr, L"00"}, {975, nullptr, L"00"},
        // Not in the table: "0" and "00".
        {0, L"0", L"00"},      {41, L"0", L"00"},     {44, L"0", L"00"},     {49, L"0", L"00"},
        {232, L"0", L"00"},    {243, L"0", L"00"},    {249, L"0", L"00"},    {251, L"0", L"00"},
        {505, L"0", L"00"},    {684, L"0", L"00"},    {686, L"0", L"00"},    {972, L"0", L"00"},
        {976, L"0", L"00"},    {994, L"0", L"00"},    {999, L"0", L"00"},
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
