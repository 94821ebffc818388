#include "config/CPredialNumbers.h"

#include <cwchar>

#include "common/BoundedString.h"
#include "config/NumberFormat.h"
#include "log/Trace.h"

DWORD g_dwCountryCode = 0;

namespace {
constexpr wchar_t kLocationsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Locations";
constexpr DWORD kProbedLocations = 20;
}  // namespace

CPredialNumbers::CPredialNumbers() { ReadCurrentLocation(); }

int CPredialNumbers::ReadCurrentLocation() {
    CFuncTrace trace(3, L"CPredialNumbers::ReadCurrentLocation");
    if (OpenReadOnly(HKEY_LOCAL_MACHINE, kLocationsKey) != ERROR_SUCCESS) return trace.End(0);
    int nRead = ReadDword(L"CurrentID", &m_dwCurrentID, 0);
    Close();
    if (!nRead) return trace.End(0);

    if (!ReadLocation(m_dwCurrentID)) {
        // The current id may name a location that was deleted; take the first that exists.
        for (DWORD dwID = 0; dwID < kProbedLocations; ++dwID) {
            if (ReadLocation(dwID)) {
                m_dwCurrentID = dwID;
                break;
            }
        }
    }
    SetPrefixesByCountry();
    trace.Var(L"m_dwCurrentID", L"%u", m_dwCurrentID);
    trace.Var(L"m_szCountry", L"%s", m_szCountry);
    trace.Var(L"m_szNationalPrefix", L"%s", m_szNationalPrefix);
    trace.Var(L"m_szInternationalPrefix", L"%s", m_szInternationalPrefix);
    return trace.End(1);
}

int CPredialNumbers::ReadLocation(DWORD dwID) {
    CFuncTrace trace(3, L"CPredialNumbers::ReadLocation");
    trace.Param(L"dwID", L"%u", dwID);
    wchar_t szKey[128];
    StrFormat(szKey, L"%s\\Location%d", kLocationsKey, static_cast<int>(dwID));
    if (OpenReadOnly(HKEY_LOCAL_MACHINE, szKey) != ERROR_SUCCESS) return trace.End(0);

    ReadDword(L"Country", &g_dwCountryCode, 0);
    m_dwCountryLen = static_cast<DWORD>(StrFormat(m_szCountry, L"%d", static_cast<int>(g_dwCountryCode)));
    wchar_t szAreaCode[20];
    ReadString(L"AreaCode", szAreaCode, 20, L"");
    int nAreaCode = _wtoi(szAreaCode);
    if (nAreaCode != 0) StrFormat(m_szAreaCode, L"%d", nAreaCode);
    ReadString(L"OutsideAccess", m_szOutsideAccess, 20, L"");
    ReadString(L"LongDistanceAccess", m_szLongDistanceAccess, 20, L"");
    ReadString(L"LongDistanceCarrierCode", m_szLongDistanceCarrierCode, 20, L"");
    ReadString(L"InternationalCarrierCode", m_szInternationalCarrierCode, 20, L"");
    Close();
    return trace.End(1);
}

void CPredialNumbers::SetPrefixesByCountry() {
    CountryPrefixes prefixes = LookUpCountryPrefixes(g_dwCountryCode);
    StrCopy(m_szInternationalPrefix, prefixes.pszInternational);
    if (prefixes.pszNational != nullptr) StrCopy(m_szNationalPrefix, prefixes.pszNational);
}

std::wstring CPredialNumbers::Format(const std::wstring& number, int nFormatType, int* pnNationalTest) const {
    DialingPrefixes prefixes{m_szCountry, m_dwCountryLen, m_szNationalPrefix, m_szInternationalPrefix};
    return FormatNumber(number, nFormatType, prefixes, pnNationalTest);
}
