// The ids of the events already handed to the dispatcher, so that an event
// the PBX sends again (a replay after a reconnection that starts earlier than
// needed) is not delivered twice. Ids are opaque texts: no order is assumed,
// only equality, among the latest kRemembered ids, and of those only as many
// as kRememberedChars characters hold (an id may be as long as its event).
// Platform-free.
#pragma once

#include <cstddef>
#include <string>

#include "common/RecentKeys.h"

class CDeliveredEvents {
public:
    static constexpr size_t kRemembered = 4096;
    static constexpr size_t kRememberedChars = 1 << 20;

    // True the first time an id is offered (it is remembered then), false for
    // an id already delivered. An empty id is never a repeat.
    bool FirstDelivery(const std::wstring& sId);
    void Forget();

private:
    CRecentKeys m_ids{kRemembered, kRememberedChars};
};
