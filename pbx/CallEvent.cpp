#include "pbx/CallEvent.h"

std::wstring JudgeDirection(const CallEvent& event) {
    const bool bCallerIsExtension = !event.extension.empty() && event.caller == event.extension;
    const bool bCalleeIsExtension = !event.extension.empty() && event.callee == event.extension;
    if (bCallerIsExtension && !bCalleeIsExtension) return L"outbound";
    if (bCalleeIsExtension && !bCallerIsExtension) return L"inbound";
    if (event.state == L"ring") return L"inbound";
    if (event.state == L"caller-dial" || event.state == L"dial") return L"outbound";
    return std::wstring();
}
