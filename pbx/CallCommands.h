// The PBX commands behind TAPI's make-call and drop. The PBX reports their
// effect only through the call event stream; these say whether it accepted
// the request.
#pragma once

#include <string>

// 1 when the PBX accepted a call from the extension to the callee, else 0.
int ORVO_DoMakeCall(std::wstring extension, std::wstring callee);
// What the PBX said to ending a call.
enum class DropAnswer {
    Accepted,
    // 404 or 410: it knows no such call (its hangup was missed).
    NoSuchCall,
    // Not answered, or refused otherwise.
    Failed,
};
DropAnswer ORVO_DoDrop(std::wstring callId);
// "> VERB URL -> answer" of the last command, for the trace.
std::wstring LastCommandSummary();
