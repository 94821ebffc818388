// The guard of a lock that PBX requests are made under (the session lock,
// the command lock): the exchange files of the requests made inside it are
// written once the thread holds none of these locks any more, so that
// masking and writing a large answer never holds up another request.
#pragma once

#include <mutex>

#include "http/ExchangeDeferral.h"

template <class Mutex>
class CRequestLockGuard {
public:
    explicit CRequestLockGuard(Mutex& mutex) : m_lock(mutex) {}
    CRequestLockGuard(const CRequestLockGuard&) = delete;
    CRequestLockGuard& operator=(const CRequestLockGuard&) = delete;

private:
    // Declared first, so destroyed last: after the lock is released.
    CExchangeDeferral m_deferral;
    std::lock_guard<Mutex> m_lock;
};
