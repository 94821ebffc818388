// The machine's current TAPI dialing location: its country decides which
// numbers count as national and which trunk prefixes a phone-book number gets.
// Read once when the library is loaded; the Locations keys are only read.
#pragma once

#include <string>

#include "config/CRegTool.h"

class CPredialNumbers : public CRegTool {
public:
    CPredialNumbers();
    ~CPredialNumbers() override = default;

    // 1 when the current location could be read.
    int ReadCurrentLocation();
    // 1 when the location's key could be opened.
    int ReadLocation(DWORD dwID);
    void SetPrefixesByCountry();
    // The number in the given format (see FormatNumber) for this location.
    std::wstring Format(const std::wstring& number, int nFormatType, int* pnNationalTest = nullptr) const;

    DWORD m_dwCurrentID = 0;
    wchar_t m_szCountry[20] = {};
    DWORD m_dwCountryLen = 0;
    wchar_t m_szAreaCode[20] = {};
    wchar_t m_szOutsideAccess[20] = {};
    wchar_t m_szLongDistanceAccess[20] = {};
    wchar_t m_szNationalPrefix[20] = {};
    wchar_t m_szInternationalPrefix[20] = {};
    wchar_t m_szLongDistanceCarrierCode[20] = {};
    wchar_t m_szInternationalCarrierCode[20] = {};
};

// Country code of the location read; 0 until one was read.
extern DWORD g_dwCountryCode;
// The process's dialing-location reader.
extern CPredialNumbers g_Predial;
