// What the provider uses of TAPI32.DLL, the telephony client library: the
// list of installed providers and adding and removing one. The library is
// loaded at run time, as only the installation steps need it.
#pragma once

#include <windows.h>

#include <cstring>

#pragma pack(push, 1)
struct LINEPROVIDERLIST {
    DWORD dwTotalSize;
    DWORD dwNeededSize;
    DWORD dwUsedSize;
    DWORD dwNumProviders;
    DWORD dwProviderListSize;
    DWORD dwProviderListOffset;
};
static_assert(sizeof(LINEPROVIDERLIST) == 24, "TAPI 2.x layout");

struct LINEPROVIDERENTRY {
    DWORD dwPermanentProviderID;
    DWORD dwProviderFilenameSize;
    DWORD dwProviderFilenameOffset;
};
static_assert(sizeof(LINEPROVIDERENTRY) == 12, "TAPI 2.x layout");
#pragma pack(pop)

// Calls visit(permanent provider id, file name) for the entries of a list
// that lineGetProviderList filled, in order, until visit returns false.
// Entries that do not lie inside the list's used part, and names that do not
// end inside their field, are passed over.
template <typename Visit>
void ForEachListedProvider(const LINEPROVIDERLIST* pList, Visit visit) {
    const BYTE* pBase = reinterpret_cast<const BYTE*>(pList);
    const DWORD cbUsed = pList->dwUsedSize < pList->dwTotalSize ? pList->dwUsedSize : pList->dwTotalSize;
    DWORD dwFit = 0;
    if (pList->dwProviderListOffset <= cbUsed)
        dwFit = (cbUsed - pList->dwProviderListOffset) / sizeof(LINEPROVIDERENTRY);
    const DWORD dwCount = pList->dwNumProviders < dwFit ? pList->dwNumProviders : dwFit;
    const auto* pEntries = reinterpret_cast<const LINEPROVIDERENTRY*>(pBase + pList->dwProviderListOffset);
    for (DWORD i = 0; i < dwCount; ++i) {
        const LINEPROVIDERENTRY& entry = pEntries[i];
        if (entry.dwProviderFilenameSize == 0 || entry.dwProviderFilenameOffset >= cbUsed ||
            entry.dwProviderFilenameSize > cbUsed - entry.dwProviderFilenameOffset)
            continue;
        const char* pszName = reinterpret_cast<const char*>(pBase + entry.dwProviderFilenameOffset);
        if (memchr(pszName, '\0', entry.dwProviderFilenameSize) == nullptr) continue;
        if (!visit(entry.dwPermanentProviderID, pszName)) return;
    }
}

// Whether a listed file name (a bare name or a full path) names the file
// pszFileName, whatever the case.
inline bool IsListedAs(const char* pszListed, const char* pszFileName) {
    const char* pszBase = strrchr(pszListed, '\\');
    return lstrcmpiA(pszBase != nullptr ? pszBase + 1 : pszListed, pszFileName) == 0;
}

typedef LONG(WINAPI* PFN_lineGetProviderList)(DWORD dwAPIVersion, LINEPROVIDERLIST* lpProviderList);
typedef LONG(WINAPI* PFN_lineAddProviderA)(LPCSTR lpszProviderFilename, HWND hwndOwner,
                                           LPDWORD lpdwPermanentProviderID);
typedef LONG(WINAPI* PFN_lineRemoveProvider)(DWORD dwPermanentProviderID, HWND hwndOwner);

// TAPI's own list of installed providers, below HKEY_LOCAL_MACHINE:
// "NumProviders", "ProviderFilename<n>" and "ProviderID<n>".
#define TAPI_PROVIDERS_KEY L"Software\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Providers"
