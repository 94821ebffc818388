#include "provider/Destination.h"

#include "common/BoundedString.h"
#include "log/Trace.h"
#include "model/LineTable.h"

Destination PrepareDestination(const wchar_t* pszDestAddress, ForwardHook forward) {
    Destination destination{};
    StrCopy(destination.szNumber, pszDestAddress, kDialBufferChars - 1);
    CleanNumber(destination.szNumber);
    if (forward == ForwardHook::Apply) ChangeNumberToForward(destination.szNumber);
    destination.lTargetLinePos = GetPosFromAddress(destination.szNumber);
    Trace(3, L"Func.PrepareDestination.Var.szNumber %s", destination.szNumber);
    Trace(3, L"Func.PrepareDestination.Var.lTargetLinePos %d", destination.lTargetLinePos);
    return destination;
}
