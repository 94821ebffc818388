#include "http/AsyncCall.h"

#include <winhttp.h>

#include <new>
#include <set>
#include <utility>

#include "http/RequestStop.h"

namespace {
volatile LONG g_lCallbacksInside = 0;
constexpr DWORD kCallbackLeaveWaitMs = 200;
}  // namespace

namespace {
volatile LONG g_lRecords = 0;
}  // namespace

CAsyncCall::CAsyncCall() : hDone(CreateEventW(nullptr, FALSE, FALSE, nullptr)) { InterlockedIncrement(&g_lRecords); }

CAsyncCall::~CAsyncCall() {
    InterlockedDecrement(&g_lRecords);
    if (!body.empty()) SecureZeroMemory(body.data(), body.size());
    if (!buffer.empty()) SecureZeroMemory(buffer.data(), buffer.size());
}

namespace {
// The records the callback may still reach; a leaf lock (nothing is taken inside it).
SRWLOCK g_RegistryLock = SRWLOCK_INIT;

std::set<const CAsyncCall*>& Registry() {
    static std::set<const CAsyncCall*> registry;
    return registry;
}

// Leaves a wiped buffer to WinHTTP, which may still write into it.
void LeaveToWinHttp(std::vector<BYTE>& buffer) {
    if (buffer.empty()) return;
    SecureZeroMemory(buffer.data(), buffer.size());
    // A moved vector keeps its storage, the block WinHTTP was given.
    auto pLeft = std::make_unique<std::vector<BYTE>>(std::move(buffer));
    (void)pLeft.release();  // deliberately never freed
}
}  // namespace

CAsyncCall* NewAsyncCall() {
    std::unique_ptr<CAsyncCall> pCall(new (std::nothrow) CAsyncCall);
    if (!pCall || !pCall->hDone) return nullptr;
    AcquireSRWLockExclusive(&g_RegistryLock);
    bool bRegistered = false;
    try {
        bRegistered = Registry().insert(pCall.get()).second;
    } catch (const std::bad_alloc&) {
    }
    ReleaseSRWLockExclusive(&g_RegistryLock);
    return bRegistered ? pCall.release() : nullptr;
}

void RetireAsyncCall(CAsyncCall* pCall, DWORD dwPending) {
    if (pCall == nullptr) return;
    AcquireSRWLockExclusive(&g_RegistryLock);
    Registry().erase(pCall);
    ReleaseSRWLockExclusive(&g_RegistryLock);
    switch (dwPending) {
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
            // WinHTTP reads the body until the response has come: it stays,
            // wiped, and with it the record, which no callback reaches any more.
            if (!pCall->body.empty()) SecureZeroMemory(pCall->body.data(), pCall->body.size());
            return;
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
            LeaveToWinHttp(pCall->buffer);
            break;
        default:
            break;
    }
    ReleaseAsyncCall(pCall);
}

CAsyncCall* AcquireAsyncCall(DWORD_PTR dwContext) {
    auto* pCall = reinterpret_cast<CAsyncCall*>(dwContext);
    if (pCall == nullptr) return nullptr;
    AcquireSRWLockShared(&g_RegistryLock);
    const bool bLive = Registry().count(pCall) != 0;
    if (bLive) InterlockedIncrement(&pCall->lReferences);
    ReleaseSRWLockShared(&g_RegistryLock);
    return bLive ? pCall : nullptr;
}

void ReleaseAsyncCall(CAsyncCall* pCall) {
    if (pCall != nullptr && InterlockedDecrement(&pCall->lReferences) == 0)
        std::unique_ptr<CAsyncCall> owner(pCall);  // wipes and frees it
}

size_t LiveAsyncCalls() { return static_cast<size_t>(g_lRecords); }

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
    HANDLE stops[2] = {};
    const DWORD dwStops = CurrentStopEvents(stops);
    HANDLE waits[3] = {stops[0], stops[1], nullptr};
    waits[dwStops] = call.hDone.get();
    // A stop that is already set wins over a completion that came with it:
    // of several signalled handles the wait names the first, and the stops
    // come first. One wait, not a look at the stops before it: every read of
    // the event stream waits twice.
    const DWORD dwWait = WaitForMultipleObjects(1 + dwStops, waits, FALSE, dwTimeoutMs);
    if (dwWait == WAIT_OBJECT_0 + dwStops) return AsyncWaitEnd::Completed;
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
