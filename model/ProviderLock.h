// The one lock of the line and call model. It is re-entrant for its holder;
// every holder has a fixed owner code that the lock lines trace.
//
// Lock order of the whole provider. A thread that holds one of these locks
// takes only locks further down the list, never one above it:
//   1. CommandMutex          pbx/CallCommands.cpp: make-call and drop on the
//                            command client (they read the token inside it)
//   2. SessionMutex          pbx/SessionState.h: logins, refreshes, token checks and
//                            the directory read, one at a time
//   3. ProviderLock          this file: lines, calls and their TAPI records
//   4. slot lock             manager/BackgroundThreads.cpp: starting and
//                            stopping the background threads
//   5. login-recovery lock   manager/LoginRecovery.cpp: the back-off of the
//                            background login
//   6. proxy lock            http/ProxySettings.cpp: the remembered proxy
//   7. calls-heard lock      pbx/EventStream.cpp: the calls heard of on the
//                            current stream (nothing is taken inside it)
//   8. async-call registry   http/AsyncCall.cpp: the request records the
//                            WinHTTP callback may still reach (nothing is
//                            taken inside it)
//   9. log locks             log/CLoggingFile.h: one per log object, around a
//                            whole write (every lock above may trace)
// The locks 1 and 2 are held across PBX requests; everything below them
// is held briefly. So the ProviderLock is never held while waiting for the
// PBX: no PBX request is made inside it (a request made there is traced as an
// error by the HTTP client), and no thread waits inside it for a background
// thread to end, since such a thread may need the lock to leave.
#pragma once

#include <windows.h>

extern CRITICAL_SECTION ProviderLock;
// Code of the current holder, 0 when free. Diagnostic only: nothing decides on it.
extern volatile DWORD g_dwLockOwner;

void InitProviderLock();
void DeleteProviderLock();
// "CS_BEGIN %d (%d)" / "CS_END %d (%d)" at level 6 with the holder's and the current owner code.
void EnterProviderLock(DWORD dwOwnerCode);
void LeaveProviderLock(DWORD dwOwnerCode);
// EnterProviderLock if the lock can be had within dwTimeoutMs; false otherwise.
bool TryEnterProviderLock(DWORD dwOwnerCode, DWORD dwTimeoutMs);
// True while the thread holds the lock.
bool ProviderLockHeldBy(DWORD dwThreadId);

// Holds the ProviderLock for a scope.
class CProviderLockGuard {
public:
    explicit CProviderLockGuard(DWORD dwOwnerCode) : m_dwOwnerCode(dwOwnerCode) { EnterProviderLock(dwOwnerCode); }
    ~CProviderLockGuard() { LeaveProviderLock(m_dwOwnerCode); }
    CProviderLockGuard(const CProviderLockGuard&) = delete;
    CProviderLockGuard& operator=(const CProviderLockGuard&) = delete;

private:
    DWORD m_dwOwnerCode;
};

// Owner codes of the lock's holders.
namespace LockOwner {
constexpr DWORD lineAccept = 1;
constexpr DWORD lineAddToConference = 2;
constexpr DWORD lineAnswer = 3;
constexpr DWORD lineBlindTransfer = 4;
constexpr DWORD lineClose = 5;
constexpr DWORD lineCloseCall = 6;
constexpr DWORD lineCompleteCall = 7;
constexpr DWORD lineCompleteTransfer = 8;
constexpr DWORD lineConditionalMediaDetection = 9;
constexpr DWORD lineDevSpecificFeature = 10;
constexpr DWORD lineDial = 11;
constexpr DWORD lineDrop = 12;
constexpr DWORD lineGetAddressCaps = 13;
constexpr DWORD lineGetAddressStatus = 14;
constexpr DWORD lineGetCallInfo = 15;
constexpr DWORD lineGetCallStatus = 16;
constexpr DWORD lineGetDevCaps = 17;
constexpr DWORD lineGetID = 18;
constexpr DWORD lineGetLineDevStatus = 19;
constexpr DWORD lineHold = 20;
constexpr DWORD lineMakeCall = 21;
constexpr DWORD lineOpen = 22;
constexpr DWORD linePickup = 23;
constexpr DWORD linePrepareAddToConference = 24;
constexpr DWORD lineRedirect = 25;
constexpr DWORD lineRemoveFromConference = 26;
constexpr DWORD lineSetAppSpecific = 27;
constexpr DWORD lineSetStatusMessages = 28;
constexpr DWORD lineSetupConference = 29;
constexpr DWORD lineSetupTransfer = 30;
constexpr DWORD lineSwapHold = 31;
constexpr DWORD lineUnhold = 32;
constexpr DWORD lineGenerateDigits = 33;
constexpr DWORD lineForward = 34;
constexpr DWORD providerShutdown = 35;
constexpr DWORD providerInit = 36;
constexpr DWORD lineGetExtensionID = 37;
constexpr DWORD providerCreateLineDevice = 38;
constexpr DWORD lineMonitorDigits = 39;
constexpr DWORD RaiseCallMsg = 51;
constexpr DWORD DispatchEvents = 61;
constexpr DWORD AsyncCloseUnknownDialtoneThread = 62;
constexpr DWORD InitResource = 64;
constexpr DWORD ReinitializeDevices = 65;
constexpr DWORD ClearCallsOfOfflineExtensions = 66;
constexpr DWORD ServiceState = 67;
constexpr DWORD ClearStaleCalls = 68;
constexpr DWORD RefreshDirectory = 69;
constexpr DWORD lineGetAddressID = 81;
constexpr DWORD lineGetCallAddressID = 82;
}  // namespace LockOwner
