#include "manager/DelayedReply.h"

#include <utility>

#include "common/TimerScale.h"
#include "log/Trace.h"
#include "manager/CGenericTSPIManager.h"
#include "manager/RequestThreads.h"
#include "manager/ThreadRun.h"
#include "model/TapiDefs.h"

namespace {
constexpr DWORD kReplyDelayMs = 100;

// A request that cannot wait for its completion is still completed, at once
// (TAPI allows a completion before the export has returned); one dropped
// because the provider stops is not, since TAPI let go of the provider.
void CompleteUnqueued(DWORD dwRequestID, RequestQueued queued) {
    if (queued == RequestQueued::Yes || queued == RequestQueued::Stopping) return;
    const LONG lResult = queued == RequestQueued::NoMemory ? LINEERR_NOMEM : LINEERR_OPERATIONFAILED;
    Trace(0, L"Func.StartReplyRequest.Error.Request %u completed at once with 0x%08X", dwRequestID,
          static_cast<DWORD>(lResult));
    SendRequestCompletion(dwRequestID, lResult);
}

// The completion, dwDelayMs from now; it acts only while its run goes on.
void QueueCompletion(DWORD dwRequestID, LONG lResult, DWORD dwDelayMs) {
    CompleteUnqueued(dwRequestID, QueueRequest(dwDelayMs, [dwRequestID, lResult] {
                         if (CurrentThreadMayAct()) SendRequestCompletion(dwRequestID, lResult);
                     }));
}
}  // namespace

void SendRequestCompletion(DWORD dwRequestID, LONG lResult) {
    if (g_pManager != nullptr) g_pManager->SendReply(dwRequestID, lResult);
}

void StartReplyRequest(DWORD dwRequestID, LONG lResult) { QueueCompletion(dwRequestID, lResult, ScaledMs(kReplyDelayMs)); }

void StartReplyRequest(DWORD dwRequestID, std::function<LONG()> command) {
    const ULONGLONG qwExported = GetTickCount64();
    CompleteUnqueued(dwRequestID, QueueRequest(0, [dwRequestID, command = std::move(command), qwExported] {
                         // The PBX is asked here, without any lock, while the export has long returned.
                         const LONG lResult = command();
                         if (!CurrentThreadMayAct()) return;
                         const ULONGLONG qwSpent = GetTickCount64() - qwExported;
                         const DWORD dwDelayMs = ScaledMs(kReplyDelayMs);
                         QueueCompletion(dwRequestID, lResult,
                                         qwSpent < dwDelayMs ? static_cast<DWORD>(dwDelayMs - qwSpent) : 0);
                     }));
}
