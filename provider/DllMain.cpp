// Loading and unloading the library. The process-wide objects are already
// built by static construction when the entry point runs.
#include <windows.h>

#include <cwctype>

#include "common/BoundedString.h"
#include "config/ProviderIdentity.h"
#include "log/Trace.h"
#include "manager/CGenericTSPIManager.h"
#include "manager/Installation.h"
#include "model/ProviderState.h"

namespace {
void RememberHostProcess() {
    GetModuleFileNameW(nullptr, g_szProcessPath, 259);
    for (wchar_t* p = g_szProcessPath; *p != L'\0'; ++p) *p = static_cast<wchar_t>(towupper(*p));
}
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID) {
    switch (dwReason) {
        case DLL_PROCESS_ATTACH:
            g_hModule = hInstance;
            RememberHostProcess();
            // Nothing thrown may reach the loader; the library then runs with what was set up.
            try {
                g_Manager.AttachInstance();
            } catch (...) {
                Trace(0, L"DllMain.Warning.Exception in AttachInstance");
            }
            LoadRessources();
            break;
        case DLL_PROCESS_DETACH:
            DestroyRessources();
            break;
        default:
            break;
    }
    return TRUE;
}
