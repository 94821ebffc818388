#include "http/ExchangeDeferral.h"

#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "common/ThreadSlot.h"
#include "http/CHTTPContactBase.h"

namespace {
using WaitingExchanges = std::vector<ExchangeRecord>;

ThreadSlot<int> t_nDeferralDepth;
// One per label at most (six labels): a later exchange of a label replaces
// the earlier. Owned here while the outermost deferral lasts.
ThreadSlot<WaitingExchanges*> t_pWaiting;

void WriteWaiting() {
    const std::unique_ptr<WaitingExchanges> waiting(t_pWaiting.Get());
    t_pWaiting.Set(nullptr);
    for (const ExchangeRecord& record : *waiting) WriteExchangeFile(record, FALSE, nullptr);
}
}  // namespace

CExchangeDeferral::CExchangeDeferral() { t_nDeferralDepth.Set(t_nDeferralDepth.Get() + 1); }

CExchangeDeferral::~CExchangeDeferral() {
    const int nDepth = t_nDeferralDepth.Get() - 1;
    t_nDeferralDepth.Set(nDepth);
    if (nDepth == 0 && t_pWaiting.Get() != nullptr) WriteWaiting();
}

void WriteOrDeferExchange(ExchangeRecord record) {
    if (t_nDeferralDepth.Get() == 0) {
        WriteExchangeFile(record, FALSE, nullptr);
        return;
    }
    try {
        WaitingExchanges* pWaiting = t_pWaiting.Get();
        if (pWaiting == nullptr) {
            auto created = std::make_unique<WaitingExchanges>();
            if (!t_pWaiting.Set(created.get())) return WriteExchangeFile(record, FALSE, nullptr);
            pWaiting = created.release();
        }
        for (ExchangeRecord& waiting : *pWaiting) {
            if (waiting.sLabel == record.sLabel) {
                waiting = std::move(record);
                return;
            }
        }
        pWaiting->push_back(std::move(record));
    } catch (const std::bad_alloc&) {
        // Without memory the file of this exchange is not written.
    }
}
