#include "manager/PartyNames.h"

#include "model/LineCaps.h"
#include "model/LineTable.h"
#include "model/ProviderState.h"
#include "pbx/ExtensionDirectory.h"

namespace {
bool IsExtensionOfLine(DWORD dwPos, const std::wstring& number) {
    const PhoneLine* pLine = GetPhoneLine(static_cast<LONG>(dwPos));
    return pLine != nullptr && !pLine->m_bRemoved && dwPos < g_Extensions.size() &&
           g_Extensions[dwPos].extension_number == number;
}

// Asked for every party of every call event: through the line table's
// address index, as a scan of 10,000 lines per party would hold up a burst.
// A number longer than a line's address field is only in the index cut
// short: such numbers are rare, and looked for line by line.
const ExtensionInfo* AccountExtension(const std::wstring& number) {
    if (number.empty()) return nullptr;
    if (number.size() <= kMaxAddressChars) {
        const LONG lPos = GetPosFromAddress(number.c_str());
        return lPos >= 0 && IsExtensionOfLine(static_cast<DWORD>(lPos), number) ? &g_Extensions[lPos] : nullptr;
    }
    for (DWORD dwPos = 0; dwPos < g_dwDeviceCount; ++dwPos)
        if (IsExtensionOfLine(dwPos, number)) return &g_Extensions[dwPos];
    return nullptr;
}
}  // namespace

std::wstring AccountExtensionName(const std::wstring& number) {
    const ExtensionInfo* pExtension = AccountExtension(number);
    return pExtension != nullptr ? pExtension->name : std::wstring();
}

bool IsAccountExtension(const std::wstring& number) { return AccountExtension(number) != nullptr; }

DWORD InboundCallOrigin(const std::wstring& caller) {
    return IsAccountExtension(caller) ? LINECALLORIGIN_INTERNAL : LINECALLORIGIN_EXTERNAL;
}

DWORD WritePartyID(PhoneCall* pCall, DWORD dwNumberIndex, const std::wstring& number) {
    InsertNumberToCallInfo(pCall, dwNumberIndex, number.c_str(), 1);
    return SetPartyName(pCall, dwNumberIndex, AccountExtensionName(number).c_str());
}
