#include "common/RecentKeys.h"

bool CRecentKeys::Insert(const std::wstring& key) {
    if (!m_keys.insert(key).second) return false;
    m_order.push_back(key);
    m_nChars += key.size();
    while (m_order.size() > 1 && (m_order.size() > m_nMaxKeys || m_nChars > m_nMaxChars)) {
        m_nChars -= m_order.front().size();
        m_keys.erase(m_order.front());
        m_order.pop_front();
    }
    return true;
}

void CRecentKeys::Clear() {
    m_order.clear();
    m_keys.clear();
    m_nChars = 0;
}
