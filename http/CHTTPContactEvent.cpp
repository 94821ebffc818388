#include "http/CHTTPContactEvent.h"

#include <cwchar>

#include "log/Trace.h"

namespace {
constexpr wchar_t DataMarker[] = L"data: ";
constexpr size_t DataMarkerChars = 6;
}  // namespace

void CHTTPContactEvent::OnTrace(DWORD dwLevel, const wchar_t* pszText) {
    TraceLog.Write(dwLevel, L"HTTPBASE.%s", pszText);
}

void CHTTPContactEvent::OnData(wchar_t* pszChunk) {
    if (pszChunk == nullptr) return;
    // Lines run together: an event's "id:" line, its "data: " line and the
    // empty line after it become one stretch of text.
    for (const wchar_t* p = pszChunk; *p != L'\0'; ++p) {
        if (*p != L'\r' && *p != L'\n' && *p != L'\t') m_sEventBuffer.push_back(*p);
    }
    if (m_sEventBuffer.empty() || m_sEventBuffer.back() != L'}') return;

    // Each message ends where the next one's "data: " begins, so that two
    // events arriving together without "id:" lines are both delivered.
    size_t nPos = m_sEventBuffer.find(DataMarker);
    while (nPos != std::wstring::npos) {
        const size_t nStart = nPos + DataMarkerChars;
        const size_t nNext = m_sEventBuffer.find(DataMarker, nPos + 1);
        const size_t nEnd = nNext == std::wstring::npos ? m_sEventBuffer.size() : nNext;
        const std::wstring sMessage = m_sEventBuffer.substr(nStart, nEnd > nStart ? nEnd - nStart : 0);
        if (m_pfnMessageHandler) {
            m_pfnMessageHandler(sMessage);
        } else {
            Trace(5, L"Func.CHTTPContactEvent::OnData.Warning.No handler for %s", sMessage.c_str());
        }
        nPos = nNext;
    }
    m_sEventBuffer.clear();
}
