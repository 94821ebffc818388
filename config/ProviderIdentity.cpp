#include "config/ProviderIdentity.h"

#include <cstdlib>
#include <cwchar>

#include "common/BoundedString.h"
#include "log/Trace.h"

wchar_t g_szModulePath[260] = {};
wchar_t g_szTSPName[260] = {};
wchar_t g_szTSPNameExtension[260] = {};
wchar_t g_szProcessPath[260] = {};
wchar_t g_szLocalRegPath[260] = {};

namespace {
constexpr wchar_t kStandardName[] = L"ORVOTSP";
constexpr size_t kStandardNameLength = 7;

bool BeginsWithStandardName() { return _wcsnicmp(g_szTSPName, kStandardName, kStandardNameLength) == 0; }
}  // namespace

void SetupFileData(HMODULE hModule) {
    wchar_t szPath[260] = {};
    GetModuleFileNameW(hModule, szPath, 259);
    SetupFileDataFromPath(szPath);
}

void SetupFileDataFromPath(const wchar_t* pszModulePath) {
    CFuncTrace trace(1, L"SetupFileData");
    StrCopy(g_szModulePath, pszModulePath);
    _wsplitpath_s(g_szModulePath, nullptr, 0, nullptr, 0, g_szTSPName, 260, nullptr, 0);
    g_szTSPNameExtension[0] = L'\0';

    // The Windows installer runs the library under a temporary name.
    if (wcsstr(g_szProcessPath, L"MSIEXEC") != nullptr) {
        StrCopy(g_szTSPName, kStandardName);
    } else if (BeginsWithStandardName()) {
        // File names are case-insensitive: orvotsp_2.tsp is the copy "2" too,
        // not a provider sharing the parent key.
        const wchar_t* pszRest = g_szTSPName + kStandardNameLength;
        if (*pszRest == L'_' || *pszRest == L'-') ++pszRest;
        StrCopy(g_szTSPNameExtension, pszRest);
    }
    trace.Var(L"g_szModulePath", L"%s", g_szModulePath);
    trace.Var(L"g_szTSPName", L"%s", g_szTSPName);
    trace.Var(L"g_szTSPNameExtension", L"%s", g_szTSPNameExtension);
    trace.End();
}

void BuildLocalRegPath() {
    if (_wcsicmp(g_szTSPName, kStandardName) == 0)
        StrCopy(g_szLocalRegPath, L"SOFTWARE\\ORVO\\TAPI");
    else if (BeginsWithStandardName())
        StrFormat(g_szLocalRegPath, L"SOFTWARE\\ORVO\\%s", g_szTSPNameExtension);
    else
        StrFormat(g_szLocalRegPath, L"SOFTWARE\\ORVO\\%s", g_szTSPName);
}

const wchar_t* LogSubfolderName() {
    if (g_szTSPNameExtension[0] != L'\0') return g_szTSPNameExtension;
    if (BeginsWithStandardName()) return L"ORVO TAPI";
    return g_szTSPName;
}
