// Numbers as TAPI applications see them: the PBX reports international
// numbers without "+", and the user picks how they are shown. Free of
// Windows calls so that it can be built natively for sanitizers.
#pragma once

#include <cstddef>
#include <string>

#include "common/Types.h"

// Trunk prefixes of one country. pszNational is null where the country has
// none (then the national prefix stays empty).
struct CountryPrefixes {
    const wchar_t* pszNational;
    const wchar_t* pszInternational;
};
CountryPrefixes LookUpCountryPrefixes(DWORD dwCountryCode);

// What the current dialing location contributes to formatting.
struct DialingPrefixes {
    const wchar_t* pszCountry;        // own country code as text, may be empty
    size_t cchCountry;
    const wchar_t* pszNational;
    const wchar_t* pszInternational;
};

// Formats 0 (and any unknown value): "+" and the number; 1: unchanged;
// 2: phone-book form for the own dialing location; 3: international prefix
// and the number. Numbers of 5 characters or fewer (extensions) stay as they
// are. For format 2, *pnNationalTest receives the country comparison (0: own
// country).
std::wstring FormatNumber(const std::wstring& number, int nFormatType, const DialingPrefixes& prefixes,
                          int* pnNationalTest = nullptr);
