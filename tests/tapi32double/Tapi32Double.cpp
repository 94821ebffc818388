// TAPI32's provider list functions for tests, over the registry list that
// TAPI itself keeps. Adding a provider asks the provider first, through its
// TUISPI_providerInstall, as TAPI does.
//   ORVO_TAPI32_JOURNAL      file that receives one line per call
//   ORVO_TAPI32_LIST_RESULT  hex result that lineGetProviderList fails with
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/TapiConstants.h"
#include "config/ProviderList.h"

namespace {
struct Provider {
    std::string sFileName;
    DWORD dwID;
};

void Journal(const char* pszFormat, ...) {
    char szPath[MAX_PATH];
    if (GetEnvironmentVariableA("ORVO_TAPI32_JOURNAL", szPath, MAX_PATH) == 0) return;
    char szLine[512];
    va_list args;
    va_start(args, pszFormat);
    int n = _vsnprintf(szLine, sizeof(szLine) - 2, pszFormat, args);
    va_end(args);
    if (n < 0 || n > static_cast<int>(sizeof(szLine)) - 2) n = sizeof(szLine) - 2;
    szLine[n++] = '\n';
    HANDLE hFile = CreateFileA(szPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return;
    DWORD cbWritten = 0;
    WriteFile(hFile, szLine, static_cast<DWORD>(n), &cbWritten, nullptr);
    CloseHandle(hFile);
}

// TAPI's list below HKEY_LOCAL_MACHINE (an ASCII name, copied character by character).
const std::string kProvidersKey(TAPI_PROVIDERS_KEY, TAPI_PROVIDERS_KEY + wcslen(TAPI_PROVIDERS_KEY));

DWORD ReadDword(const std::string& name, DWORD dwDefault) {
    DWORD dwValue = 0, cb = sizeof(dwValue);
    return RegGetValueA(HKEY_LOCAL_MACHINE, kProvidersKey.c_str(), name.c_str(), RRF_RT_REG_DWORD, nullptr, &dwValue,
                        &cb) == ERROR_SUCCESS
               ? dwValue
               : dwDefault;
}

void WriteValue(const std::string& name, DWORD dwType, const void* pData, size_t cb) {
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, kProvidersKey.c_str(), name.c_str(), dwType, pData, static_cast<DWORD>(cb));
}

std::vector<Provider> ReadProviders() {
    std::vector<Provider> providers(ReadDword("NumProviders", 0));
    for (size_t i = 0; i < providers.size(); ++i) {
        char szName[1024] = {};
        DWORD cb = sizeof(szName) - 1;
        RegGetValueA(HKEY_LOCAL_MACHINE, kProvidersKey.c_str(), ("ProviderFilename" + std::to_string(i)).c_str(),
                     RRF_RT_REG_SZ, nullptr, szName, &cb);
        providers[i] = {szName, ReadDword("ProviderID" + std::to_string(i), 0)};
    }
    return providers;
}

// Over the old list: NumProviders says where the new one ends.
void WriteProviders(const std::vector<Provider>& providers) {
    for (size_t i = 0; i < providers.size(); ++i) {
        WriteValue("ProviderFilename" + std::to_string(i), REG_SZ, providers[i].sFileName.c_str(),
                   providers[i].sFileName.size() + 1);
        WriteValue("ProviderID" + std::to_string(i), REG_DWORD, &providers[i].dwID, sizeof(DWORD));
    }
    const DWORD dwCount = static_cast<DWORD>(providers.size());
    WriteValue("NumProviders", REG_DWORD, &dwCount, sizeof(dwCount));
}

// TAPI asks a provider whether it may be added before it lists it.
LONG AskProviderToInstall(const char* pszFileName, HWND hwndOwner, DWORD dwID) {
    HMODULE hProvider = LoadLibraryA(pszFileName);
    if (hProvider == nullptr) return LINEERR_INVALPARAM;
    using InstallFn = LONG(WINAPI*)(void*, HWND, DWORD);
    auto pfnInstall = reinterpret_cast<InstallFn>(
        reinterpret_cast<void*>(GetProcAddress(hProvider, "TUISPI_providerInstall")));
    LONG lResult = pfnInstall != nullptr ? pfnInstall(nullptr, hwndOwner, dwID) : 0;
    FreeLibrary(hProvider);
    return lResult;
}
}  // namespace

extern "C" {

LONG WINAPI lineGetProviderList(DWORD dwAPIVersion, LINEPROVIDERLIST* lpProviderList) {
    char szForced[32];
    if (GetEnvironmentVariableA("ORVO_TAPI32_LIST_RESULT", szForced, sizeof(szForced)) != 0) {
        LONG lForced = static_cast<LONG>(strtoul(szForced, nullptr, 16));
        Journal("lineGetProviderList 0x%08lX -> 0x%08lX", dwAPIVersion, lForced);
        return lForced;
    }
    if (lpProviderList == nullptr) return LINEERR_INVALPOINTER;
    if (lpProviderList->dwTotalSize < sizeof(LINEPROVIDERLIST)) return LINEERR_STRUCTURETOOSMALL;

    std::vector<Provider> providers = ReadProviders();
    DWORD cbEntries = static_cast<DWORD>(providers.size() * sizeof(LINEPROVIDERENTRY));
    DWORD cbNeeded = sizeof(LINEPROVIDERLIST) + cbEntries;
    for (const Provider& p : providers) cbNeeded += static_cast<DWORD>(p.sFileName.size() + 1);
    Journal("lineGetProviderList 0x%08lX total %lu needed %lu", dwAPIVersion, lpProviderList->dwTotalSize, cbNeeded);

    lpProviderList->dwNeededSize = cbNeeded;
    lpProviderList->dwUsedSize = sizeof(LINEPROVIDERLIST);
    lpProviderList->dwNumProviders = 0;
    lpProviderList->dwProviderListSize = 0;
    lpProviderList->dwProviderListOffset = 0;
    if (cbNeeded > lpProviderList->dwTotalSize) return 0;

    BYTE* pBase = reinterpret_cast<BYTE*>(lpProviderList);
    auto* pEntries = reinterpret_cast<LINEPROVIDERENTRY*>(pBase + sizeof(LINEPROVIDERLIST));
    DWORD dwOffset = sizeof(LINEPROVIDERLIST) + cbEntries;
    for (size_t i = 0; i < providers.size(); ++i) {
        DWORD cbName = static_cast<DWORD>(providers[i].sFileName.size() + 1);
        pEntries[i] = {providers[i].dwID, cbName, dwOffset};
        memcpy(pBase + dwOffset, providers[i].sFileName.c_str(), cbName);
        dwOffset += cbName;
    }
    lpProviderList->dwNumProviders = static_cast<DWORD>(providers.size());
    lpProviderList->dwProviderListSize = cbEntries;
    lpProviderList->dwProviderListOffset = sizeof(LINEPROVIDERLIST);
    lpProviderList->dwUsedSize = cbNeeded;
    return 0;
}

LONG WINAPI lineAddProviderA(LPCSTR lpszProviderFilename, HWND hwndOwner, LPDWORD lpdwPermanentProviderID) {
    if (lpszProviderFilename == nullptr || lpdwPermanentProviderID == nullptr) return LINEERR_INVALPOINTER;
    const DWORD dwID = ReadDword("NextProviderID", 1);
    LONG lResult = AskProviderToInstall(lpszProviderFilename, hwndOwner, dwID);
    if (lResult == 0) {
        std::vector<Provider> providers = ReadProviders();
        providers.push_back({lpszProviderFilename, dwID});
        WriteProviders(providers);
        const DWORD dwNextID = dwID + 1;
        WriteValue("NextProviderID", REG_DWORD, &dwNextID, sizeof(dwNextID));
        *lpdwPermanentProviderID = dwID;
    }
    Journal("lineAddProviderA %s -> 0x%08lX id %lu", lpszProviderFilename, lResult, lResult == 0 ? dwID : 0);
    return lResult;
}

LONG WINAPI lineRemoveProvider(DWORD dwPermanentProviderID, HWND hwndOwner) {
    std::vector<Provider> providers = ReadProviders();
    LONG lResult = LINEERR_INVALPARAM;
    for (auto it = providers.begin(); it != providers.end(); ++it) {
        if (it->dwID != dwPermanentProviderID) continue;
        providers.erase(it);
        WriteProviders(providers);
        lResult = 0;
        break;
    }
    Journal("lineRemoveProvider %lu -> 0x%08lX", dwPermanentProviderID, lResult);
    return lResult;
}

}  // extern "C"
