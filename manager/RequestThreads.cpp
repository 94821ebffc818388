#include "manager/RequestThreads.h"

#include "common/UniqueHandle.h"
#include "manager/LibraryThreads.h"

namespace {
constexpr DWORD kEndWaitMs = 1000;

volatile LONG g_lRunning = 0;     // request threads alive
volatile LONG g_lGeneration = 0;  // raised by every provider shutdown

// Set while a shutdown ends the request threads; manual-reset. Closed at
// unload, when no request thread can be left: each holds the library.
HANDLE ShutdownEvent() {
    static const UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return event.get();
}
}  // namespace

bool StartRequestThread(LPTHREAD_START_ROUTINE pfnProc, void* pParam, HANDLE& hOwnThread) {
    // Suspended until the request knows its thread's handle, which the thread closes itself.
    HANDLE hThread = CreateLibraryThread(pfnProc, pParam, nullptr);
    if (hThread == nullptr) return false;
    InterlockedIncrement(&g_lRunning);
    hOwnThread = hThread;
    ResumeThread(hThread);
    return true;
}

LONG CurrentRequestGeneration() { return g_lGeneration; }

bool RequestStillValid(LONG lGeneration) { return lGeneration == g_lGeneration; }

bool WaitInRequest(DWORD dwMs, LONG lGeneration) {
    WaitForSingleObject(ShutdownEvent(), dwMs);
    return RequestStillValid(lGeneration);
}

void EndRequestThread(HANDLE hOwnThread) {
    UniqueHandle(hOwnThread).reset();  // closed here: ExitLibraryThread does not return
    InterlockedDecrement(&g_lRunning);
    ExitLibraryThread();
}

void EndRequestThreads() {
    InterlockedIncrement(&g_lGeneration);
    SetEvent(ShutdownEvent());
    // A dial-tone closer that waits for the ProviderLock ends without acting
    // once it gets the lock; a reply that waits for the PBX gives up, since
    // the provider's stop is set by now.
    for (DWORD dwWaited = 0; g_lRunning != 0 && dwWaited < kEndWaitMs; dwWaited += 10) Sleep(10);
    ResetEvent(ShutdownEvent());
}
