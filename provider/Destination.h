// A dialled destination as the call exports take it: the first 19 characters,
// cleaned to what the PBX dials, and looked up among the provider's lines.
#pragma once

#include <windows.h>

#include "model/NumberText.h"

struct Destination {
    wchar_t szNumber[kDialBufferChars];
    LONG lTargetLinePos;  // the line whose address it is, -1 when it is none of ours
};

enum class ForwardHook { Apply, Skip };

// pszDestAddress must not be null (the exports refuse that first).
Destination PrepareDestination(const wchar_t* pszDestAddress, ForwardHook forward = ForwardHook::Apply);
