#include "manager/DeviceSet.h"

#include <cwchar>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/BoundedString.h"
#include "log/Trace.h"
#include "manager/CGenericTSPIManager.h"
#include "model/EventDelivery.h"
#include "model/LineCaps.h"
#include "model/LineTable.h"
#include "model/ProviderState.h"
#include "model/RetiredCalls.h"

namespace {
// The directory's entries by uuid and by number, each list in directory
// order, and which of them a line took: a periodic read of 10,000 extensions
// matches its lines under the ProviderLock, without a scan per line.
class DirectoryMatch {
public:
    explicit DirectoryMatch(const std::vector<ExtensionInfo>& directory) : m_taken(directory.size(), false) {
        for (size_t i = 0; i < directory.size(); ++i) {
            if (!directory[i].uuid.empty()) m_byUuid[directory[i].uuid].push_back(i);
            m_byNumber[directory[i].extension_number].push_back({i, directory[i].uuid.empty()});
        }
    }

    // Takes the first entry not yet taken that is the line's extension: by
    // uuid when both have one (its number may have changed), else by
    // number. -1 when there is none.
    LONG Take(const ExtensionInfo& line) {
        size_t nBest = m_taken.size();
        if (!line.uuid.empty()) nBest = FirstFree(m_byUuid, line.uuid, nBest);
        const auto byNumber = m_byNumber.find(line.extension_number);
        if (byNumber != m_byNumber.end()) {
            for (const NumberEntry& entry : byNumber->second) {
                if (entry.nIndex >= nBest) break;
                if (!m_taken[entry.nIndex] && (line.uuid.empty() || entry.bWithoutUuid)) nBest = entry.nIndex;
            }
        }
        if (nBest == m_taken.size()) return -1;
        m_taken[nBest] = true;
        return static_cast<LONG>(nBest);
    }

    bool Taken(size_t nIndex) const { return m_taken[nIndex]; }

private:
    struct NumberEntry {
        size_t nIndex;
        bool bWithoutUuid;
    };

    size_t FirstFree(const std::unordered_map<std::wstring, std::vector<size_t>>& index, const std::wstring& key,
                     size_t nBest) const {
        const auto entries = index.find(key);
        if (entries == index.end()) return nBest;
        for (size_t nIndex : entries->second)
            if (nIndex < nBest && !m_taken[nIndex]) return nIndex;
        return nBest;
    }

    std::vector<bool> m_taken;
    std::unordered_map<std::wstring, std::vector<size_t>> m_byUuid;
    std::unordered_map<std::wstring, std::vector<NumberEntry>> m_byNumber;
};

// Takes the directory's record of a line that stays: its name and address
// follow it in place. TAPI hears that the line's capabilities changed.
bool RenameLine(DWORD dwPos, const ExtensionInfo& entry) {
    g_Extensions[dwPos] = entry;
    PhoneLine& line = g_PhoneLines[dwPos];
    // Compared as the line holds them, cut to its fields' lengths.
    wchar_t szName[kMaxLineNameChars + 1];
    wchar_t szAddress[kMaxAddressChars + 1];
    StrCopy(szName, g_Manager.GetFirstName(dwPos));
    StrCopy(szAddress, entry.extension_number.c_str(), kMaxAddressChars);
    if (wcscmp(szName, line.m_szName) == 0 && wcscmp(szAddress, line.m_szAddress) == 0) return false;

    Trace(2, L"Func.ApplyDirectory.Info.Line %u renamed: %s %s", dwPos, szAddress, szName);
    ChangeLineName(dwPos, L"", szName);
    ChangeLineAddress(dwPos, szAddress);
    StrCopy(line.m_szDeviceNumber, szAddress);
    RaiseLineMsg(static_cast<LONG>(dwPos), LINE_LINEDEVSTATE, LINEDEVSTATE_CAPSCHANGE, 0, 0);
    return true;
}

// The line's extension has left: its calls end while TAPI can still hear of
// them, then TAPI is told the device is gone. A line TAPI has not numbered
// yet is removed by TSPI_providerCreateLineDevice when TAPI numbers it.
void RemoveLine(DWORD dwPos) {
    PhoneLine& line = g_PhoneLines[dwPos];
    Trace(2, L"Func.ApplyDirectory.Info.Line %u removed: %s", dwPos, line.m_szAddress);
    // From the back: idling a call may remove it, and the slots behind it move down.
    for (LONG lCallPos = kCallSlots - 1; lCallPos >= 0; --lCallPos) SendIdleState(static_cast<LONG>(dwPos), lCallPos);
    line.m_bRemoved = TRUE;
    if (line.m_dwDeviceID != kNoDeviceID) RaiseLineMsg(static_cast<LONG>(dwPos), LINE_REMOVE, line.m_dwDeviceID, 0, 0);
}

// A removed line whose place a new line may take: TAPI was told it is gone
// (it has its device ID, which TAPI never gives again), has it closed, and
// holds no handle of its calls. -1 when there is none from dwFrom on.
LONG ReusablePosition(DWORD dwFrom) {
    for (DWORD dwPos = dwFrom; dwPos < g_dwDeviceCount && dwPos < g_PhoneLines.size(); ++dwPos) {
        const PhoneLine& line = g_PhoneLines[dwPos];
        if (line.m_bRemoved && line.m_dwDeviceID != kNoDeviceID && line.m_htLine == nullptr &&
            line.m_pPhoneCall[0] == nullptr && !HasRetiredCalls(&line))
            return static_cast<LONG>(dwPos);
    }
    return -1;
}

// A line for a new extension, with all its records: in the place of a
// removed line when there is one, so that the table stays as long as the
// most lines the account had at once, else at the end. Its position is the
// temporary identifier of its LINE_CREATE; TAPI gives it a new device ID.
// *pdwSearchFrom: where the search for a reusable place goes on, as the
// places before it were found not reusable.
void AddLine(const ExtensionInfo& entry, DWORD* pdwSearchFrom) {
    const LONG lReusable = ReusablePosition(*pdwSearchFrom);
    *pdwSearchFrom = lReusable >= 0 ? static_cast<DWORD>(lReusable) + 1 : g_dwDeviceCount;
    const DWORD dwPos = lReusable >= 0 ? static_cast<DWORD>(lReusable) : g_dwDeviceCount;
    // What can fail comes first, while the device count still leaves the new place unused.
    if (g_Extensions.size() <= dwPos) g_Extensions.resize(dwPos + 1);
    g_Extensions[dwPos] = entry;
    EnsureLineRecords(dwPos + 1);
    if (dwPos == g_dwDeviceCount) g_dwDeviceCount = dwPos + 1;
    LineCapsInitLine(static_cast<LONG>(dwPos));
    SetLineDeviceID(dwPos, kNoDeviceID);
    Trace(2, L"Func.ApplyDirectory.Info.Line %u created: %s", dwPos, g_PhoneLines[dwPos].m_szAddress);
    RaiseLineMsg(static_cast<LONG>(dwPos), LINE_CREATE, reinterpret_cast<DWORD_PTR>(g_hProvider), dwPos, 0);
}
}  // namespace

void SetDeviceSet(std::vector<ExtensionInfo> directory) {
    const DWORD dwCount = static_cast<DWORD>(directory.size());
    g_Extensions = std::move(directory);
    EnsureLineRecords(dwCount);
    g_dwDeviceCount = dwCount;
}

DeviceSetChanges ApplyDirectory(const std::vector<ExtensionInfo>& directory) {
    CFuncTrace trace(2, L"ApplyDirectory");
    trace.Param(L"directory", L"%u", static_cast<DWORD>(directory.size()));
    DeviceSetChanges changes;
    DirectoryMatch match(directory);
    const DWORD dwLines = g_dwDeviceCount;
    for (DWORD dwPos = 0; dwPos < dwLines && dwPos < g_Extensions.size(); ++dwPos) {
        if (g_PhoneLines[dwPos].m_bRemoved) continue;
        const LONG lEntry = match.Take(g_Extensions[dwPos]);
        if (lEntry < 0) {
            RemoveLine(dwPos);
            ++changes.dwRemoved;
            continue;
        }
        ++changes.dwKept;
        if (RenameLine(dwPos, directory[lEntry])) ++changes.dwRenamed;
    }
    DWORD dwSearchFrom = 0;
    for (size_t i = 0; i < directory.size(); ++i) {
        if (match.Taken(i)) continue;
        AddLine(directory[i], &dwSearchFrom);
        ++changes.dwCreated;
    }
    // The new lines' permanent numbers, saved before TAPI reads their capabilities.
    if (changes.dwCreated != 0) SavePermanentLineNumbers();
    trace.Var(L"changes", L"kept %u renamed %u created %u removed %u", changes.dwKept, changes.dwRenamed,
              changes.dwCreated, changes.dwRemoved);
    trace.End();
    return changes;
}

DWORD CountLinesInUse() {
    DWORD dwCount = 0;
    for (DWORD dwPos = 0; dwPos < g_dwDeviceCount && dwPos < g_PhoneLines.size(); ++dwPos)
        if (!g_PhoneLines[dwPos].m_bRemoved) ++dwCount;
    return dwCount;
}

LONG CreateLineDevice(DWORD_PTR dwTempID, DWORD dwDeviceID) {
    CFuncTrace trace(2, L"CreateLineDevice");
    trace.Param(L"_dwTempID", L"%u", static_cast<DWORD>(dwTempID));
    trace.Param(L"_dwDeviceID", L"%u", dwDeviceID);
    PhoneLine* pLine = dwTempID < g_dwDeviceCount ? GetPhoneLine(static_cast<LONG>(dwTempID)) : nullptr;
    if (pLine == nullptr || pLine->m_dwDeviceID != kNoDeviceID || dwDeviceID == kNoDeviceID)
        return trace.End(trace.Abort(LINEERR_BADDEVICEID, 1));
    SetLineDeviceID(static_cast<DWORD>(dwTempID), dwDeviceID);
    // Its extension left before TAPI numbered the line: now TAPI can be told.
    if (pLine->m_bRemoved) RaiseLineMsg(static_cast<LONG>(dwTempID), LINE_REMOVE, dwDeviceID, 0, 0);
    return trace.End(0);
}
