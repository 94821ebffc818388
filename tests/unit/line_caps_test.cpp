// The TAPI records of lines and calls, byte for byte, as TAPI and its
// applications are told them (numbers, not the code's constants).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

#include "common/BoundedString.h"
#include "config/ProviderSettings.h"
#include "manager/CGenericTSPIManager.h"
#include "model/LineCaps.h"
#include "model/ProviderState.h"
#include "pbx/ExtensionDirectory.h"
#include "support/LineModelFixture.h"

namespace {

using LineCapsTest = LineModelFixture;

struct Field { const char* pszName; size_t nOffset; DWORD dwValue; };
#define FIELD(record, field, value) Field{#field, offsetof(record, field), static_cast<DWORD>(value)}

// Every DWORD of the record's first cbChecked bytes holds its listed value, all others 0.
void ExpectRecord(const void* pRecord, size_t cbChecked, std::initializer_list<Field> fields) {
    for (size_t nOffset = 0; nOffset < cbChecked; nOffset += sizeof(DWORD)) {
        const Field* pField = std::find_if(fields.begin(), fields.end(), [&](const Field& f) { return f.nOffset == nOffset; });
        DWORD dwActual;
        std::memcpy(&dwActual, static_cast<const BYTE*>(pRecord) + nOffset, sizeof(dwActual));
        EXPECT_EQ(dwActual, pField != fields.end() ? pField->dwValue : 0u)
            << (pField != fields.end() ? pField->pszName : "unlisted field") << " at offset " << nOffset;
    }
}

// Strings laid out one after the other, each with its NUL and one empty unit after it.
std::wstring Laid(std::initializer_list<std::wstring> strings) {
    std::wstring laid;
    for (const std::wstring& s : strings) laid += s + std::wstring(2, L'\0');
    return laid;
}

TEST_F(LineCapsTest, LineRecordsHoldTheReportedValues) {
    ChangeLineName(1, L"", L"Lena");
    const PhoneLine& line = Line(1);
    ExpectRecord(line.m_pLineDevCaps, 268,
                 {FIELD(LINEDEVCAPS, dwTotalSize, 268), FIELD(LINEDEVCAPS, dwNeededSize, 396),
                  FIELD(LINEDEVCAPS, dwUsedSize, 396), FIELD(LINEDEVCAPS, dwProviderInfoSize, 68),
                  FIELD(LINEDEVCAPS, dwProviderInfoOffset, 280), FIELD(LINEDEVCAPS, dwSwitchInfoSize, 22),
                  FIELD(LINEDEVCAPS, dwSwitchInfoOffset, 350), FIELD(LINEDEVCAPS, dwPermanentLineID, (7u << 16) | 101u),
                  FIELD(LINEDEVCAPS, dwLineNameSize, 10), FIELD(LINEDEVCAPS, dwLineNameOffset, 268),
                  FIELD(LINEDEVCAPS, dwStringFormat, 3), FIELD(LINEDEVCAPS, dwAddressModes, 2),
                  FIELD(LINEDEVCAPS, dwNumAddresses, 1), FIELD(LINEDEVCAPS, dwBearerModes, 3),
                  FIELD(LINEDEVCAPS, dwMaxRate, 64000), FIELD(LINEDEVCAPS, dwMediaModes, 4),
                  FIELD(LINEDEVCAPS, dwMaxNumActiveCalls, 3), FIELD(LINEDEVCAPS, dwAnswerMode, 1),
                  FIELD(LINEDEVCAPS, dwRingModes, 1),
                  // OTHER and NUMCALLS, and INSERVICE and OUTOFSERVICE, which the provider reports.
                  FIELD(LINEDEVCAPS, dwLineStates, 0x8C1), FIELD(LINEDEVCAPS, dwNumTerminals, 1),
                  FIELD(LINEDEVCAPS, dwLineFeatures, 8), FIELD(LINEDEVCAPS, dwDeviceClassesSize, 20),
                  FIELD(LINEDEVCAPS, dwDeviceClassesOffset, 374)});
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(reinterpret_cast<const BYTE*>(line.m_pLineDevCaps) + 268), 64),
              Laid({L"Lena", L"ORVO Third Party Service Provider", L"tavik GmbH", L"tapi/line"}));

    // The account's own extensions are reported with their directory names (LINECALLPARTYID_NAME).
    ExpectRecord(line.m_pLineAddressCaps, 228,
                 {FIELD(LINEADDRESSCAPS, dwTotalSize, 228), FIELD(LINEADDRESSCAPS, dwNeededSize, 236),
                  FIELD(LINEADDRESSCAPS, dwUsedSize, 236), FIELD(LINEADDRESSCAPS, dwLineDeviceID, 101),
                  FIELD(LINEADDRESSCAPS, dwAddressSize, 6), FIELD(LINEADDRESSCAPS, dwAddressOffset, 228),
                  FIELD(LINEADDRESSCAPS, dwAddressSharing, 1), FIELD(LINEADDRESSCAPS, dwAddressStates, 0x21),
                  FIELD(LINEADDRESSCAPS, dwCallInfoStates, 0x38140), FIELD(LINEADDRESSCAPS, dwCallerIDFlags, 0xC),
                  FIELD(LINEADDRESSCAPS, dwCalledIDFlags, 0xC), FIELD(LINEADDRESSCAPS, dwConnectedIDFlags, 0xC),
                  FIELD(LINEADDRESSCAPS, dwRedirectionIDFlags, 8), FIELD(LINEADDRESSCAPS, dwRedirectingIDFlags, 8),
                  FIELD(LINEADDRESSCAPS, dwCallStates, 0xC33B), FIELD(LINEADDRESSCAPS, dwDialToneModes, 1),
                  FIELD(LINEADDRESSCAPS, dwDisconnectModes, 1), FIELD(LINEADDRESSCAPS, dwMaxNumActiveCalls, 1),
                  FIELD(LINEADDRESSCAPS, dwMaxNumConference, 2), FIELD(LINEADDRESSCAPS, dwMaxNumTransConf, 3),
                  FIELD(LINEADDRESSCAPS, dwAddrCapFlags, 0x20), FIELD(LINEADDRESSCAPS, dwCallFeatures, 0x80),
                  FIELD(LINEADDRESSCAPS, dwMaxForwardEntries, 1), FIELD(LINEADDRESSCAPS, dwMaxFwdNumRings, 5),
                  FIELD(LINEADDRESSCAPS, dwAddressFeatures, 2), FIELD(LINEADDRESSCAPS, dwConnectedModes, 1),
                  FIELD(LINEADDRESSCAPS, dwAvailableMediaModes, 4)});
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(reinterpret_cast<const BYTE*>(line.m_pLineAddressCaps) + 228), 4),
              Laid({L"22"}));

    ExpectRecord(line.m_pLineDevStatus, 88,
                 {FIELD(LINEDEVSTATUS, dwTotalSize, 88), FIELD(LINEDEVSTATUS, dwNeededSize, 88),
                  FIELD(LINEDEVSTATUS, dwUsedSize, 88), FIELD(LINEDEVSTATUS, dwOpenMediaModes, 4),
                  FIELD(LINEDEVSTATUS, dwLineFeatures, 8), FIELD(LINEDEVSTATUS, dwRoamMode, 4),
                  FIELD(LINEDEVSTATUS, dwDevStatusFlags, 5)});
    ExpectRecord(line.m_pLineAddressStatus, 128,
                 {FIELD(LINEADDRESSSTATUS, dwTotalSize, 128), FIELD(LINEADDRESSSTATUS, dwNeededSize, 128),
                  FIELD(LINEADDRESSSTATUS, dwUsedSize, 128), FIELD(LINEADDRESSSTATUS, dwAddressFeatures, 2)});

    // Provider and device ID keep their low 16 bits each.
    g_dwLineDeviceIDBase = 0x00012345;
    BuildLines({L"21"});
    EXPECT_EQ(Line(0).m_pLineDevCaps->dwPermanentLineID, 0x00072345u);
}

TEST_F(LineCapsTest, NewInboundCallRecordsHoldTheReportedValuesAndTheLineAsCalledNumber) {
    HTAPILINE htLine = OpenLine(1);
    LONG k = GenerateNewCall(1, nullptr, LINECALLORIGIN_INBOUND, 3, 42, -1);
    const LINECALLINFO* pInfo = Call(1, k)->m_pLineCallInfo;
    ExpectRecord(pInfo, 724,
                 {FIELD(LINECALLINFO, dwTotalSize, 724), FIELD(LINECALLINFO, dwNeededSize, 724),
                  FIELD(LINECALLINFO, dwUsedSize, 724),
                  FIELD(LINECALLINFO, hLine, reinterpret_cast<ULONG_PTR>(htLine)),
                  FIELD(LINECALLINFO, dwLineDeviceID, 101), FIELD(LINECALLINFO, dwBearerMode, 1),
                  FIELD(LINECALLINFO, dwRate, 64000), FIELD(LINECALLINFO, dwMediaMode, 4),
                  FIELD(LINECALLINFO, dwCallID, 42), FIELD(LINECALLINFO, dwCallStates, 0xC33B),
                  FIELD(LINECALLINFO, dwMonitorMediaModes, 4), FIELD(LINECALLINFO, dwOrigin, 0x80),
                  FIELD(LINECALLINFO, dwReason, 1), FIELD(LINECALLINFO, dwTrunk, 0xFFFFFFFF),
                  FIELD(LINECALLINFO, dwCallerIDFlags, 8), FIELD(LINECALLINFO, dwCalledIDFlags, 8),
                  FIELD(LINECALLINFO, dwConnectedIDFlags, 8), FIELD(LINECALLINFO, dwRedirectionIDFlags, 0x40),
                  FIELD(LINECALLINFO, dwRedirectingIDFlags, 0x40),
                  // An inbound call's own line is the called party, in the third number slot.
                  FIELD(LINECALLINFO, dwCalledIDSize, 6), FIELD(LINECALLINFO, dwCalledIDOffset, 324 + 2 * 40),
                  // The slot's text, "22".
                  {"called number", 404, 0x00320032}});
    // Up to the time of creation.
    ExpectRecord(Call(1, k)->m_pLineCallStatus, offsetof(LINECALLSTATUS, tStateEntryTime),
                 {FIELD(LINECALLSTATUS, dwTotalSize, 56), FIELD(LINECALLSTATUS, dwNeededSize, 56),
                  FIELD(LINECALLSTATUS, dwUsedSize, 56), FIELD(LINECALLSTATUS, dwCallState, 0x8000),
                  FIELD(LINECALLSTATUS, dwCallPrivilege, 2), FIELD(LINECALLSTATUS, dwCallFeatures, 0x80)});
}

TEST_F(LineCapsTest, AddressCapsCarryTheAddressCutTo18Characters) {
    ChangeLineAddress(0, L"1234567890123456789012345");
    const LINEADDRESSCAPS* pCaps = Line(0).m_pLineAddressCaps;
    EXPECT_STREQ(Line(0).m_szAddress, L"123456789012345678");
    EXPECT_EQ(TextAt(pCaps, 228), L"123456789012345678");
    EXPECT_EQ(pCaps->dwAddressSize, 38u);
    EXPECT_EQ(pCaps->dwUsedSize, 268u);

    ChangeLineAddress(0, L"12345");
    EXPECT_EQ(pCaps->dwAddressSize, 12u);
    EXPECT_EQ(pCaps->dwNeededSize, 242u);
    EXPECT_EQ(pCaps->dwUsedSize, 242u);
    // No rest of the longer address stays behind the gap.
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(reinterpret_cast<const BYTE*>(pCaps) + 228), 8),
              Laid({L"12345"}) + std::wstring(1, L'\0'));
    EXPECT_EQ(GetPosFromAddress(L"12345"), 0);
}

TEST_F(LineCapsTest, NumberSlotsKeep19CharactersAndReportChanges) {
    PhoneCall* pCall = Call(0, AddCall(0, 0));
    const wchar_t* pszNumber = L"1234567890123456789012345";
    EXPECT_NE(InsertNumberToCallInfo(pCall, 0, pszNumber, 1), 0u);
    EXPECT_EQ(pCall->m_pLineCallInfo->dwCallerIDSize, 40u);
    EXPECT_EQ(pCall->m_pLineCallInfo->dwCallerIDOffset, 324u);
    EXPECT_EQ(TextAt(pCall->m_pLineCallInfo, 324), L"1234567890123456789");
    EXPECT_EQ(TextAt(pCall->m_pLineCallInfo, 364), L"");  // the neighbouring slot is untouched
    EXPECT_EQ(InsertNumberToCallInfo(pCall, 0, pszNumber, 1), 0u) << "the same number again is no change";

    // Without the size flag the text is written but neither announced nor sized.
    EXPECT_EQ(InsertNumberToCallInfo(pCall, 6, L"555", 0), 0u);
    EXPECT_EQ(TextAt(pCall->m_pLineCallInfo, 324 + 6 * 40), L"555");
    EXPECT_EQ(pCall->m_pLineCallInfo->dwRedirectionIDSize, 0u);
}

TEST_F(LineCapsTest, PartyNamesGoIntoTheNameSlotAfterTheirNumberWithTheNameFlag) {
    PhoneCall* pCall = Call(0, AddCall(0, 0));
    LINECALLINFO* pInfo = pCall->m_pLineCallInfo;
    const DWORD* pCaller = &pInfo->dwCallerIDNameSize;
    const DWORD* pCalled = &pInfo->dwCalledIDNameSize;
    const DWORD* pConnected = &pInfo->dwConnectedIDNameSize;
    constexpr DWORD kNamed = LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME;
    const struct {
        const char* pszWhat;
        DWORD dwNumberSlot;
        const wchar_t* pszName;
        DWORD dwResult;
        const DWORD* pNamePair;  // size, then offset
        const DWORD* pFlags;
        DWORD dwSize, dwOffset;
        const wchar_t* pszSlotText;
        DWORD dwFlags;
    } rows[] = {
        {"caller named", 0, L"Office", 1, pCaller, &pInfo->dwCallerIDFlags, 14, 324 + 40, L"Office", kNamed},
        {"the same name again", 0, L"Office", 0, pCaller, &pInfo->dwCallerIDFlags, 14, 324 + 40, L"Office", kNamed},
        {"another name", 0, L"Lab", 1, pCaller, &pInfo->dwCallerIDFlags, 8, 324 + 40, L"Lab", kNamed},
        {"caller no longer named", 0, L"", 1, pCaller, &pInfo->dwCallerIDFlags, 0, 0, L"", LINECALLPARTYID_ADDRESS},
        {"called name cut to 19 characters", 2, L"Empfang Haus B Etage 3 links", 1, pCalled, &pInfo->dwCalledIDFlags,
         40, 324 + 3 * 40, L"Empfang Haus B Etag", kNamed},
        {"connected named", 4, L"Reception", 1, pConnected, &pInfo->dwConnectedIDFlags, 20, 324 + 5 * 40, L"Reception",
         kNamed},
        {"a null name is no name", 4, nullptr, 1, pConnected, &pInfo->dwConnectedIDFlags, 0, 0, L"",
         LINECALLPARTYID_ADDRESS},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pszWhat);
        EXPECT_EQ(SetPartyName(pCall, row.dwNumberSlot, row.pszName), row.dwResult);
        EXPECT_EQ(row.pNamePair[0], row.dwSize);
        EXPECT_EQ(row.pNamePair[1], row.dwOffset);
        EXPECT_EQ(TextAt(pInfo, 324 + (row.dwNumberSlot + 1) * 40), row.pszSlotText);
        EXPECT_EQ(*row.pFlags, row.dwFlags);
    }
    // Only the three parties the provider reports have names; the others stay unavailable.
    EXPECT_EQ(SetPartyName(pCall, 6, L"Office"), 0u);
    EXPECT_EQ(pInfo->dwRedirectionIDNameSize, 0u);
    EXPECT_EQ(pInfo->dwRedirectionIDFlags, static_cast<DWORD>(LINECALLPARTYID_UNAVAIL));
    EXPECT_EQ(TextAt(pInfo, 324 + 7 * 40), L"");
}

TEST_F(LineCapsTest, LineNamesFollowTheLineFormat) {
    BuildLines({L"23"});
    g_Extensions[0].name = L"Office";
    for (const auto& [pszFormat, pszExpected] : {std::pair{L"1", L"ORVO Lena Muster Office"},
                                                 std::pair{L"2", L"ORVO Lena Muster 23: Office"},
                                                 std::pair{L"x", L"ORVO Lena Muster 23"}}) {
        StrCopy(g_pProviderSettings->LineFormat, pszFormat);
        EXPECT_STREQ(g_Manager.GetFirstName(0), pszExpected) << "format " << testing::PrintToString(std::wstring(pszFormat));
    }
}

}  // namespace
