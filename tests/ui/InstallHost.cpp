// orvo_installhost <TAPI32 stand-in> <provider> <export> <argument>: an
// installer for the tests, run from the system folder or elsewhere. Exits with
// the export's result; 90 to 93 when something cannot be loaded or found.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) return 90;
    // Loaded first, TAPI32.DLL by name is the stand-in from now on.
    if (LoadLibraryW(argv[1]) == nullptr) return 91;
    HMODULE hProvider = LoadLibraryW(argv[2]);
    if (hProvider == nullptr) return 92;
    char szExport[128] = {};
    WideCharToMultiByte(CP_ACP, 0, argv[3], -1, szExport, sizeof(szExport) - 1, nullptr, nullptr);
    auto pfn = reinterpret_cast<void*>(GetProcAddress(hProvider, szExport));
    if (pfn == nullptr) return 93;
    DWORD dwArgument = wcstoul(argv[4], nullptr, 0);
    LONG lResult = strcmp(szExport, "TUISPI_providerInstall") == 0
                       ? reinterpret_cast<LONG(WINAPI*)(void*, HWND, DWORD)>(pfn)(nullptr, nullptr, dwArgument)
                       : reinterpret_cast<LONG(WINAPI*)(DWORD)>(pfn)(dwArgument);
    FreeLibrary(hProvider);
    return static_cast<int>(lResult);
}
