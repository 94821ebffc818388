// Installation and removal of the provider. Only TUISPI_providerInstall
// reports failures to its caller; an installer that cannot copy, register or
// reconfigure something gets no error, as before.
#include "manager/Installation.h"

#include <cwctype>
#include <memory>

#include "common/BoundedString.h"
#include "config/CRegTool.h"
#include "config/ProviderIdentity.h"
#include "config/ProviderList.h"
#include "config/resource.h"
#include "log/Trace.h"
#include "manager/CGenericTSPIManager.h"
#include "model/ProviderState.h"

HICON g_hIconTM = nullptr;

namespace {
constexpr DWORD kTapiVersion = 0x00020002;
DWORD g_dwAddedProviderID = 0;  // filled by lineAddProviderA; nothing reads it

// Frees a loaded library on every way out.
struct LibraryDeleter {
    void operator()(HINSTANCE__* hModule) const { FreeLibrary(hModule); }
};
using LibraryHandle = std::unique_ptr<HINSTANCE__, LibraryDeleter>;

LibraryHandle LoadTapi32(DWORD dwFlags) { return LibraryHandle(LoadLibraryExW(L"TAPI32.DLL", nullptr, dwFlags)); }

template <typename Fn>
Fn TapiFunction(const LibraryHandle& tapi32, const char* pszName) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(tapi32.get(), pszName)));
}

void UpperCase(wchar_t* psz) {
    for (; *psz != L'\0'; ++psz) *psz = static_cast<wchar_t>(towupper(*psz));
}

// "<g_szTSPName>.TSP", the file name TAPI knows the provider by.
void ProviderFileName(wchar_t (&szName)[MAX_PATH]) { StrFormat(szName, L"%s.TSP", g_szTSPName); }

void ProviderFileNameA(char (&szName)[MAX_PATH]) {
    wchar_t szWide[MAX_PATH];
    ProviderFileName(szWide);
    if (WideCharToMultiByte(CP_ACP, 0, szWide, -1, szName, MAX_PATH - 1, nullptr, nullptr) == 0) szName[0] = '\0';
    szName[MAX_PATH - 1] = '\0';
}

// <system folder>\<g_szTSPName>.TSP
void InstalledFilePath(wchar_t (&szPath)[MAX_PATH]) {
    szPath[0] = L'\0';
    GetSystemDirectoryW(szPath, MAX_PATH);
    StrAppend(szPath, L"\\");
    wchar_t szName[MAX_PATH];
    ProviderFileName(szName);
    StrAppend(szPath, szName);
}

// TAPI's provider list, grown until everything fits. Null with *plResult set
// when it cannot be had.
std::unique_ptr<BYTE[]> ReadProviderList(PFN_lineGetProviderList pfnGetProviderList, const CFuncTrace& trace,
                                         LONG* plResult) {
    DWORD cbList = sizeof(LINEPROVIDERLIST);
    for (;;) {
        std::unique_ptr<BYTE[]> list(new (std::nothrow) BYTE[cbList]());
        if (!list) {
            trace.Line(L"Abort.Error.LINEERR_NOMEM");
            *plResult = LINEERR_NOMEM;
            return nullptr;
        }
        auto* pList = reinterpret_cast<LINEPROVIDERLIST*>(list.get());
        pList->dwTotalSize = cbList;
        LONG lResult = pfnGetProviderList(kTapiVersion, pList);
        if (lResult != 0) {
            trace.Warning(L"lineGetProviderList 0x%08X", static_cast<DWORD>(lResult));
            *plResult = lResult;
            return nullptr;
        }
        if (pList->dwNeededSize <= pList->dwTotalSize) return list;
        cbList = pList->dwNeededSize;
    }
}

// Id of the first provider in TAPI's registry list whose upper-cased file
// name contains ours, or -1.
LONG FindRegisteredProviderID() {
    CRegTool key;
    LONG lProviderID = -1;
    if (key.OpenReadOnly(HKEY_LOCAL_MACHINE, TAPI_PROVIDERS_KEY) != ERROR_SUCCESS) return lProviderID;
    DWORD dwNumProviders = 0;
    key.ReadDword(L"NumProviders", &dwNumProviders, 0);
    wchar_t szOurs[MAX_PATH];
    ProviderFileName(szOurs);
    UpperCase(szOurs);
    for (DWORD i = 0; i < dwNumProviders; ++i) {
        wchar_t szValue[32];
        StrFormat(szValue, L"ProviderFilename%u", i);
        wchar_t szListed[63];  // 126 bytes
        if (key.ReadString(szValue, szListed, 63, nullptr) == 0) continue;
        UpperCase(szListed);
        if (wcsstr(szListed, szOurs) == nullptr) continue;
        StrFormat(szValue, L"ProviderID%u", i);
        DWORD dwID = 0;
        key.ReadDword(szValue, &dwID, 0);
        lProviderID = static_cast<LONG>(dwID);
        break;
    }
    key.Close();
    return lProviderID;
}
}  // namespace

void LoadRessources() {
    CFuncTrace trace(1, L"LoadRessources");
    g_hIconPhone = static_cast<HICON>(LoadImageW(g_hModule, MAKEINTRESOURCEW(IDI_PHONE), IMAGE_ICON, 32, 32, 0));
    g_hIconTM = static_cast<HICON>(LoadImageW(g_hModule, MAKEINTRESOURCEW(IDI_TM), IMAGE_ICON, 32, 32, 0));
    trace.Var(L"g_hIconPhone", L"0x%p", g_hIconPhone);
    trace.Var(L"g_hIconTM", L"0x%p", g_hIconTM);
    trace.End();
}

void DestroyRessources() {
    for (HICON* phIcon : {&g_hIconPhone, &g_hIconTM}) {
        if (*phIcon != nullptr) DestroyIcon(*phIcon);
        *phIcon = nullptr;
    }
}

void CGenericTSPIManager::UpdateTSPFile() {
    CFuncTrace trace(0, L"CGenericTSPIManager::UpdateTSPFile");
    wchar_t szSource[MAX_PATH] = {};
    GetModuleFileNameW(g_hModule, szSource, MAX_PATH - 1);
    wchar_t szTarget[MAX_PATH];
    InstalledFilePath(szTarget);
    trace.Var(L"szProviderFileSource", L"%s", szSource);
    trace.Var(L"szProviderFileTarget", L"%s", szTarget);
    DeleteFileW(szTarget);
    CopyFileExW(szSource, szTarget, nullptr, nullptr, nullptr, 0);
    trace.End();
}

void CGenericTSPIManager::AfterProviderRemove() {
    CFuncTrace trace(0, L"CGenericTSPIManager::AfterProviderRemove");
    wchar_t szTarget[MAX_PATH];
    InstalledFilePath(szTarget);
    trace.Var(L"szProviderFileTarget", L"%s", szTarget);
    DeleteFileW(szTarget);
    trace.End();
}

void ConfigureTapiService() {
    CFuncTrace trace(1, L"ConfigureTapiService");
    SC_HANDLE hManager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_MODIFY_BOOT_CONFIG);
    if (hManager == nullptr) {
        trace.Warning(L"OpenSCManager %u", GetLastError());
        trace.End();
        return;
    }
    SC_HANDLE hService = OpenServiceW(hManager, L"tapisrv", SERVICE_CHANGE_CONFIG);
    if (hService == nullptr) {
        trace.Warning(L"OpenService %u", GetLastError());
    } else {
        if (!ChangeServiceConfigW(hService, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_NO_CHANGE, nullptr,
                                  nullptr, nullptr, nullptr, L"LOCALSYSTEM", L"", nullptr))
            trace.Warning(L"ChangeServiceConfig %u", GetLastError());
        CloseServiceHandle(hService);
    }
    CloseServiceHandle(hManager);
    trace.End();
}

bool IsHostInSystemFolder() {
    wchar_t szFolder[MAX_PATH];
    StrCopy(szFolder, g_szProcessPath);
    wchar_t* pszLastSlash = wcsrchr(szFolder, L'\\');
    if (pszLastSlash != nullptr) pszLastSlash[1] = L'\0';
    UpperCase(szFolder);
    return wcsstr(szFolder, L"SYSTEM32") != nullptr;
}

LONG CheckProviderNotInstalled(const CFuncTrace& trace) {
    LibraryHandle tapi32(LoadLibraryW(L"TAPI32.DLL"));
    if (!tapi32) return trace.Abort(LINEERR_OPERATIONFAILED, 1, L"Cannot load tapi32.dll");
    auto pfnGetProviderList = TapiFunction<PFN_lineGetProviderList>(tapi32, "lineGetProviderList");
    if (pfnGetProviderList == nullptr)
        return trace.Abort(LINEERR_OPERATIONFAILED, 2, L"Cannot found lineGetProviderList");

    LONG lResult = 0;
    std::unique_ptr<BYTE[]> list = ReadProviderList(pfnGetProviderList, trace, &lResult);
    if (!list) return lResult;

    char szOurs[MAX_PATH];
    ProviderFileNameA(szOurs);
    ForEachListedProvider(reinterpret_cast<const LINEPROVIDERLIST*>(list.get()),
                          [&](DWORD dwID, const char* pszListed) {
                              if (*pszListed == '\0' || !IsListedAs(pszListed, szOurs)) return true;
                              trace.Info(L"Already installed as provider %u", dwID);
                              lResult = LINEERR_NOMULTIPLEINSTANCE;
                              return false;
                          });
    g_Manager.ProviderInstall();
    return lResult;
}

void UnregisterProvider() {
    CFuncTrace trace(1, L"UnregisterProvider");
    LONG lProviderID = FindRegisteredProviderID();
    trace.Var(L"lProviderID", L"%d", lProviderID);
    if (lProviderID >= 0) {
        LibraryHandle tapi32 = LoadTapi32(LOAD_WITH_ALTERED_SEARCH_PATH);
        auto pfnRemove = TapiFunction<PFN_lineRemoveProvider>(tapi32, "lineRemoveProvider");
        if (pfnRemove != nullptr) trace.Var(L"lineRemoveProvider", L"0x%08X", pfnRemove(lProviderID, nullptr));
    }
    trace.End();
}

void RegisterProvider() {
    CFuncTrace trace(1, L"RegisterProvider");
    LibraryHandle tapi32 = LoadTapi32(LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!tapi32) {
        trace.Warning(L"Cannot load tapi32.dll");
        trace.End();
        return;
    }
    auto pfnAdd = TapiFunction<PFN_lineAddProviderA>(tapi32, "lineAddProviderA");
    if (pfnAdd != nullptr) {
        char szName[MAX_PATH];
        ProviderFileNameA(szName);
        trace.Var(L"lineAddProviderA", L"0x%08X", pfnAdd(szName, nullptr, &g_dwAddedProviderID));
    }
    trace.End();
}
