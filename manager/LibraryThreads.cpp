#include "manager/LibraryThreads.h"

namespace {
constexpr SIZE_T kStackCommit = 2048;

HMODULE ThisLibrary(DWORD dwFlags) {
    HMODULE hModule = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | dwFlags,
                       reinterpret_cast<LPCWSTR>(&CreateLibraryThread), &hModule);
    return hModule;
}
}  // namespace

HANDLE CreateLibraryThread(LPTHREAD_START_ROUTINE pfnProc, void* pParam, DWORD* pdwThreadId) {
    HMODULE hReference = ThisLibrary(0);
    if (hReference == nullptr) return nullptr;
    HANDLE hThread = CreateThread(nullptr, kStackCommit, pfnProc, pParam, CREATE_SUSPENDED, pdwThreadId);
    if (hThread == nullptr) FreeLibrary(hReference);
    return hThread;
}

void ExitLibraryThread() {
    FreeLibraryAndExitThread(ThisLibrary(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT), 0);
}
