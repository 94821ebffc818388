// The latest keys offered, as many as a count and a character budget allow:
// the oldest go first, the newest always stays. For telling a repeat from
// something new (an event sent again, a ring replayed) without keeping
// every key ever seen. Platform-free.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <unordered_set>

class CRecentKeys {
public:
    CRecentKeys(size_t nMaxKeys, size_t nMaxChars) : m_nMaxKeys(nMaxKeys), m_nMaxChars(nMaxChars) {}

    // True the first time a key is offered (it is remembered then), false
    // while it is remembered.
    bool Insert(const std::wstring& key);
    size_t Size() const { return m_order.size(); }
    void Clear();

private:
    size_t m_nMaxKeys;
    size_t m_nMaxChars;
    std::deque<std::wstring> m_order;  // oldest first
    std::unordered_set<std::wstring> m_keys;
    size_t m_nChars = 0;  // of the keys in m_order
};
