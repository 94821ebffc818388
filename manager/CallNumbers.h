// Call numbers: the 32-bit number each PBX call (its uuid) is known by in the
// provider, kept in dwCallID of the call's LINECALLINFO on every line it
// concerns. Used only under the ProviderLock: by the call-event dispatcher,
// and by the outgoing call control, which reads g_mapCallUuid to find the
// PBX call behind a TAPI call. Platform-free, like the rest of the
// bookkeeping.
#pragma once

#include <map>
#include <set>
#include <string>

#include "common/Types.h"

// Next number to hand out; starts at 1 and is never reset. Numbers stay
// within the PBX range of common/CallIdRanges.h.
extern DWORD g_dwNextCallNumber;
// uuid -> call number; 0 means none.
extern std::map<std::wstring, DWORD> g_mapCallNumber;
// call number -> uuid.
extern std::map<DWORD, std::wstring> g_mapCallUuid;
// "<uuid>_<extension>" -> 1 once a "ring" for that pair was handled; never emptied.
extern std::map<std::wstring, DWORD> g_mapRingSeen;
// call number -> the lines whose calls were given it, so that the copies of
// a PBX call are found without looking at every line.
extern std::map<DWORD, std::set<DWORD>> g_mapCallLines;

// The number of a uuid, 0 for a uuid without one (never seen, or ended).
DWORD LookUpCallNumber(const std::wstring& uuid);
// Hands out the next number to the uuid and enters it in both maps.
DWORD AssignCallNumber(const std::wstring& uuid);
// Forgets the uuid and its number (a call that has ended).
void ForgetCallNumber(const std::wstring& uuid, DWORD dwNumber);
// Notes that a call of the line was given the number.
void NoteCallLine(DWORD dwNumber, DWORD dwLinePos);
// The lines noted for the number, in ascending order.
std::set<DWORD> CallLines(DWORD dwNumber);
// Marks a "ring" of the uuid at the extension as handled; false when it already was.
bool MarkRingSeen(const std::wstring& uuid, const std::wstring& extension);
