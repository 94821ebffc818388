// The PBX's call events: a server-sent-events stream held open by the event
// monitor thread; every message becomes a call event for the dispatcher.
#pragma once

#include <string>

// Opens the stream and reads it until it ends, dispatching every event.
// 1 when the stream was answered with a success status, else 0.
int ORVO_ActivateCallMonitoring();
// Ends a stream read that is in progress from another thread: the reading
// thread's ORVO_ActivateCallMonitoring returns soon after.
void AbortCallMonitoring();
// One message (the text after its "data: "): parsed, numbers formatted, dispatched.
void ORVO_HandleMessage(const std::wstring& text);
