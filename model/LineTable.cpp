#include "model/LineTable.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "log/Trace.h"
#include "model/CallEndNotice.h"
#include "model/CallRecord.h"
#include "model/EventOutbox.h"
#include "model/ProviderState.h"
#include "model/RetiredCalls.h"

DWORD g_dwNextCallID = 0;
DWORD g_dwPBXCallCounter = 1;

namespace {
// Sorted vectors rather than hash maps: a few bytes a line instead of a node
// each, with ten thousand lines kept for the whole run.
using RecordPos = std::pair<const void*, DWORD>;
using AddressPos = std::pair<std::wstring, DWORD>;
// Record address -> position, sorted by address, for every record the table
// ever held: records never move, and the table only grows by new records
// (so, as it, bounded).
std::vector<RecordPos> g_LineRecordPos;
// Address -> first position with it, below g_dwDeviceCount (one per line),
// sorted by address; rebuilt when addresses or the device count changed
// since it was built.
std::vector<AddressPos> g_AddressPos;
// The event monitor looks up addresses without the ProviderLock: the index has a lock of its own.
SRWLOCK g_AddressIndexLock = SRWLOCK_INIT;
volatile LONG g_lAddressVersion = 1;
LONG g_lIndexedVersion = 0;
DWORD g_dwIndexedCount = 0;

bool RecordBefore(const RecordPos& entry, const void* pRecord) { return std::less<const void*>()(entry.first, pRecord); }

bool AddressIndexCurrent() { return g_lIndexedVersion == g_lAddressVersion && g_dwIndexedCount == g_dwDeviceCount; }

// With the index lock held exclusively.
void IndexAddresses() {
    g_AddressPos.clear();
    // A removed line keeps its address, but its extension's events and calls belong to no line now.
    for (DWORD dwPos = 0; dwPos < g_dwDeviceCount && dwPos < g_PhoneLines.size(); ++dwPos)
        if (!g_PhoneLines[dwPos].m_bRemoved) g_AddressPos.emplace_back(g_PhoneLines[dwPos].m_szAddress, dwPos);
    // Stable: of two lines with one address, the first stays first.
    std::stable_sort(g_AddressPos.begin(), g_AddressPos.end(),
                     [](const AddressPos& a, const AddressPos& b) { return a.first < b.first; });
    g_AddressPos.shrink_to_fit();
    g_lIndexedVersion = g_lAddressVersion;
    g_dwIndexedCount = g_dwDeviceCount;
}

// Applies fn to each occupied slot of a valid line, in slot order, until it returns true.
// Returns that slot, or -1.
template <typename Fn>
LONG FindCall(LONG lLinePos, Fn fn) {
    PhoneLine* pLine = GetPhoneLine(lLinePos);
    if (pLine == nullptr) return -1;
    for (LONG k = 0; k < kCallSlots; ++k)
        if (pLine->m_pPhoneCall[k] != nullptr && fn(*pLine->m_pPhoneCall[k])) return k;
    return -1;
}

template <typename Fn>
DWORD CountCalls(LONG lLinePos, Fn fn) {
    PhoneLine* pLine = GetPhoneLine(lLinePos);
    if (pLine == nullptr) return 0;
    DWORD dwCount = 0;
    for (PhoneCall* pCall : pLine->m_pPhoneCall)
        if (pCall != nullptr && fn(*pCall)) ++dwCount;
    return dwCount;
}

DWORD CurrentState(const PhoneCall& call) {
    return call.m_pLineCallStatus != nullptr ? call.m_pLineCallStatus->dwCallState : 0;
}

DWORD CallID(const PhoneCall& call) { return call.m_pLineCallInfo != nullptr ? call.m_pLineCallInfo->dwCallID : 0; }

}  // namespace

void EnsureLineRecords(DWORD dwCount) {
    if (g_PhoneLines.size() >= dwCount) return;
    g_LineRecordPos.reserve(dwCount);
    while (g_PhoneLines.size() < dwCount) {
        g_PhoneLines.push_back(PhoneLine{});
        g_LineRecordPos.emplace_back(&g_PhoneLines.back(), static_cast<DWORD>(g_PhoneLines.size() - 1));
    }
    std::sort(g_LineRecordPos.begin(), g_LineRecordPos.end(),
              [](const RecordPos& a, const RecordPos& b) { return RecordBefore(a, b.first); });
}

void LineAddressesChanged() { InterlockedIncrement(&g_lAddressVersion); }

PhoneLine* GetPhoneLine(LONG lLinePos) {
    if (lLinePos < 0 || static_cast<DWORD>(lLinePos) >= g_dwDeviceCount) return nullptr;
    if (static_cast<size_t>(lLinePos) >= g_PhoneLines.size()) return nullptr;
    return &g_PhoneLines[lLinePos];
}

PhoneCall* GetPhoneCall(LONG lLinePos, LONG lCallPos) {
    PhoneLine* pLine = GetPhoneLine(lLinePos);
    if (pLine == nullptr || lCallPos < 0 || lCallPos >= kCallSlots) return nullptr;
    return pLine->m_pPhoneCall[lCallPos];
}

LONG GetPosFromLineRecord(const void* pLine) {
    if (pLine == nullptr) return -1;
    const auto entry = std::lower_bound(g_LineRecordPos.begin(), g_LineRecordPos.end(), pLine, RecordBefore);
    if (entry == g_LineRecordPos.end() || entry->first != pLine || entry->second >= g_dwDeviceCount) return -1;
    return static_cast<LONG>(entry->second);
}

LONG GetPosFromDeviceID(DWORD dwDeviceID) {
    if (dwDeviceID == kNoDeviceID) return -1;
    // The lines TAPI counted at start-up have their place's identifier: no search.
    const DWORD dwGuess = dwDeviceID - g_dwLineDeviceIDBase;
    if (dwGuess < g_dwDeviceCount && dwGuess < g_PhoneLines.size() && g_PhoneLines[dwGuess].m_dwDeviceID == dwDeviceID)
        return static_cast<LONG>(dwGuess);
    for (DWORD dwPos = 0; dwPos < g_dwDeviceCount && dwPos < g_PhoneLines.size(); ++dwPos)
        if (g_PhoneLines[dwPos].m_dwDeviceID == dwDeviceID) return static_cast<LONG>(dwPos);
    return -1;
}

bool IsLineOpenToTapi(const PhoneLine& line) { return line.m_htLine != nullptr && !line.m_bRemoved; }

LONG InsertLineCallPointer(PhoneLine* pPhoneLine, PhoneCall* pPhoneCall) {
    CFuncTrace trace(3, L"InsertLineCallPointer");
    if (pPhoneLine == nullptr || IsBadWritePtr(pPhoneLine, sizeof(PhoneLine))) {
        trace.Line(L"Abort.Result -1");
        return -1;
    }
    for (LONG k = 0; k < kCallSlots; ++k) {
        if (pPhoneLine->m_pPhoneCall[k] == nullptr) {
            pPhoneLine->m_pPhoneCall[k] = pPhoneCall;
            trace.Line(L"End.Result %d", k);
            return k;
        }
    }
    trace.Line(L"End.Result -1");
    return -1;
}

void RemoveLineCallPointer(PhoneCall* pPhoneCall) {
    CFuncTrace trace(3, L"RemoveLineCallPointer");
    if (pPhoneCall == nullptr || IsBadReadPtr(pPhoneCall, sizeof(PhoneCall))) {
        trace.Line(L"Abort.Warning.Nullpointer");
        return;
    }
    PhoneLine* pLine = pPhoneCall->m_pPhoneLine;
    if (pLine == nullptr || IsBadWritePtr(pLine, sizeof(PhoneLine))) {
        trace.Line(L"Abort.Warning.No line");
        return;
    }
    PhoneCall** slots = pLine->m_pPhoneCall;
    for (int k = 0; k < kCallSlots; ++k) {
        if (slots[k] != pPhoneCall) continue;
        // Keep the slots packed: the calls behind move one place down.
        for (int j = k; j + 1 < kCallSlots; ++j) slots[j] = slots[j + 1];
        slots[kCallSlots - 1] = nullptr;
        trace.Var(L"lCallPos", L"%d", k);
        break;
    }
    trace.End();
}

void RemovePhoneCallSilent(PhoneCall* pPhoneCall) {
    CFuncTrace trace(3, L"RemovePhoneCallSilent");
    trace.Param(L"_pPhoneCall", L"%p", pPhoneCall);
    RemoveLineCallPointer(pPhoneCall);
    if (pPhoneCall == nullptr || IsBadWritePtr(pPhoneCall, sizeof(PhoneCall))) {
        trace.Line(L"Abort.Warning.Nullpointer");
        return;
    }
    // A call taken away before it was idle has ended too (an idle one said so already).
    if (pPhoneCall->m_dwLastState != LINECALLSTATE_IDLE && pPhoneCall->m_pLineCallInfo != nullptr)
        NoteCallEnded(pPhoneCall->m_pLineCallInfo->dwCallID);
    // A handle TAPI may still use is never given to another call.
    const bool bTapiMayHold = TapiMayHoldCall(*pPhoneCall);
    // Nothing told to TAPI from now on writes into the record.
    ForgetCallRecord(pPhoneCall);
    if (bTapiMayHold) {
        RetireCall(pPhoneCall);
        return trace.End();
    }
    pPhoneCall->m_htCall = nullptr;
    pPhoneCall->m_pPhoneLine = nullptr;
    DeletePhoneCall(pPhoneCall);
    trace.End();
}

LONG GetPosFromHtLine(HTAPILINE htLine) {
    for (DWORD dwPos = 0; dwPos < g_dwDeviceCount && dwPos < g_PhoneLines.size(); ++dwPos)
        if (!g_PhoneLines[dwPos].m_bRemoved && g_PhoneLines[dwPos].m_htLine == htLine) return static_cast<LONG>(dwPos);
    return -1;
}

LONG GetPosFromAddress(const wchar_t* pszAddress) {
    if (pszAddress == nullptr) return -1;
    // Found where the index says, and only if that line still has the
    // address; else the index is rebuilt once and asked again.
    auto find = [pszAddress]() -> LONG {
        const std::wstring_view address(pszAddress);
        const auto entry = std::lower_bound(g_AddressPos.begin(), g_AddressPos.end(), address,
                                            [](const AddressPos& e, std::wstring_view key) { return e.first < key; });
        if (entry == g_AddressPos.end() || entry->first != address) return AddressIndexCurrent() ? -1 : -2;
        const DWORD dwPos = entry->second;
        const bool bHolds = dwPos < g_dwDeviceCount && dwPos < g_PhoneLines.size() &&
                            !g_PhoneLines[dwPos].m_bRemoved && wcscmp(g_PhoneLines[dwPos].m_szAddress, pszAddress) == 0;
        return bHolds && AddressIndexCurrent() ? static_cast<LONG>(dwPos) : -2;
    };
    AcquireSRWLockShared(&g_AddressIndexLock);
    LONG lPos = find();
    ReleaseSRWLockShared(&g_AddressIndexLock);
    if (lPos != -2) return lPos;
    AcquireSRWLockExclusive(&g_AddressIndexLock);
    IndexAddresses();
    lPos = find();
    ReleaseSRWLockExclusive(&g_AddressIndexLock);
    return lPos < 0 ? -1 : lPos;
}

LONG GetLinePosFromPPCall(const PhoneCall* pPhoneCall) {
    if (pPhoneCall == nullptr || IsBadReadPtr(pPhoneCall, sizeof(PhoneCall))) return -1;
    // The line pointer is only trusted when it is one of the table's records.
    return GetPosFromLineRecord(pPhoneCall->m_pPhoneLine);
}

LONG GetCallPosition(DWORD dwLinePos, const PhoneCall* pPhoneCall) {
    if (pPhoneCall == nullptr) return -1;
    return FindCall(static_cast<LONG>(dwLinePos), [&](const PhoneCall& call) { return &call == pPhoneCall; });
}

DWORD GetCallCount(DWORD dwLinePos) {
    PhoneLine* pLine = GetPhoneLine(static_cast<LONG>(dwLinePos));
    if (pLine == nullptr) return 0;
    DWORD dwCount = 0;
    for (int k = 0; k < kCallSlots; ++k) {
        if (pLine->m_pPhoneCall[k] == nullptr) continue;
        Trace(4, L"Func.GetCallCount.Info.Call at pos %d, last State 0x%08X", k, pLine->m_pPhoneCall[k]->m_dwLastState);
        ++dwCount;
    }
    return dwCount;
}

DWORD GetCallCountWithState(DWORD dwLinePos, DWORD dwStates) {
    return CountCalls(static_cast<LONG>(dwLinePos),
                      [&](const PhoneCall& call) { return (CurrentState(call) & dwStates) != 0; });
}

DWORD GetCallStateMask(DWORD dwLinePos) {
    PhoneLine* pLine = GetPhoneLine(static_cast<LONG>(dwLinePos));
    if (pLine == nullptr) return 0;
    DWORD dwMask = 0;
    for (PhoneCall* pCall : pLine->m_pPhoneCall)
        if (pCall != nullptr) dwMask |= CurrentState(*pCall);
    return dwMask;
}

DWORD GetCallState(LONG lLinePos, LONG lCallPos) {
    PhoneCall* pCall = GetPhoneCall(lLinePos, lCallPos);
    return pCall != nullptr ? CurrentState(*pCall) : 0;
}

LONG GetFirstCallPosWithState(DWORD dwLinePos, DWORD dwState) {
    return FindCall(static_cast<LONG>(dwLinePos),
                    [&](const PhoneCall& call) { return (CurrentState(call) & dwState) != 0; });
}

LONG GetFirstCallPosWithCallID(DWORD dwLinePos, DWORD dwCallID) {
    return FindCall(static_cast<LONG>(dwLinePos), [&](const PhoneCall& call) { return CallID(call) == dwCallID; });
}

LONG GetCallPosWithPartnerCallID(DWORD dwLinePos, LONG lPartner, DWORD dwCallID) {
    return FindCall(static_cast<LONG>(dwLinePos), [&](const PhoneCall& call) {
        return call.m_lPartnerID == lPartner && CallID(call) == dwCallID;
    });
}

LONG GetCallPosWithPartnerState(DWORD dwLinePos, LONG lPartner, DWORD dwState) {
    return FindCall(static_cast<LONG>(dwLinePos), [&](const PhoneCall& call) {
        return call.m_lPartnerID == lPartner && (CurrentState(call) & dwState) != 0;
    });
}

DWORD GetNumCallsWithPartner(DWORD dwLinePos, LONG lPartner) {
    return CountCalls(static_cast<LONG>(dwLinePos), [&](const PhoneCall& call) { return call.m_lPartnerID == lPartner; });
}
