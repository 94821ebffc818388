// Call numbers: the 32-bit number each PBX call (its uuid) is known by in the
// provider, kept in dwCallID of the call's LINECALLINFO on every line it
// concerns. Used only under the ProviderLock: by the call-event dispatcher,
// and by the outgoing call control, which reads g_mapCallUuid to find the
// PBX call behind a TAPI call. Platform-free, like the rest of the
// bookkeeping.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>

#include "common/RecentKeys.h"
#include "common/Types.h"

// Next number to hand out; starts at 1 and is never reset. Numbers stay
// within the PBX range of common/CallIdRanges.h.
extern DWORD g_dwNextCallNumber;
// uuid -> call number; 0 means none. Bounded by the calls the lines show:
// a number is forgotten when the last call that carries it ends, however
// it ends (CGenericTSPIManager::CallEnded), or when no call took it.
extern std::map<std::wstring, DWORD> g_mapCallNumber;
// call number -> uuid; the same entries the other way round.
extern std::map<DWORD, std::wstring> g_mapCallUuid;
// call number -> the lines whose calls were given it, so that the copies of
// a PBX call are found without looking at every line; forgotten with the number.
extern std::map<DWORD, std::set<DWORD>> g_mapCallLines;

// The "ring"s handled, as "<uuid>_<extension>", so that a ring the PBX sends
// again (a replay) offers no second call. Only the latest are kept, as many
// as kRingsRemembered and kRingCharsRemembered allow: far more than the lines
// of a busy account ring at once, and than a replay reaches back.
class CRingsSeen {
public:
    static constexpr size_t kRingsRemembered = 32768;
    static constexpr size_t kRingCharsRemembered = 64 * kRingsRemembered;
    // Marks a ring of the uuid at the extension as handled; false when it already was.
    bool Mark(const std::wstring& uuid, const std::wstring& extension) { return m_keys.Insert(uuid + L"_" + extension); }
    size_t Size() const { return m_keys.Size(); }
    void Clear() { m_keys.Clear(); }

private:
    CRecentKeys m_keys{kRingsRemembered, kRingCharsRemembered};
};
extern CRingsSeen g_RingsSeen;

// The number of a uuid, 0 for a uuid without one (never seen, or ended).
DWORD LookUpCallNumber(const std::wstring& uuid);
// Hands out the next number to the uuid and enters it in both maps.
DWORD AssignCallNumber(const std::wstring& uuid);
// Forgets the number and its uuid (a call that has ended).
void ForgetCallNumber(DWORD dwNumber);
// Notes that a call of the line was given the number.
void NoteCallLine(DWORD dwNumber, DWORD dwLinePos);
// The lines noted for the number, in ascending order.
std::set<DWORD> CallLines(DWORD dwNumber);
// Marks a "ring" of the uuid at the extension as handled; false when it already was.
bool MarkRingSeen(const std::wstring& uuid, const std::wstring& extension);
