#include "http/ExchangeDeferral.h"

#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "http/CHTTPContactBase.h"

namespace {
using WaitingExchanges = std::vector<ExchangeRecord>;

// Plain values only: a thread_local with a destructor would make the runtime
// keep this library loaded until the thread ends, so that an unload and
// reload of the provider would find the old one's state.
thread_local int t_nDeferralDepth = 0;
// One per label at most (six labels): a later exchange of a label replaces
// the earlier. Owned here while the outermost deferral lasts.
thread_local WaitingExchanges* t_pWaiting = nullptr;

void WriteWaiting() {
    const std::unique_ptr<WaitingExchanges> waiting(t_pWaiting);
    t_pWaiting = nullptr;
    for (const ExchangeRecord& record : *waiting) WriteExchangeFile(record, FALSE, nullptr);
}
}  // namespace

CExchangeDeferral::CExchangeDeferral() { ++t_nDeferralDepth; }

CExchangeDeferral::~CExchangeDeferral() {
    if (--t_nDeferralDepth == 0 && t_pWaiting != nullptr) WriteWaiting();
}

void WriteOrDeferExchange(ExchangeRecord record) {
    if (t_nDeferralDepth == 0) {
        WriteExchangeFile(record, FALSE, nullptr);
        return;
    }
    try {
        if (t_pWaiting == nullptr) t_pWaiting = std::make_unique<WaitingExchanges>().release();
        for (ExchangeRecord& waiting : *t_pWaiting) {
            if (waiting.sLabel == record.sLabel) {
                waiting = std::move(record);
                return;
            }
        }
        t_pWaiting->push_back(std::move(record));
    } catch (const std::bad_alloc&) {
        // Without memory the file of this exchange is not written.
    }
}
