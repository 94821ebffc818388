// The two ranges of dwCallID in a call's LINECALLINFO. Calls the PBX has
// named (by a uuid on the event stream) carry the dispatcher's call number,
// 1 to 0x7FFFFFFF. Calls the provider makes up before the PBX names them (a
// make-call through TAPI, a call no event numbered) carry an id with the top
// bit set, so that no PBX call number can ever equal one and a drop never
// finds a PBX call behind such a call.
#pragma once

#include "common/Types.h"

constexpr DWORD kLocalCallIdFlag = 0x80000000;
constexpr DWORD kLastPbxCallNumber = 0x7FFFFFFF;

inline bool IsPbxCallNumber(DWORD dwCallID) { return dwCallID != 0 && (dwCallID & kLocalCallIdFlag) == 0; }

// The PBX call number after dwNumber: 1 follows the last one.
inline DWORD NextPbxCallNumber(DWORD dwNumber) { return dwNumber >= kLastPbxCallNumber ? 1 : dwNumber + 1; }

// The local id for the nth invented call (n counts on and may wrap).
inline DWORD LocalCallId(DWORD dwCount) { return kLocalCallIdFlag | (dwCount & kLastPbxCallNumber); }
