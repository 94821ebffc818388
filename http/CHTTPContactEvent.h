// The client of the call event stream: it traces like CHTTPContactLog and
// cuts the streamed text into events by the event-stream format's framing.
#pragma once

#include <functional>
#include <string>

#include "http/CHTTPContactLog.h"
#include "http/EventStreamFraming.h"

class CHTTPContactEvent : public CHTTPContactBase {
public:
    // Receives one event: its data (the "data" lines joined), the last event id
    // and whether that id came with this event (not left from an earlier one).
    using MessageHandler =
        std::function<void(const std::wstring& sData, const std::wstring& sEventId, bool bOwnId)>;
    // Told when a stream has been answered with success, before its first event.
    using OpenedHandler = std::function<void()>;

    using CHTTPContactBase::CHTTPContactBase;
    void OnTrace(DWORD dwLevel, const wchar_t* pszText) override;
    // Hands every event the chunk completes to the handler, in stream order;
    // a chunk may end anywhere, even between the CR and LF of one line end.
    void OnData(const wchar_t* pchText, size_t cch) override;
    void OnHeaderRead() override;

    // The PBX client installs its message handler before the first stream.
    void SetMessageHandler(MessageHandler handler) { m_pfnMessageHandler = std::move(handler); }
    void SetOpenedHandler(OpenedHandler handler) { m_pfnOpenedHandler = std::move(handler); }
    // Called before each new stream: an event the previous one cut off is dropped.
    void BeginStream() { m_Framing.BeginStream(); }
    // The id of the last event received, kept across streams.
    const std::wstring& LastEventId() const { return m_Framing.LastEventId(); }
    void ForgetLastEventId() { m_Framing.ForgetLastEventId(); }

private:
    CEventStreamFraming m_Framing;
    MessageHandler m_pfnMessageHandler;
    OpenedHandler m_pfnOpenedHandler;
};

extern CHTTPContactEvent g_EventClient;
