// The ids of the events already handed to the dispatcher, so that an event
// the PBX sends again (a replay after a reconnection that starts earlier than
// needed) is not delivered twice. Ids are opaque texts: no order is assumed,
// only equality, among the latest kRemembered ids. Platform-free.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <unordered_set>

class CDeliveredEvents {
public:
    static constexpr size_t kRemembered = 4096;

    // True the first time an id is offered (it is remembered then), false for
    // an id already delivered. An empty id is never a repeat.
    bool FirstDelivery(const std::wstring& sId);
    void Forget();

private:
    std::deque<std::wstring> m_order;  // oldest first
    std::unordered_set<std::wstring> m_ids;
};
