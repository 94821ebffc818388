// Exchange files wait while the thread holds a lock that PBX requests are
// made under (the session or the command lock): masking and writing a large
// answer must not hold up the next login, refresh or command. A scope of
// CExchangeDeferral marks such a lock; the files of the requests made inside
// the outermost one are written when it ends, after the lock is released
// (pbx/RequestLock.h orders the two). Outside every scope a file is written
// at once. Per thread; at most one waiting file per label (the latest).
#pragma once

#include "http/ExchangeRecord.h"

class CExchangeDeferral {
public:
    CExchangeDeferral();
    ~CExchangeDeferral();
    CExchangeDeferral(const CExchangeDeferral&) = delete;
    CExchangeDeferral& operator=(const CExchangeDeferral&) = delete;
};

// Writes the exchange file now, or when the thread's outermost deferral ends.
void WriteOrDeferExchange(ExchangeRecord record);
