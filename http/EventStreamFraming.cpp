#include "http/EventStreamFraming.h"

namespace {
constexpr WCHAR kByteOrderMark = 0xFEFF;
}  // namespace

void CEventStreamFraming::BeginStream() {
    m_sLine.clear();
    m_sData.clear();
    // An id whose event never ended does not count.
    m_sIdBuffer = m_sLastEventId;
    m_bIdInEvent = false;
    m_bLineStarted = false;
    m_bAfterCR = false;
    m_bStreamStart = true;
    m_bOversized = false;
}

std::vector<StreamEvent> CEventStreamFraming::Feed(const WCHAR* pchText, size_t cch) {
    std::vector<StreamEvent> events;
    if (pchText == nullptr) return events;
    for (size_t i = 0; i < cch; ++i) {
        const WCHAR c = pchText[i];
        if (m_bStreamStart) {
            m_bStreamStart = false;
            if (c == kByteOrderMark) continue;
        }
        // A CR at the end of one write and the LF at the start of the next are one line end.
        if (m_bAfterCR) {
            m_bAfterCR = false;
            if (c == L'\n') continue;
        }
        if (c == L'\r' || c == L'\n') {
            m_bAfterCR = c == L'\r';
            EndLine(events);
            continue;
        }
        m_bLineStarted = true;
        // The rest of an event that is dropped anyway is not kept.
        if (m_bOversized) continue;
        if (m_sLine.size() + m_sData.size() >= MaxEventUnits) {
            m_bOversized = true;
            m_sLine.clear();
            m_sData.clear();
        } else {
            m_sLine.push_back(c);
        }
    }
    return events;
}

void CEventStreamFraming::EndLine(std::vector<StreamEvent>& events) {
    if (!m_bLineStarted) {
        DeliverEvent(events);
        return;
    }
    if (!m_bOversized && m_sLine[0] != L':') {
        // "name:value", one blank after the colon dropped; a line without a colon is a name alone.
        const size_t nColon = m_sLine.find(L':');
        if (nColon == std::wstring::npos) {
            TakeField(m_sLine, std::wstring());
        } else {
            size_t nValue = nColon + 1;
            if (nValue < m_sLine.size() && m_sLine[nValue] == L' ') ++nValue;
            TakeField(m_sLine.substr(0, nColon), m_sLine.substr(nValue));
        }
    }
    m_sLine.clear();
    m_bLineStarted = false;
}

void CEventStreamFraming::TakeField(const std::wstring& sName, const std::wstring& sValue) {
    if (sName == L"data") {
        m_sData += sValue;
        m_sData += L'\n';
    } else if (sName == L"id") {
        // An id holding NUL is ignored by the format's rules.
        if (sValue.find(L'\0') == std::wstring::npos) {
            m_sIdBuffer = sValue;
            m_bIdInEvent = true;
        }
    }
    // "event", "retry" and unknown fields carry nothing the provider uses.
}

void CEventStreamFraming::DeliverEvent(std::vector<StreamEvent>& events) {
    m_sLastEventId = m_sIdBuffer;
    if (m_bOversized) {
        DropEvent();
        ++m_dwOversizedEvents;
        return;
    }
    // An empty line without data before it (after comments, or a second one) delivers nothing.
    if (m_sData.empty()) return DropEvent();
    m_sData.pop_back();  // the LF after the last data line
    events.push_back(StreamEvent{std::move(m_sData), m_sLastEventId, m_bIdInEvent});
    DropEvent();
}

void CEventStreamFraming::DropEvent() {
    m_sData.clear();
    m_bOversized = false;
    m_bIdInEvent = false;
}
