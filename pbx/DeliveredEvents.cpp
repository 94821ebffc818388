#include "pbx/DeliveredEvents.h"

bool CDeliveredEvents::FirstDelivery(const std::wstring& sId) {
    if (sId.empty()) return true;
    if (!m_ids.insert(sId).second) return false;
    m_order.push_back(sId);
    if (m_order.size() > kRemembered) {
        m_ids.erase(m_order.front());
        m_order.pop_front();
    }
    return true;
}

void CDeliveredEvents::Forget() {
    m_order.clear();
    m_ids.clear();
}
