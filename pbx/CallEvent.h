// One call event of the PBX's stream: the six members the provider reads,
// in the order the dispatcher takes them. Platform-free.
#pragma once

#include <string>

struct CallEvent {
    std::wstring uuid;       // the PBX call, the same on all its extensions' events
    std::wstring extension;  // the extension the event is about
    std::wstring caller;
    std::wstring callee;
    std::wstring state;      // "caller-dial", "dial", "ring", "answer", "bridge", "hangup"
    std::wstring direction;  // "inbound" for a call to the extension
};

// The direction of an event sent without one, judged from its other members:
// the extension as the only caller means "outbound", as the only callee
// "inbound"; otherwise the state decides where it can ("ring" offers a call
// to the extension, "caller-dial" and "dial" are its own phone dialling).
// Empty when nothing tells: "answer" then goes by the call it connects, and
// "hangup" and "bridge" do not depend on it.
std::wstring JudgeDirection(const CallEvent& event);
