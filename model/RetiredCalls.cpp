#include "model/RetiredCalls.h"

#include <map>
#include <new>

#include "log/Trace.h"
#include "model/CallRecord.h"
#include "model/EventOutbox.h"

namespace {
// Retired record -> the line it was on. Bounded by the handles TAPI holds:
// a record goes when TAPI closes the call or its line, or the provider shuts down.
std::map<PhoneCall*, const PhoneLine*>& Retired() {
    static std::map<PhoneCall*, const PhoneLine*> retired;
    return retired;
}
}  // namespace

bool TapiMayHoldCall(const PhoneCall& call) {
    return (call.m_dwCloseFlags & kCallClosedByTapi) == 0 && call.m_pPhoneLine != nullptr &&
           call.m_pPhoneLine->m_htLine != nullptr && TapiKnowsCall(call);
}

void RetireCall(PhoneCall* pCall) {
    CFuncTrace trace(3, L"RetireCall");
    trace.Param(L"_pCall", L"%p", pCall);
    const PhoneLine* pLine = pCall->m_pPhoneLine;
    ForgetCallRecord(pCall);
    // Its records go with it (CallRecord.h); until then nothing reaches them.
    pCall->m_pLineCallInfo = nullptr;
    pCall->m_pLineCallStatus = nullptr;
    // Without a line the handle fails every check of a live call.
    pCall->m_pPhoneLine = nullptr;
    pCall->m_htCall = nullptr;
    try {
        Retired().emplace(pCall, pLine);
    } catch (const std::bad_alloc&) {
        // Not kept: the handle may then be given out again, which is the lesser harm.
        DeletePhoneCall(pCall);
        trace.Warning(L"Out of memory, record freed");
        return;
    }
    trace.End();
}

bool ReleaseRetiredCall(const void* hdCall) {
    auto& retired = Retired();
    const auto entry = retired.find(static_cast<PhoneCall*>(const_cast<void*>(hdCall)));
    if (entry == retired.end()) return false;
    DeletePhoneCall(entry->first);
    retired.erase(entry);
    return true;
}

void ReleaseRetiredCalls(const PhoneLine* pLine) {
    auto& retired = Retired();
    for (auto entry = retired.begin(); entry != retired.end();) {
        if (pLine != nullptr && entry->second != pLine) {
            ++entry;
            continue;
        }
        DeletePhoneCall(entry->first);
        entry = retired.erase(entry);
    }
}

size_t RetiredCallCount() { return Retired().size(); }

bool HasRetiredCalls(const PhoneLine* pLine) {
    for (const auto& [pCall, pOwner] : Retired())
        if (pOwner == pLine) return true;
    return false;
}
