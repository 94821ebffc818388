#include "model/CallRecord.h"

#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>

#include "model/EventOutbox.h"

namespace {
struct CallBlock {
    PhoneCall call;
    BYTE info[kCallInfoBufferSize];
    LINECALLSTATUS status;
};
static_assert(std::is_standard_layout_v<CallBlock> && offsetof(CallBlock, call) == 0,
              "a record's address is its block's");

using CallBlockOwner = std::unique_ptr<CallBlock>;

volatile LONG g_lLastSerial = 0;
}  // namespace

PhoneCall* NewPhoneCall() {
    CallBlockOwner block(new (std::nothrow) CallBlock{});
    if (block == nullptr) return nullptr;
    block->call.m_pLineCallInfo = reinterpret_cast<LINECALLINFO*>(block->info);
    block->call.m_pLineCallStatus = &block->status;
    block->call.m_dwSerial = static_cast<DWORD>(InterlockedIncrement(&g_lLastSerial));
    return &block.release()->call;
}

void DeletePhoneCall(PhoneCall* pCall) {
    if (pCall == nullptr) return;
    ForgetCallRecord(pCall);
    // The record is its block's first member: its address is the block's.
    CallBlockOwner owner(reinterpret_cast<CallBlock*>(pCall));
}
