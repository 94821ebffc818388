// The client of the call event stream: it traces like CHTTPContactLog and
// cuts the streamed text into "data: " messages.
#pragma once

#include <functional>
#include <string>

#include "http/CHTTPContactLog.h"

class CHTTPContactEvent : public CHTTPContactBase {
public:
    // Receives the text of one message: from after its "data: " to the next
    // "data: " or the end of the text received so far.
    using MessageHandler = std::function<void(const std::wstring& sMessage)>;

    using CHTTPContactBase::CHTTPContactBase;
    void OnTrace(DWORD dwLevel, const wchar_t* pszText) override;
    // Joins the chunks; each time the text so far ends in "}", hands every
    // message in it to the handler and starts anew.
    void OnData(wchar_t* pszChunk) override;

    // The PBX client installs its message handler before the first stream.
    void SetMessageHandler(MessageHandler handler) { m_pfnMessageHandler = std::move(handler); }

    // Stream text received and not yet processed; it carries over to the next stream.
    std::wstring m_sEventBuffer;

private:
    MessageHandler m_pfnMessageHandler;
};

extern CHTTPContactEvent g_EventClient;
