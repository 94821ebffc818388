#include "manager/CallNumbers.h"

#include "common/CallIdRanges.h"

// Nothing reads these before the library is attached, so their place in the
// construction order of the process-wide objects does not matter.
DWORD g_dwNextCallNumber = 1;
std::map<std::wstring, DWORD> g_mapCallNumber;
std::map<DWORD, std::wstring> g_mapCallUuid;
std::map<DWORD, std::set<DWORD>> g_mapCallLines;
CRingsSeen g_RingsSeen;

DWORD LookUpCallNumber(const std::wstring& uuid) {
    const auto entry = g_mapCallNumber.find(uuid);
    return entry != g_mapCallNumber.end() ? entry->second : 0;
}

DWORD AssignCallNumber(const std::wstring& uuid) {
    // The PBX range ends below the local ids; after its last number comes 1.
    const DWORD dwNumber = IsPbxCallNumber(g_dwNextCallNumber) ? g_dwNextCallNumber : 1;
    g_dwNextCallNumber = NextPbxCallNumber(dwNumber);
    g_mapCallNumber[uuid] = dwNumber;
    g_mapCallUuid[dwNumber] = uuid;
    return dwNumber;
}

void ForgetCallNumber(DWORD dwNumber) {
    const auto entry = g_mapCallUuid.find(dwNumber);
    if (entry != g_mapCallUuid.end()) {
        // The uuid may have been numbered anew meanwhile; that number stays.
        const auto number = g_mapCallNumber.find(entry->second);
        if (number != g_mapCallNumber.end() && number->second == dwNumber) g_mapCallNumber.erase(number);
        g_mapCallUuid.erase(entry);
    }
    g_mapCallLines.erase(dwNumber);
}

void NoteCallLine(DWORD dwNumber, DWORD dwLinePos) { g_mapCallLines[dwNumber].insert(dwLinePos); }

std::set<DWORD> CallLines(DWORD dwNumber) {
    const auto entry = g_mapCallLines.find(dwNumber);
    return entry != g_mapCallLines.end() ? entry->second : std::set<DWORD>();
}

bool MarkRingSeen(const std::wstring& uuid, const std::wstring& extension) { return g_RingsSeen.Mark(uuid, extension); }
