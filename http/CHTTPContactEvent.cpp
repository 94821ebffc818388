#include "http/CHTTPContactEvent.h"

#include <cwchar>
#include <new>

#include "common/StageClock.h"
#include "log/Trace.h"

void CHTTPContactEvent::OnTrace(DWORD dwLevel, const wchar_t* pszText) {
    TraceLog.Write(dwLevel, L"HTTPBASE.%s", pszText);
}

void CHTTPContactEvent::OnData(const wchar_t* pchText, size_t cch) {
    if (pchText == nullptr) return;
    MarkStage(Stage::Read);
    CFuncTrace trace(5, L"CHTTPContactEvent::OnData", TracePrefix::Func, false);
    std::vector<StreamEvent> events;
    const DWORD dwOversizedBefore = m_Framing.OversizedEvents();
    try {
        events = m_Framing.Feed(pchText, cch);
    } catch (const std::bad_alloc&) {
        // The events this chunk completed are lost; the stream goes on with the next one.
        m_Framing.BeginStream();
        trace.Warning(L"Out of memory, chunk dropped");
        return;
    }
    if (m_Framing.OversizedEvents() != dwOversizedBefore)
        trace.Warning(L"Event longer than %u characters dropped", static_cast<DWORD>(CEventStreamFraming::MaxEventUnits));
    MarkStage(Stage::Framed);
    for (const StreamEvent& event : events) {
        if (m_pfnMessageHandler) {
            m_pfnMessageHandler(event.sData, event.sId, event.bOwnId);
        } else {
            trace.Warning(L"No handler for %s", event.sData.c_str());
        }
    }
}

void CHTTPContactEvent::OnHeaderRead() {
    // Opened as the query will judge it.
    if (IsSuccessful(TRUE) && m_pfnOpenedHandler) m_pfnOpenedHandler();
}
