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

class ProvidersKey {
public:
    ProvidersKey() {
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, TAPI_PROVIDERS_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_hKey,
                        nullptr);
    }
    ~ProvidersKey() {
        if (m_hKey != nullptr) RegCloseKey(m_hKey);
    }
    DWORD Dword(const std::string& name, DWORD dwDefault) const {
        DWORD dwValue = 0;
        DWORD cb = sizeof(dwValue);
        return RegQueryValueExA(m_hKey, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&dwValue), &cb) ==
                       ERROR_SUCCESS
                   ? dwValue
                   : dwDefault;
    }
    std::string String(const std::string& name) const {
        char szValue[1024] = {};
        DWORD cb = sizeof(szValue) - 1;
        RegQueryValueExA(m_hKey, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(szValue), &cb);
        return szValue;
    }
    void SetDword(const std::string& name, DWORD dwValue) const {
        RegSetValueExA(m_hKey, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), sizeof(dwValue));
    }
    void SetString(const std::string& name, const std::string& text) const {
        RegSetValueExA(m_hKey, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1));
    }
    void Delete(const std::string& name) const { RegDeleteValueA(m_hKey, name.c_str()); }

    std::vector<Provider> Read() const {
        std::vector<Provider> providers;
        DWORD dwCount = Dword("NumProviders", 0);
        for (DWORD i = 0; i < dwCount; ++i)
            providers.push_back({String("ProviderFilename" + std::to_string(i)), Dword("ProviderID" + std::to_string(i), 0)});
        return providers;
    }
    void Write(const std::vector<Provider>& providers, DWORD dwOldCount) const {
        for (size_t i = 0; i < providers.size(); ++i) {
            SetString("ProviderFilename" + std::to_string(i), providers[i].sFileName);
            SetDword("ProviderID" + std::to_string(i), providers[i].dwID);
        }
        for (size_t i = providers.size(); i < dwOldCount; ++i) {
            Delete("ProviderFilename" + std::to_string(i));
            Delete("ProviderID" + std::to_string(i));
        }
        SetDword("NumProviders", static_cast<DWORD>(providers.size()));
    }

private:
    HKEY m_hKey = nullptr;
};

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

    std::vector<Provider> providers = ProvidersKey().Read();
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
    ProvidersKey key;
    DWORD dwID = key.Dword("NextProviderID", 1);
    LONG lResult = AskProviderToInstall(lpszProviderFilename, hwndOwner, dwID);
    if (lResult == 0) {
        std::vector<Provider> providers = key.Read();
        DWORD dwOldCount = static_cast<DWORD>(providers.size());
        providers.push_back({lpszProviderFilename, dwID});
        key.Write(providers, dwOldCount);
        key.SetDword("NextProviderID", dwID + 1);
        *lpdwPermanentProviderID = dwID;
    }
    Journal("lineAddProviderA %s -> 0x%08lX id %lu", lpszProviderFilename, lResult, lResult == 0 ? dwID : 0);
    return lResult;
}

LONG WINAPI lineRemoveProvider(DWORD dwPermanentProviderID, HWND hwndOwner) {
    ProvidersKey key;
    std::vector<Provider> providers = key.Read();
    DWORD dwOldCount = static_cast<DWORD>(providers.size());
    LONG lResult = LINEERR_INVALPARAM;
    for (auto it = providers.begin(); it != providers.end(); ++it) {
        if (it->dwID != dwPermanentProviderID) continue;
        providers.erase(it);
        key.Write(providers, dwOldCount);
        lResult = 0;
        break;
    }
    Journal("lineRemoveProvider %lu -> 0x%08lX", dwPermanentProviderID, lResult);
    return lResult;
}

}  // extern "C"
