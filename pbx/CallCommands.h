// The PBX commands behind TAPI's make-call and drop. The PBX reports their
// effect only through the call event stream; these say whether it accepted
// the request.
#pragma once

#include <string>

// 1 when the PBX accepted a call from the extension to the callee, else 0.
int ORVO_DoMakeCall(std::wstring extension, std::wstring callee);
// 1 when the PBX accepted ending the call with this PBX call id, else 0.
int ORVO_DoDrop(std::wstring callId);
// "> VERB URL -> answer" of the last command, for the trace.
std::wstring LastCommandSummary();
