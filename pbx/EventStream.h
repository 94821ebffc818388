// The PBX's call events: a server-sent-events stream held open by the event
// monitor thread; every message becomes a call event for the dispatcher.
#pragma once

#include <string>

// Opens the stream and reads it until it ends, dispatching every event.
// 1 when the stream was answered with a success status, else 0. The read
// ends too when the calling thread or the provider is asked to stop, and when
// the server has been silent longer than g_EventClient.m_dwIdleTimeoutMs.
// A stream refused with 401 makes the next token check renew the token.
int ORVO_ActivateCallMonitoring();
// One message (the text after its "data: "): parsed, numbers formatted, dispatched.
void ORVO_HandleMessage(const std::wstring& text);
