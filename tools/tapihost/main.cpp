// tapihost: loads a TAPI service provider and runs it the way the telephony
// service does, printing what happens, so that a person can watch it work.
//   tapihost [PROVIDER.TSP]
#include <cstdio>
#include <string>

#include "tools/tapihost/TapiHost.h"

namespace {
void Print(const wchar_t* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    wchar_t szLine[1024];
    _vsnwprintf(szLine, 1023, pszFormat, args);
    szLine[1023] = L'\0';
    va_end(args);
    // The console may be a pipe: print UTF-8.
    char szUtf8[4096];
    int cb = WideCharToMultiByte(CP_UTF8, 0, szLine, -1, szUtf8, sizeof(szUtf8), nullptr, nullptr);
    if (cb > 0) fputs(szUtf8, stdout);
    fputs("\n", stdout);
    fflush(stdout);
}

std::wstring DefaultProviderPath() {
    wchar_t szPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, szPath, MAX_PATH - 1);
    std::wstring path = szPath;
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"ORVOTSP.TSP";
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring provider = argc > 1 ? argv[1] : DefaultProviderPath();
    CTapiHost host;
    Print(L"tapihost: loading %ls", provider.c_str());
    if (!host.Load(provider)) {
        Print(L"tapihost: cannot load the provider (error %lu)", GetLastError());
        return 2;
    }

    DWORD dwVersion = 0;
    LONG lResult = host.NegotiateTSPIVersion(INITIALIZE_NEGOTIATION, 0x00010004, 0x00030000, &dwVersion);
    Print(L"negotiate TSPI version 0x00010004..0x00030000: result 0x%08lX, version 0x%08lX",
          static_cast<unsigned long>(lResult), static_cast<unsigned long>(dwVersion));
    if (lResult != 0) return 1;

    DWORD dwLines = 0;
    DWORD dwPhones = 0;
    lResult = host.EnumDevices(&dwLines, &dwPhones);
    Print(L"enumerate devices: result 0x%08lX, %lu lines, %lu phones", static_cast<unsigned long>(lResult),
          static_cast<unsigned long>(dwLines), static_cast<unsigned long>(dwPhones));

    DWORD dwOptions = 0;
    lResult = host.Init(dwLines, &dwOptions);
    Print(L"initialise: result 0x%08lX, TSPI options 0x%08lX", static_cast<unsigned long>(lResult),
          static_cast<unsigned long>(dwOptions));

    lResult = host.Shutdown();
    Print(L"shut down: result 0x%08lX", static_cast<unsigned long>(lResult));
    host.Unload();
    Print(L"tapihost: done");
    return 0;
}
