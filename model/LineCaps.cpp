#include "model/LineCaps.h"

#include <cstddef>
#include <new>
#include <cstring>

#include "common/BoundedString.h"
#include "log/Trace.h"
#include "model/CallFeatures.h"
#include "model/EventOutbox.h"
#include "model/LineDirectory.h"
#include "model/LineTable.h"
#include "model/NumberText.h"
#include "model/ProviderState.h"
#include "model/RetiredCalls.h"

namespace {
constexpr const wchar_t* kProviderInfo = L"ORVO Third Party Service Provider";
constexpr const wchar_t* kSwitchInfo = L"tavik GmbH";
constexpr const wchar_t* kDeviceClasses = L"tapi/line";
constexpr DWORD kMaxRate = 64000;

// The size/offset pair that each number slot of LINECALLINFO fills.
constexpr size_t kNumberSlotFields[kCallInfoSlots] = {
    offsetof(LINECALLINFO, dwCallerIDSize),        offsetof(LINECALLINFO, dwCallerIDNameSize),
    offsetof(LINECALLINFO, dwCalledIDSize),        offsetof(LINECALLINFO, dwCalledIDNameSize),
    offsetof(LINECALLINFO, dwConnectedIDSize),     offsetof(LINECALLINFO, dwConnectedIDNameSize),
    offsetof(LINECALLINFO, dwRedirectionIDSize),   offsetof(LINECALLINFO, dwRedirectionIDNameSize),
    offsetof(LINECALLINFO, dwRedirectingIDSize),   offsetof(LINECALLINFO, dwRedirectingIDNameSize),
};

DWORD NumberSlotOffset(DWORD dwIndex) { return sizeof(LINECALLINFO) + dwIndex * kCallInfoSlotBytes; }

// The line's four records, one after the other in the block it owns.
constexpr DWORD kLineRecordsSize =
    kDevCapsBufferSize + kAddressCapsBufferSize + sizeof(LINEDEVSTATUS) + kAddressStatusBufferSize;

template <typename T>
T* NextRecord(BYTE* pBlock, DWORD* pdwOffset, DWORD cbBuffer) {
    if (pBlock == nullptr) return nullptr;
    T* pRecord = reinterpret_cast<T*>(pBlock + *pdwOffset);
    *pdwOffset += cbBuffer;
    return pRecord;
}

// Appends one string of the variable part at *pdwOffset, fills its size and
// offset fields and leaves one empty unit after it.
void AppendVarString(void* pRecord, DWORD* pdwOffset, const wchar_t* pszText, DWORD cchMax, DWORD* pdwSize,
                     DWORD* pdwOffsetField) {
    *pdwOffsetField = *pdwOffset;
    *pdwSize = CopyTapiDataIn(pRecord, *pdwOffset, pszText, cchMax, 1);
    *pdwOffset += *pdwSize + sizeof(wchar_t);
}

// The provider's permanent ID above the line's own number: the one its
// extension keeps across restarts, else the low bits of the device ID.
DWORD PermanentLineID(DWORD dwPos, DWORD dwDeviceID) {
    DWORD dwNumber = g_LineDirectory.pfnPermanentLineNumber(dwPos, dwDeviceID & 0xFFFF);
    if (dwNumber == 0) dwNumber = dwDeviceID & 0xFFFF;
    return ((g_dwPermanentProviderID & 0xFFFF) << 16) | dwNumber;
}

void FillDevCaps(LINEDEVCAPS* pCaps, DWORD dwPos, DWORD dwDeviceID) {
    pCaps->dwTotalSize = sizeof(LINEDEVCAPS);
    pCaps->dwPermanentLineID = PermanentLineID(dwPos, dwDeviceID);
    pCaps->dwStringFormat = STRINGFORMAT_UNICODE;
    pCaps->dwAddressModes = LINEADDRESSMODE_DIALABLEADDR;
    pCaps->dwNumAddresses = 1;
    pCaps->dwBearerModes = LINEBEARERMODE_VOICE | LINEBEARERMODE_SPEECH;
    pCaps->dwMaxRate = kMaxRate;
    pCaps->dwMediaModes = LINEMEDIAMODE_INTERACTIVEVOICE;
    pCaps->dwMaxNumActiveCalls = kCallSlots;
    pCaps->dwAnswerMode = LINEANSWERMODE_NONE;
    pCaps->dwRingModes = 1;
    pCaps->dwLineStates = kDefaultLineStates;
    pCaps->dwNumTerminals = 1;
    pCaps->dwLineFeatures = LINEFEATURE_MAKECALL;
}

void FillAddressCaps(LINEADDRESSCAPS* pCaps, DWORD dwDeviceID) {
    pCaps->dwTotalSize = sizeof(LINEADDRESSCAPS);
    pCaps->dwLineDeviceID = dwDeviceID;
    pCaps->dwAddressSharing = LINEADDRESSSHARING_PRIVATE;
    pCaps->dwAddressStates = LINEADDRESSSTATE_OTHER | LINEADDRESSSTATE_NUMCALLS;
    pCaps->dwCallInfoStates = LINECALLINFOSTATE_CALLID | LINECALLINFOSTATE_ORIGIN | LINECALLINFOSTATE_CALLERID |
                              LINECALLINFOSTATE_CALLEDID | LINECALLINFOSTATE_CONNECTEDID;
    // The account's own extensions are reported with their directory names.
    pCaps->dwCallerIDFlags = LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME;
    pCaps->dwCalledIDFlags = LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME;
    pCaps->dwConnectedIDFlags = LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME;
    pCaps->dwRedirectionIDFlags = LINECALLPARTYID_ADDRESS;
    pCaps->dwRedirectingIDFlags = LINECALLPARTYID_ADDRESS;
    pCaps->dwCallStates = kReportedCallStates;
    pCaps->dwDialToneModes = LINEDIALTONEMODE_NORMAL;
    pCaps->dwDisconnectModes = LINEDISCONNECTMODE_NORMAL;
    pCaps->dwMaxNumActiveCalls = 1;
    pCaps->dwMaxNumConference = 2;
    pCaps->dwMaxNumTransConf = 3;
    pCaps->dwAddrCapFlags = LINEADDRCAPFLAGS_DIALED;
    // The PBX can only place and end calls: dropping is the one call feature.
    pCaps->dwCallFeatures = LINECALLFEATURE_DROP;
    pCaps->dwMaxForwardEntries = 1;
    pCaps->dwMaxFwdNumRings = 5;
    pCaps->dwAddressFeatures = LINEADDRFEATURE_MAKECALL;
    pCaps->dwConnectedModes = LINECONNECTEDMODE_ACTIVE;
    pCaps->dwAvailableMediaModes = LINEMEDIAMODE_INTERACTIVEVOICE;
}

void FillDevStatus(LINEDEVSTATUS* pStatus) {
    pStatus->dwTotalSize = pStatus->dwNeededSize = pStatus->dwUsedSize = sizeof(LINEDEVSTATUS);
    pStatus->dwOpenMediaModes = LINEMEDIAMODE_INTERACTIVEVOICE;
    pStatus->dwRoamMode = LINEROAMMODE_HOME;
    pStatus->dwDevStatusFlags = LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE;
}

void FillAddressStatus(LINEADDRESSSTATUS* pStatus) {
    pStatus->dwTotalSize = pStatus->dwNeededSize = pStatus->dwUsedSize = kAddressStatusBufferSize;
}

}  // namespace

void LineCapsInit() {
    CFuncTrace trace(3, L"LineCapsInit");
    trace.Var(L"g_dwDeviceCount", L"%u", g_dwDeviceCount);
    for (DWORD dwPos = 0; dwPos < g_dwDeviceCount; ++dwPos) LineCapsInitLine(static_cast<LONG>(dwPos));
    trace.End();
}

void LineCapsInitLine(LONG lPos) {
    CFuncTrace trace(3, L"LineCapsInitLine");
    trace.Param(L"_dwPos", L"%d", lPos);
    if (lPos < 0) {
        trace.Line(L"Abort");
        return;
    }
    DWORD dwPos = static_cast<DWORD>(lPos);
    EnsureLineRecords(dwPos + 1);
    PhoneLine& line = g_PhoneLines[dwPos];
    // The earlier records go with the record they belonged to.
    line = PhoneLine{};
    line.m_dwLinePos = dwPos;
    line.m_dwDeviceID = dwPos + g_dwLineDeviceIDBase;
    line.m_pRecordMemory.reset(new (std::nothrow) BYTE[kLineRecordsSize]());
    BYTE* pBlock = line.m_pRecordMemory.get();
    DWORD dwOffset = 0;

    if ((line.m_pLineDevCaps = NextRecord<LINEDEVCAPS>(pBlock, &dwOffset, kDevCapsBufferSize)) != nullptr) {
        line.m_dwAddressStates = LINEADDRESSSTATE_OTHER | LINEADDRESSSTATE_NUMCALLS;
        line.m_dwLineStates = kDefaultLineStates;
        FillDevCaps(line.m_pLineDevCaps, dwPos, line.m_dwDeviceID);
        ChangeLineName(dwPos, L"", g_LineDirectory.pfnFirstName(dwPos));
    }
    line.m_pLineAddressCaps = NextRecord<LINEADDRESSCAPS>(pBlock, &dwOffset, kAddressCapsBufferSize);
    if (line.m_pLineAddressCaps != nullptr) {
        FillAddressCaps(line.m_pLineAddressCaps, line.m_dwDeviceID);
        ChangeLineAddress(dwPos, g_LineDirectory.pfnFirstAddress(dwPos));
    }
    line.m_pLineDevStatus = NextRecord<LINEDEVSTATUS>(pBlock, &dwOffset, sizeof(LINEDEVSTATUS));
    if (line.m_pLineDevStatus != nullptr) FillDevStatus(line.m_pLineDevStatus);
    line.m_pLineAddressStatus = NextRecord<LINEADDRESSSTATUS>(pBlock, &dwOffset, kAddressStatusBufferSize);
    if (line.m_pLineAddressStatus != nullptr) FillAddressStatus(line.m_pLineAddressStatus);

    StrCopy(line.m_szDeviceNumber, g_LineDirectory.pfnFirstDeviceNumber(dwPos), kMaxAddressChars);
    line.m_dwPBXIndex = 0;
    UpdateLine(lPos);
    trace.Var(L"m_szName", L"%s", line.m_szName);
    trace.End();
}

void LineCapsDelete() {
    CFuncTrace trace(3, L"LineCapsDelete");
    // Clearing a record releases its records' memory.
    for (PhoneLine& line : g_PhoneLines) line = PhoneLine{};
    LineAddressesChanged();
    // TAPI holds no call handle of a provider that has shut down, and hears nothing more of its lines.
    ReleaseRetiredCalls(nullptr);
    DiscardQueuedMessages();
    trace.End();
}

void SetLineDeviceID(DWORD dwPos, DWORD dwDeviceID) {
    CFuncTrace trace(3, L"SetLineDeviceID");
    trace.Param(L"_dwPos", L"%u", dwPos);
    trace.Param(L"_dwDeviceID", L"%u", dwDeviceID);
    PhoneLine* pLine = GetPhoneLine(static_cast<LONG>(dwPos));
    if (pLine == nullptr) return trace.Line(L"Abort.Warning.Bad line pos %u", dwPos);
    pLine->m_dwDeviceID = dwDeviceID;
    // A line created while running has its permanent ID already; it stays.
    if (pLine->m_pLineDevCaps != nullptr && dwDeviceID != kNoDeviceID)
        pLine->m_pLineDevCaps->dwPermanentLineID = PermanentLineID(dwPos, dwDeviceID);
    if (pLine->m_pLineAddressCaps != nullptr) pLine->m_pLineAddressCaps->dwLineDeviceID = dwDeviceID;
    for (PhoneCall* pCall : pLine->m_pPhoneCall)
        if (pCall != nullptr && pCall->m_pLineCallInfo != nullptr) pCall->m_pLineCallInfo->dwLineDeviceID = dwDeviceID;
    trace.End();
}

void ChangeLineName(DWORD dwPos, const wchar_t* pszBaseName, const wchar_t* pszName) {
    CFuncTrace trace(3, L"ChangeLineName");
    trace.Param(L"_dwPos", L"%u", dwPos);
    PhoneLine* pLine = GetPhoneLine(static_cast<LONG>(dwPos));
    if (pLine == nullptr) {
        trace.Line(L"Abort.Warning.Bad line pos %u", dwPos);
        return;
    }
    wchar_t szName[kMaxLineNameChars + 1];
    StrCopy(szName, pszBaseName);
    StrAppend(szName, pszName);
    StrCopy(pLine->m_szName, szName);
    trace.Var(L"m_szName", L"%s", pLine->m_szName);

    LINEDEVCAPS* pCaps = pLine->m_pLineDevCaps;
    if (pCaps == nullptr) return;
    // The variable part is rebuilt whole: strings with one empty unit between them and after the last.
    auto* pBytes = reinterpret_cast<BYTE*>(pCaps);
    std::memset(pBytes + sizeof(LINEDEVCAPS), 0, kDevCapsBufferSize - sizeof(LINEDEVCAPS));
    DWORD dwOffset = sizeof(LINEDEVCAPS);
    AppendVarString(pCaps, &dwOffset, szName, kMaxLineNameChars + 1, &pCaps->dwLineNameSize, &pCaps->dwLineNameOffset);
    AppendVarString(pCaps, &dwOffset, kProviderInfo, 64, &pCaps->dwProviderInfoSize, &pCaps->dwProviderInfoOffset);
    AppendVarString(pCaps, &dwOffset, kSwitchInfo, 64, &pCaps->dwSwitchInfoSize, &pCaps->dwSwitchInfoOffset);
    AppendVarString(pCaps, &dwOffset, kDeviceClasses, 64, &pCaps->dwDeviceClassesSize,
                    &pCaps->dwDeviceClassesOffset);
    pCaps->dwNeededSize = pCaps->dwUsedSize = dwOffset;
}

void ChangeLineAddress(DWORD dwPos, const wchar_t* pszAddress) {
    CFuncTrace trace(3, L"ChangeLineAddress");
    trace.Param(L"_dwPos", L"%u", dwPos);
    trace.Param(L"_pszAddress", L"%s", pszAddress != nullptr ? pszAddress : L"NULL");
    PhoneLine* pLine = GetPhoneLine(static_cast<LONG>(dwPos));
    if (pLine == nullptr) {
        trace.Line(L"Abort.Warning.Bad line pos %u", dwPos);
        return;
    }
    StrCopy(pLine->m_szAddress, pszAddress, kMaxAddressChars);
    LineAddressesChanged();

    LINEADDRESSCAPS* pCaps = pLine->m_pLineAddressCaps;
    if (pCaps == nullptr) return;
    // The record carries the address as the line holds it, so that its
    // string and the trailing empty unit stay inside the buffer.
    std::memset(reinterpret_cast<BYTE*>(pCaps) + sizeof(LINEADDRESSCAPS), 0,
                kAddressCapsBufferSize - sizeof(LINEADDRESSCAPS));
    pCaps->dwAddressOffset = sizeof(LINEADDRESSCAPS);
    pCaps->dwAddressSize = CopyTapiDataIn(pCaps, sizeof(LINEADDRESSCAPS), pLine->m_szAddress, kMaxAddressChars + 1, 1);
    pCaps->dwNeededSize = pCaps->dwUsedSize = sizeof(LINEADDRESSCAPS) + pCaps->dwAddressSize + sizeof(wchar_t);
}

void FillNewCallInfo(LINECALLINFO* pInfo, const PhoneLine& line, DWORD dwOrigin, DWORD dwCallID) {
    std::memset(pInfo, 0, kCallInfoBufferSize);
    pInfo->dwTotalSize = pInfo->dwNeededSize = pInfo->dwUsedSize = kCallInfoBufferSize;
    pInfo->hLine = static_cast<HLINE>(reinterpret_cast<ULONG_PTR>(line.m_htLine));
    pInfo->dwLineDeviceID = line.m_dwDeviceID;
    pInfo->dwBearerMode = LINEBEARERMODE_VOICE;
    pInfo->dwRate = kMaxRate;
    pInfo->dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
    pInfo->dwCallID = dwCallID;
    pInfo->dwCallStates = kReportedCallStates;
    pInfo->dwMonitorMediaModes = LINEMEDIAMODE_INTERACTIVEVOICE;
    pInfo->dwOrigin = dwOrigin;
    pInfo->dwReason = LINECALLREASON_DIRECT;
    pInfo->dwTrunk = 0xFFFFFFFF;
    pInfo->dwCallerIDFlags = LINECALLPARTYID_ADDRESS;
    pInfo->dwCalledIDFlags = LINECALLPARTYID_ADDRESS;
    pInfo->dwConnectedIDFlags = LINECALLPARTYID_ADDRESS;
    pInfo->dwRedirectionIDFlags = LINECALLPARTYID_UNAVAIL;
    pInfo->dwRedirectingIDFlags = LINECALLPARTYID_UNAVAIL;
}

void FillNewCallStatus(LINECALLSTATUS* pStatus) {
    std::memset(pStatus, 0, sizeof(LINECALLSTATUS));
    pStatus->dwTotalSize = pStatus->dwNeededSize = pStatus->dwUsedSize = sizeof(LINECALLSTATUS);
    pStatus->dwCallState = LINECALLSTATE_UNKNOWN;
    pStatus->dwCallPrivilege = LINECALLPRIVILEGE_MONITOR;
    pStatus->dwCallFeatures = LINECALLFEATURE_DROP;
    GetLocalTime(&pStatus->tStateEntryTime);
}

DWORD InsertNumberToCallInfo(PhoneCall* pPhoneCall, DWORD dwIndex, const wchar_t* pszNumber, BOOL bSetSize) {
    CFuncTrace trace(3, L"InsertNumberToCallInfo");
    trace.Param(L"_dwIndex", L"%u", dwIndex);
    trace.Param(L"_pszNumber", L"%s", pszNumber != nullptr ? pszNumber : L"NULL");
    if (pPhoneCall == nullptr || IsBadReadPtr(pPhoneCall, sizeof(PhoneCall)) || pPhoneCall->m_pLineCallInfo == nullptr ||
        dwIndex >= kCallInfoSlots) {
        trace.Warning(L"Bad pointer");
        return 0;
    }
    LINECALLINFO* pInfo = pPhoneCall->m_pLineCallInfo;
    int nChanged = CompareCallNumber(pInfo, dwIndex, pszNumber);
    DWORD dwOffset = NumberSlotOffset(dwIndex);
    DWORD dwSize = CopyTapiDataIn(pInfo, dwOffset, pszNumber, kCallInfoSlotChars, 1);
    if (!bSetSize) return 0;
    auto* pPair = reinterpret_cast<DWORD*>(reinterpret_cast<BYTE*>(pInfo) + kNumberSlotFields[dwIndex]);
    pPair[0] = dwSize;
    pPair[1] = dwOffset;
    trace.Line(L"End.Result %d", nChanged);
    return nChanged != 0 ? 1 : 0;
}

DWORD SetPartyName(PhoneCall* pPhoneCall, DWORD dwNumberIndex, const wchar_t* pszName) {
    CFuncTrace trace(3, L"SetPartyName");
    trace.Param(L"_dwNumberIndex", L"%u", dwNumberIndex);
    trace.Param(L"_pszName", L"%s", pszName != nullptr ? pszName : L"NULL");
    DWORD* pdwFlags = nullptr;
    if (pPhoneCall != nullptr && pPhoneCall->m_pLineCallInfo != nullptr) {
        LINECALLINFO* pInfo = pPhoneCall->m_pLineCallInfo;
        if (dwNumberIndex == kNumberCaller) pdwFlags = &pInfo->dwCallerIDFlags;
        if (dwNumberIndex == kNumberCalled) pdwFlags = &pInfo->dwCalledIDFlags;
        if (dwNumberIndex == kNumberConnected) pdwFlags = &pInfo->dwConnectedIDFlags;
    }
    if (pdwFlags == nullptr) {
        trace.Warning(L"Bad pointer");
        return 0;
    }
    const DWORD dwNameIndex = dwNumberIndex + 1;
    const bool bName = pszName != nullptr && pszName[0] != L'\0';
    const DWORD dwFlags = bName ? LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME : LINECALLPARTYID_ADDRESS;
    const bool bChanged = CompareCallNumber(pPhoneCall->m_pLineCallInfo, dwNameIndex, bName ? pszName : L"") != 0 ||
                          *pdwFlags != dwFlags;
    *pdwFlags = dwFlags;
    if (bName) {
        InsertNumberToCallInfo(pPhoneCall, dwNameIndex, pszName, 1);
    } else {
        // No name: an empty slot, as TAPI expects of a party without one.
        LINECALLINFO* pInfo = pPhoneCall->m_pLineCallInfo;
        std::memset(reinterpret_cast<BYTE*>(pInfo) + NumberSlotOffset(dwNameIndex), 0, kCallInfoSlotBytes);
        auto* pPair = reinterpret_cast<DWORD*>(reinterpret_cast<BYTE*>(pInfo) + kNumberSlotFields[dwNameIndex]);
        pPair[0] = pPair[1] = 0;
    }
    trace.Line(L"End.Result %d", bChanged ? 1 : 0);
    return bChanged ? 1 : 0;
}

int CompareCallNumber(const void* pStruct, DWORD dwIndex, const wchar_t* pszText) {
    if (pStruct == nullptr || dwIndex >= kCallInfoSlots) {
        Trace(3, L"Func.CompareCallNumber.Abort.Result 0");
        return 0;
    }
    const auto* pszSlot = reinterpret_cast<const wchar_t*>(static_cast<const BYTE*>(pStruct) + NumberSlotOffset(dwIndex));
    // A slot keeps 19 characters; a longer number counts as unchanged when its stored part is.
    return CompareSlotText(pszSlot, pszText, kCallInfoSlotChars - 1);
}

DWORD CopyTapiDataIn(void* pStruct, DWORD dwOffset, const wchar_t* pszText, DWORD dwMaxLen, DWORD dwCloseZeros) {
    if (pStruct == nullptr || dwMaxLen == 0) return 0;
    const wchar_t* pszSource = pszText != nullptr ? pszText : L"";
    DWORD cchText = static_cast<DWORD>(wcsnlen(pszSource, dwMaxLen));
    DWORD cbSize = (cchText + dwCloseZeros) * sizeof(wchar_t);
    if (cbSize > dwMaxLen * sizeof(wchar_t)) cbSize = dwMaxLen * sizeof(wchar_t);

    auto* pszTarget = reinterpret_cast<wchar_t*>(static_cast<BYTE*>(pStruct) + dwOffset);
    std::memset(pszTarget, 0, cbSize);
    // At least one unit stays for the terminator, whatever dwCloseZeros says.
    DWORD cchReserved = dwCloseZeros > 0 ? dwCloseZeros : 1;
    DWORD cchCopy = dwMaxLen > cchReserved ? dwMaxLen - cchReserved : 0;
    DWORD cchCopied = static_cast<DWORD>(BoundedCopy(pszTarget, cchCopy + 1, pszSource, cchCopy));
    if (dwCloseZeros >= 2)
        for (DWORD i = 0; i < cchCopied; ++i)
            if (pszTarget[i] == L'#') pszTarget[i] = L'\0';
    return cbSize;
}

DWORD CopyTapiDataOut(const void* pStruct, DWORD dwOffset, wchar_t* pszText, DWORD dwMaxLen) {
    if (pStruct == nullptr || pszText == nullptr || dwMaxLen == 0) return 0;
    const auto* pszSource = reinterpret_cast<const wchar_t*>(static_cast<const BYTE*>(pStruct) + dwOffset);
    size_t cchCopied = BoundedCopy(pszText, dwMaxLen, pszSource, dwMaxLen - 1);
    return static_cast<DWORD>((cchCopied + 1) * sizeof(wchar_t));
}
