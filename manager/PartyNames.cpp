#include "manager/PartyNames.h"

#include "model/LineCaps.h"
#include "model/LineTable.h"
#include "model/ProviderState.h"
#include "pbx/ExtensionDirectory.h"

namespace {
const ExtensionInfo* AccountExtension(const std::wstring& number) {
    if (number.empty()) return nullptr;
    for (DWORD dwPos = 0; dwPos < g_dwDeviceCount && dwPos < g_Extensions.size(); ++dwPos) {
        const PhoneLine* pLine = GetPhoneLine(static_cast<LONG>(dwPos));
        if (pLine != nullptr && !pLine->m_bRemoved && g_Extensions[dwPos].extension_number == number)
            return &g_Extensions[dwPos];
    }
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
