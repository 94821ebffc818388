#include "manager/RequestThreads.h"

namespace {
constexpr SIZE_T kStackCommit = 2048;
constexpr DWORD kEndWaitMs = 1000;

volatile LONG g_lRunning = 0;     // request threads alive
volatile LONG g_lGeneration = 0;  // raised by every provider shutdown

// Set while a shutdown ends the request threads; manual-reset. Closed at
// unload, when no request thread can be left: each holds the library.
HANDLE ShutdownEvent() {
    struct CEvent {
        HANDLE h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ~CEvent() { CloseHandle(h); }
    };
    static const CEvent event;
    return event.h;
}

HMODULE ThisLibrary(DWORD dwFlags) {
    HMODULE hModule = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | dwFlags,
                       reinterpret_cast<LPCWSTR>(&ShutdownEvent), &hModule);
    return hModule;
}
}  // namespace

HANDLE CreateRequestThread(LPTHREAD_START_ROUTINE pfnProc, void* pParam) {
    HMODULE hReference = ThisLibrary(0);
    if (hReference == nullptr) return nullptr;
    HANDLE hThread = CreateThread(nullptr, kStackCommit, pfnProc, pParam, CREATE_SUSPENDED, nullptr);
    if (hThread == nullptr) {
        FreeLibrary(hReference);
        return nullptr;
    }
    InterlockedIncrement(&g_lRunning);
    return hThread;
}

LONG CurrentRequestGeneration() { return g_lGeneration; }

bool RequestStillValid(LONG lGeneration) { return lGeneration == g_lGeneration; }

bool WaitInRequest(DWORD dwMs, LONG lGeneration) {
    WaitForSingleObject(ShutdownEvent(), dwMs);
    return RequestStillValid(lGeneration);
}

void EndRequestThread(HANDLE hOwnThread) {
    CloseHandle(hOwnThread);
    HMODULE hReference = ThisLibrary(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT);
    InterlockedDecrement(&g_lRunning);
    FreeLibraryAndExitThread(hReference, 0);
}

void EndRequestThreads() {
    InterlockedIncrement(&g_lGeneration);
    SetEvent(ShutdownEvent());
    // A dial-tone closer that waits for the ProviderLock, which the shutdown
    // holds, cannot end now; it ends without acting once it gets the lock.
    for (DWORD dwWaited = 0; g_lRunning != 0 && dwWaited < kEndWaitMs; dwWaited += 10) Sleep(10);
    ResetEvent(ShutdownEvent());
}
