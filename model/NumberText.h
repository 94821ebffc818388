// Dialled numbers as the exports receive them, reduced to what the PBX dials.
// Platform-free: built natively too, for sanitizers and fuzzers.
#pragma once

#include "common/Types.h"

// The number buffers the exports hand in hold 20 units.
constexpr unsigned kDialBufferChars = 20;

// Rewrites a dialled number in place: "N...<number>..." becomes the number
// between the angle brackets, a leading "T" is dropped (both keep at most 18
// characters); then, unless the text starts with "+", everything but the
// digits and "#" is removed. A null pointer is left alone.
void CleanNumber(WCHAR* pszNumber);

// Hook for call forwarding prefixes; the PBX needs none, so the number stays
// as it is. Returns 0.
int ChangeNumberToForward(WCHAR* pszNumber);

// Whether the text a number slot holds (at most cchSlot characters, not
// necessarily terminated) differs from what writing pszText into it would
// leave there. 0 when equal.
int CompareSlotText(const WCHAR* pszSlot, const WCHAR* pszText, unsigned cchSlot);
