// The PBX's call events: a server-sent-events stream held open by the event
// monitor thread; every message becomes a call event for the dispatcher.
#pragma once

#include <functional>
#include <string>

#include "pbx/CallEvent.h"

// Opens the stream and reads it until it ends, dispatching every event.
// 1 when the stream was answered with a success status, else 0. The read
// ends too when the calling thread or the provider is asked to stop, and when
// the server has been silent longer than g_EventClient.m_dwIdleTimeoutMs.
// A stream refused with 401 makes the next token check renew the token.
// onOpened is called on the calling thread once the stream has been answered
// with success, before its first event. A stream opened after an earlier one
// sends that stream's last event id as "Last-Event-ID".
int ORVO_ActivateCallMonitoring(const std::function<void()>& onOpened = {});
// A new run of the provider or another account: no event id of before is
// sent to the PBX or kept against repeats.
void ForgetEventHistory();
// Whether an event for the call uuid arrived since the current stream opened.
bool CallHeardOnCurrentStream(const std::wstring& uuid);
// Reads one message (an event's data) into the six members; false when it
// is not a JSON object followed by nothing but white space.
bool ReadCallEvent(const std::wstring& text, CallEvent& event);
// One message (an event's data, with the stream's last event id): parsed,
// its direction judged when it has none, numbers formatted, dispatched. A
// message that is no call event is rejected with a trace line.
// An event with an id of its own (bOwnId) that was already delivered is dropped.
void ORVO_HandleMessage(const std::wstring& text, const std::wstring& eventId, bool bOwnId);
// The same for the stream: the event is queued for its line and the stream
// read goes on at once; its messages follow in their own time.
void ORVO_QueueMessage(const std::wstring& text, const std::wstring& eventId, bool bOwnId);
