// Where the event stream hands what it reads: the user's number format for
// the numbers of an event, and the dispatcher for the event itself. Both are
// the manager's; it fills these in when it is constructed.
#pragma once

#include <string>

#include "pbx/CallEvent.h"

struct CallEventSink {
    std::wstring (*pfnFormatNumber)(const std::wstring& number) = nullptr;
    // Returns when the event's messages and pauses are over.
    void (*pfnDispatch)(const CallEvent& event) = nullptr;
    // Queues the event and returns at once.
    void (*pfnPost)(const CallEvent& event) = nullptr;
};

extern CallEventSink g_CallEventSink;
