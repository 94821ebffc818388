#include "http/ExchangeDeferral.h"

#include <new>
#include <utility>
#include <vector>

#include "http/CHTTPContactBase.h"

namespace {
thread_local int t_nDeferralDepth = 0;
// One per label at most (six labels): a later exchange of a label replaces the earlier.
thread_local std::vector<ExchangeRecord> t_waiting;

void WriteWaiting() {
    std::vector<ExchangeRecord> waiting;
    waiting.swap(t_waiting);
    for (const ExchangeRecord& record : waiting) WriteExchangeFile(record, FALSE, nullptr);
}
}  // namespace

CExchangeDeferral::CExchangeDeferral() { ++t_nDeferralDepth; }

CExchangeDeferral::~CExchangeDeferral() {
    if (--t_nDeferralDepth == 0 && !t_waiting.empty()) WriteWaiting();
}

void WriteOrDeferExchange(ExchangeRecord record) {
    if (t_nDeferralDepth == 0) {
        WriteExchangeFile(record, FALSE, nullptr);
        return;
    }
    try {
        for (ExchangeRecord& waiting : t_waiting) {
            if (waiting.sLabel == record.sLabel) {
                waiting = std::move(record);
                return;
            }
        }
        t_waiting.push_back(std::move(record));
    } catch (const std::bad_alloc&) {
        // Without memory the file of this exchange is not written.
    }
}
