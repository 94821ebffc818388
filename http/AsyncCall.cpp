#include "http/AsyncCall.h"

#include <winhttp.h>

#include "http/RequestStop.h"

namespace {
volatile LONG g_lCallbacksInside = 0;
constexpr DWORD kCallbackLeaveWaitMs = 200;
}  // namespace

CAsyncCall::CAsyncCall() : hDone(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

void CAsyncCall::Arm() {
    dwStatus = 0;
    dwValue = 0;
    dwError = 0;
    ResetEvent(hDone.get());
}

void CAsyncCall::Note(DWORD dwNotified, LPVOID pInformation, DWORD dwInformationLength) {
    switch (dwNotified) {
        case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
            dwValue = pInformation != nullptr ? *static_cast<const DWORD*>(pInformation) : 0;
            break;
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
            dwValue = dwInformationLength;
            break;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
            dwError = pInformation != nullptr ? static_cast<const WINHTTP_ASYNC_RESULT*>(pInformation)->dwError
                                              : ERROR_WINHTTP_INTERNAL_ERROR;
            break;
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
            break;
        default:
            return;  // progress notifications complete nothing
    }
    dwStatus = dwNotified;
    SetEvent(hDone.get());
}

AsyncWaitEnd WaitForAsyncCall(CAsyncCall& call, DWORD dwTimeoutMs) {
    HANDLE waits[3] = {call.hDone.get()};
    HANDLE stops[2];
    const DWORD dwStops = CurrentStopEvents(stops);
    for (DWORD i = 0; i < dwStops; ++i) waits[1 + i] = stops[i];
    // A stop that is already set wins over a completion that came with it.
    if (dwStops != 0 && WaitForMultipleObjects(dwStops, stops, FALSE, 0) < WAIT_OBJECT_0 + dwStops)
        return AsyncWaitEnd::Stopped;
    const DWORD dwWait = WaitForMultipleObjects(1 + dwStops, waits, FALSE, dwTimeoutMs);
    if (dwWait == WAIT_OBJECT_0) return AsyncWaitEnd::Completed;
    if (dwWait == WAIT_TIMEOUT) return AsyncWaitEnd::TimedOut;
    return AsyncWaitEnd::Stopped;
}

void EnterStatusCallback() { InterlockedIncrement(&g_lCallbacksInside); }

void LeaveStatusCallback() { InterlockedDecrement(&g_lCallbacksInside); }

void WaitForStatusCallbacksToLeave() {
    for (DWORD dwWaited = 0; g_lCallbacksInside != 0 && dwWaited < kCallbackLeaveWaitMs; ++dwWaited) Sleep(1);
}

void KeepWinHttpLoaded() {
    static const bool bPinned = [] {
        HMODULE hModule = nullptr;
        return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, L"winhttp.dll", &hModule) != FALSE;
    }();
    (void)bPinned;
}
