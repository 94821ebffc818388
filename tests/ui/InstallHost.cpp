// orvo_installhost: an installer for the tests. Copied into the system folder
// it is the host from which the provider may install itself; anywhere else
// it is a host from which it must not.
//   orvo_installhost <TAPI32 stand-in> <provider> <export> <argument>
// Calls the export with the argument and exits with its result; 90 to 93 when
// something cannot be loaded or found.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) return 90;
    // Loaded first, TAPI32.DLL by name is the stand-in from now on.
    if (LoadLibraryW(argv[1]) == nullptr) return 91;
    HMODULE hProvider = LoadLibraryW(argv[2]);
    if (hProvider == nullptr) return 92;
    char szExport[128] = {};
    WideCharToMultiByte(CP_ACP, 0, argv[3], -1, szExport, sizeof(szExport) - 1, nullptr, nullptr);
    FARPROC pfn = GetProcAddress(hProvider, szExport);
    if (pfn == nullptr) return 93;
    DWORD dwArgument = wcstoul(argv[4], nullptr, 0);

    LONG lResult;
    if (strcmp(szExport, "TUISPI_providerInstall") == 0) {
        using InstallFn = LONG(WINAPI*)(void*, HWND, DWORD);
        lResult = reinterpret_cast<InstallFn>(reinterpret_cast<void*>(pfn))(nullptr, nullptr, dwArgument);
    } else {
        using DllFn = LONG(WINAPI*)(DWORD);
        lResult = reinterpret_cast<DllFn>(reinterpret_cast<void*>(pfn))(dwArgument);
    }
    printf("%s(%lu) = 0x%08lX\n", szExport, dwArgument, static_cast<unsigned long>(lResult));
    FreeLibrary(hProvider);
    return static_cast<int>(lResult);
}
