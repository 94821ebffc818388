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
//   5. request locks         manager/RequestThreads.cpp: the current
//                            request thread, then its queue
//   6. login-recovery lock   manager/LoginRecovery.cpp: the back-off of the
//                            background login
//   7. proxy lock            http/ProxySettings.cpp: the remembered proxy
//   8. calls-heard lock      pbx/EventStream.cpp: the calls heard of on the
//                            current stream (nothing is taken inside it)
//   9. async-call registry   http/AsyncCall.cpp: the request records the
//                            WinHTTP callback may still reach (nothing is
//                            taken inside it)
//  10. line-number lock      manager/PermanentLineIDs.cpp: the permanent line
//                            numbers of this start (only the log locks inside)
//  11. outbox lock           model/EventOutbox.cpp: the messages queued for
//                            TAPI; never held during a callback
//  12. log locks             log/CLoggingFile.h: one per log object, around a
//                            whole write (every lock above may trace)
// The locks 1 and 2 are held across PBX requests; everything below them
// is held briefly. So the ProviderLock is never held while waiting for the
// PBX: no PBX request is made inside it (a request made there is traced as an
// error by the HTTP client), and no thread waits inside it for a background
// thread to end, since such a thread may need the lock to leave.
//
// No TAPI callback runs inside the ProviderLock. TAPI handles some messages
// (LINE_NEWCALL) synchronously, and may then wait for one of its threads that
// is inside an export waiting for this lock: both would hang. So what the
// model tells TAPI (model/EventOutbox.h) is queued while the lock is held and
// told after it is released:
//   - A holder's messages are kept aside while it holds the lock. When it
//     leaves its outermost hold, still inside the lock, they join the one
//     queue of due messages; so holds are queued in the order they end, and
//     the messages of a line or a call keep the order they were raised in.
//   - Once the lock is free, the thread that left it tells the due messages,
//     unless another thread is telling already: then that one tells them
//     too. One teller at a time keeps the order; a thread never waits for
//     another's callbacks, which could be the very wait that hangs.
//   - LINE_NEWCALL: TAPI writes its handle of the new call into a place the
//     queued message owns (not into the record, which may be gone by then).
//     Messages of that call queued before TAPI answered carry that place and
//     are told with the handle TAPI wrote there; once TAPI has answered, the
//     teller copies the handle into the record's m_htCall, unless the record
//     went meanwhile. Until then the record counts as known to TAPI.
//   - A call placed by TSPI_lineMakeCall is not heard of before the
//     request's completion: its messages wait in a hold until the
//     completion has been told (RaiseAsyncCompletion marks it), then follow
//     it; a failed make-call drops them, since TAPI has no such call.
//   - A pause between two messages (an application shows "disconnected"
//     before "idle") is waited by the teller, not inside the lock.
//   - A thread that raises messages without holding the lock (a completion
//     on a reply thread) queues and tells them at once.
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
constexpr DWORD tableSizes = 83;  // ORVO_GetTableSizes, for the soak run
}  // namespace LockOwner
