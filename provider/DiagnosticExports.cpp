// ORVO_GetTableSizes: how many entries the provider's tables hold, for the
// soak run (tools/soak), which tells growth with time from growth with load.
// Read-only and not part of TSPI: the telephony service never calls it.
#include <windows.h>

#include "manager/CallNumbers.h"
#include "model/LineTable.h"
#include "model/ProviderLock.h"
#include "model/RetiredCalls.h"

// Fills up to dwCount sizes, in this order: line records, call numbers by
// uuid, call uuids by number, rings seen, lines by call number, retired call
// records; returns how many the provider has.
extern "C" DWORD WINAPI ORVO_GetTableSizes(DWORD* pdwSizes, DWORD dwCount) {
    CProviderLockGuard lock(LockOwner::tableSizes);
    const size_t sizes[] = {g_PhoneLines.size(),  g_mapCallNumber.size(), g_mapCallUuid.size(),
                            g_RingsSeen.Size(),   g_mapCallLines.size(),  RetiredCallCount()};
    constexpr DWORD kSizes = sizeof(sizes) / sizeof(sizes[0]);
    for (DWORD i = 0; pdwSizes != nullptr && i < dwCount && i < kSizes; ++i) pdwSizes[i] = static_cast<DWORD>(sizes[i]);
    return kSizes;
}
