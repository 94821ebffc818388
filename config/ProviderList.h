// What the provider uses of TAPI32.DLL, the telephony client library: the
// list of installed providers and adding and removing one. The library is
// loaded at run time, as only the installation steps need it.
#pragma once

#include <windows.h>

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

typedef LONG(WINAPI* PFN_lineGetProviderList)(DWORD dwAPIVersion, LINEPROVIDERLIST* lpProviderList);
typedef LONG(WINAPI* PFN_lineAddProviderA)(LPCSTR lpszProviderFilename, HWND hwndOwner,
                                           LPDWORD lpdwPermanentProviderID);
typedef LONG(WINAPI* PFN_lineRemoveProvider)(DWORD dwPermanentProviderID, HWND hwndOwner);

// TAPI's own list of installed providers, below HKEY_LOCAL_MACHINE:
// "NumProviders", "ProviderFilename<n>" and "ProviderID<n>".
#define TAPI_PROVIDERS_KEY L"Software\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Providers"
