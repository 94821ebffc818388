// What the JSON-line modes of tapihost (bench, soak) share: answers of one
// JSON object per line, and the process's memory in use.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

// A JSON string of the text, UTF-8.
inline std::string JsonString(const std::wstring& text) {
    std::string utf8(text.size() * 3, '\0');
    const int cb = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(),
                                       static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.resize(cb > 0 ? static_cast<size_t>(cb) : 0);
    std::string quoted = "\"";
    for (char ch : utf8) {
        if (ch == '"' || ch == '\\') {
            quoted += '\\';
            quoted += ch;
        } else if (static_cast<unsigned char>(ch) < 0x20) {
            char szEscape[8];
            snprintf(szEscape, sizeof(szEscape), "\\u%04x", static_cast<unsigned>(ch));
            quoted += szEscape;
        } else {
            quoted += ch;
        }
    }
    return quoted + "\"";
}

// One answer line: members in the order they are added.
class CAnswer {
public:
    CAnswer& Add(const char* pszName, const std::string& jsonValue) {
        m_text += (m_text.empty() ? "{\"" : ",\"") + std::string(pszName) + "\":" + jsonValue;
        return *this;
    }
    void Print() const {
        const std::string line = (m_text.empty() ? "{" : m_text) + "}\n";
        fwrite(line.data(), 1, line.size(), stdout);
        fflush(stdout);
    }

private:
    std::string m_text;
};

// What is allocated, not what the heaps keep resident: Wine's counters
// also hold freed pages and buffers of the moment, which hide a growth
// per line behind noise.
inline ULONGLONG HeapBytesInUse() {
    std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
    heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
    ULONGLONG qwBytes = 0;
    for (HANDLE hHeap : heaps) {
        if (!HeapLock(hHeap)) continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(hHeap, &entry))
            if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) qwBytes += entry.cbData;
        HeapUnlock(hHeap);
    }
    return qwBytes;
}
