// The TAPI records of lines and calls, byte for byte.
#include <gtest/gtest.h>

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

std::wstring TextAt(const void* pRecord, DWORD dwOffset) {
    return reinterpret_cast<const wchar_t*>(static_cast<const BYTE*>(pRecord) + dwOffset);
}

WORD UnitAt(const void* pRecord, DWORD dwOffset) {
    WORD w;
    std::memcpy(&w, static_cast<const BYTE*>(pRecord) + dwOffset, sizeof(w));
    return w;
}

struct Value {
    const char* pszField;
    DWORD dwActual, dwExpected;
};

void ExpectValues(std::initializer_list<Value> values) {
    for (const Value& v : values) EXPECT_EQ(v.dwActual, v.dwExpected) << v.pszField;
}

TEST_F(LineCapsTest, DevCapsOfAFourCharacterNameLayOutTheStrings) {
    ChangeLineName(0, L"", L"Lena");
    const LINEDEVCAPS* pCaps = Line(0).m_pLineDevCaps;
    struct Field {
        const wchar_t* pszText;
        DWORD dwSize, dwOffset;
        DWORD dwExpectedSize, dwExpectedOffset;
    };
    const Field fields[] = {
        {L"Lena", pCaps->dwLineNameSize, pCaps->dwLineNameOffset, 10, 268},
        {L"ORVO Third Party Service Provider", pCaps->dwProviderInfoSize, pCaps->dwProviderInfoOffset, 68, 280},
        {L"tavik GmbH", pCaps->dwSwitchInfoSize, pCaps->dwSwitchInfoOffset, 22, 350},
        {L"tapi/line", pCaps->dwDeviceClassesSize, pCaps->dwDeviceClassesOffset, 20, 374},
    };
    for (const Field& f : fields) {
        SCOPED_TRACE(f.pszText);
        EXPECT_EQ(f.dwSize, f.dwExpectedSize);
        EXPECT_EQ(f.dwOffset, f.dwExpectedOffset);
        EXPECT_EQ(TextAt(pCaps, f.dwOffset), f.pszText);
        EXPECT_EQ(UnitAt(pCaps, f.dwOffset + f.dwSize), 0) << "gap after the string";
    }
    EXPECT_EQ(pCaps->dwTotalSize, 268u);
    EXPECT_EQ(pCaps->dwNeededSize, 396u);
    EXPECT_EQ(pCaps->dwUsedSize, 396u);
}

// The fixed fields TAPI and applications decide by, as the TAPI records are
// documented for this provider (numbers, not the code's constants); sizes are
// checked with the strings.
TEST_F(LineCapsTest, FixedPartsOfTheLineRecords) {
    const LINEDEVCAPS* pCaps = Line(1).m_pLineDevCaps;
    const LINEADDRESSCAPS* pAddress = Line(1).m_pLineAddressCaps;
    const LINEDEVSTATUS* pStatus = Line(1).m_pLineDevStatus;
    ExpectValues({
        {"dwPermanentLineID", pCaps->dwPermanentLineID, (7u << 16) | 101u},
        {"dwStringFormat", pCaps->dwStringFormat, 3},
        {"dwAddressModes", pCaps->dwAddressModes, 2},
        {"dwNumAddresses", pCaps->dwNumAddresses, 1},
        {"dwBearerModes", pCaps->dwBearerModes, 3},
        {"dwMaxRate", pCaps->dwMaxRate, 64000},
        {"dwMediaModes", pCaps->dwMediaModes, 4},
        {"dev dwMaxNumActiveCalls", pCaps->dwMaxNumActiveCalls, 3},
        {"dwAnswerMode", pCaps->dwAnswerMode, 1},
        // OTHER and NUMCALLS (0x801), and INSERVICE and OUTOFSERVICE, which the provider reports.
        {"dwLineStates", pCaps->dwLineStates, 0x8C1},
        {"dwNumTerminals", pCaps->dwNumTerminals, 1},
        {"dwLineFeatures", pCaps->dwLineFeatures, 8},
        {"dwLineDeviceID", pAddress->dwLineDeviceID, 101},
        {"dwAddressSharing", pAddress->dwAddressSharing, 1},
        {"dwAddressStates", pAddress->dwAddressStates, 0x21},
        {"dwCallInfoStates", pAddress->dwCallInfoStates, 0x38140},
        {"dwCallStates", pAddress->dwCallStates, 0xC33B},
        {"address dwMaxNumActiveCalls", pAddress->dwMaxNumActiveCalls, 1},
        {"dwAddrCapFlags", pAddress->dwAddrCapFlags, 0x20},
        {"dwCallFeatures", pAddress->dwCallFeatures, 0x80},
        {"dwAddressFeatures", pAddress->dwAddressFeatures, 2},
        {"dwAvailableMediaModes", pAddress->dwAvailableMediaModes, 4},
        {"dwRoamMode", pStatus->dwRoamMode, 4},
        {"dwDevStatusFlags", pStatus->dwDevStatusFlags, 5},
    });
    // Provider and device ID keep their low 16 bits each.
    g_dwLineDeviceIDBase = 0x00012345;
    BuildLines({L"21"});
    EXPECT_EQ(Line(0).m_pLineDevCaps->dwPermanentLineID, 0x00072345u);
}

TEST_F(LineCapsTest, AddressCapsCarryTheAddressCutTo18Characters) {
    ChangeLineAddress(0, L"1234567890123456789012345");
    const LINEADDRESSCAPS* pCaps = Line(0).m_pLineAddressCaps;
    EXPECT_STREQ(Line(0).m_szAddress, L"123456789012345678");
    EXPECT_EQ(TextAt(pCaps, 228), L"123456789012345678");
    EXPECT_EQ(pCaps->dwAddressSize, 38u);
    EXPECT_EQ(pCaps->dwUsedSize, kAddressCapsBufferSize);

    ChangeLineAddress(0, L"12345");
    ExpectValues({{"dwAddressOffset", pCaps->dwAddressOffset, 228},
                  {"dwAddressSize", pCaps->dwAddressSize, 12},
                  {"dwNeededSize", pCaps->dwNeededSize, 242},
                  {"dwUsedSize", pCaps->dwUsedSize, 242},
                  {"dwTotalSize", pCaps->dwTotalSize, 228}});
    EXPECT_EQ(TextAt(pCaps, 228), L"12345");
    // No rest of the longer address stays behind the gap.
    EXPECT_EQ(UnitAt(pCaps, 228 + 12), 0);
    EXPECT_EQ(UnitAt(pCaps, 228 + 14), 0);
    EXPECT_EQ(GetPosFromAddress(L"12345"), 0);
}

TEST_F(LineCapsTest, NewInboundCallRecordsHaveTheirSizesLineAndCalledNumber) {
    HTAPILINE htLine = OpenLine(1);
    LONG k = GenerateNewCall(1, nullptr, LINECALLORIGIN_INBOUND, 3, 42, -1);
    const LINECALLINFO* pInfo = Call(1, k)->m_pLineCallInfo;
    ExpectValues({
        {"dwTotalSize", pInfo->dwTotalSize, 724},
        {"dwNeededSize", pInfo->dwNeededSize, 724},
        {"dwUsedSize", pInfo->dwUsedSize, 724},
        {"hLine", pInfo->hLine, static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(htLine))},
        {"dwLineDeviceID", pInfo->dwLineDeviceID, 101},
        {"dwCallID", pInfo->dwCallID, 42},
        // An inbound call's own line is the called party, in the third number slot.
        {"dwCalledIDSize", pInfo->dwCalledIDSize, 6},
        {"dwCalledIDOffset", pInfo->dwCalledIDOffset, 324 + 2 * 40},
        {"dwCallerIDSize", pInfo->dwCallerIDSize, 0},
    });
    EXPECT_EQ(TextAt(pInfo, 324 + 80), L"22");

    const LINECALLSTATUS* pStatus = Call(1, k)->m_pLineCallStatus;
    ExpectValues({{"dwTotalSize", pStatus->dwTotalSize, 56},
                  {"dwCallState", pStatus->dwCallState, LINECALLSTATE_UNKNOWN},
                  {"dwCallFeatures", pStatus->dwCallFeatures, LINECALLFEATURE_DROP}});
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
    const DWORD* pCallerName = &pInfo->dwCallerIDNameSize;
    const DWORD* pCalledName = &pInfo->dwCalledIDNameSize;
    const DWORD* pConnectedName = &pInfo->dwConnectedIDNameSize;
    constexpr DWORD kNamed = LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME;
    const struct {
        const char* pszWhat;
        DWORD dwNumberSlot;
        const wchar_t* pszName;
        DWORD dwResult;
        const DWORD* pNamePair;  // size, then offset
        const DWORD* pFlags;
        DWORD dwSize;
        DWORD dwOffset;
        const wchar_t* pszSlotText;
        DWORD dwFlags;
    } rows[] = {
        {"caller named", 0, L"Office", 1, pCallerName, &pInfo->dwCallerIDFlags, 14, 324 + 40, L"Office", kNamed},
        {"the same name again", 0, L"Office", 0, pCallerName, &pInfo->dwCallerIDFlags, 14, 324 + 40, L"Office", kNamed},
        {"another name", 0, L"Lab", 1, pCallerName, &pInfo->dwCallerIDFlags, 8, 324 + 40, L"Lab", kNamed},
        {"caller no longer named", 0, L"", 1, pCallerName, &pInfo->dwCallerIDFlags, 0, 0, L"", LINECALLPARTYID_ADDRESS},
        {"called name cut to 19 characters", 2, L"Empfang Haus B Etage 3 links", 1, pCalledName, &pInfo->dwCalledIDFlags,
         40, 324 + 3 * 40, L"Empfang Haus B Etag", kNamed},
        {"connected named", 4, L"Reception", 1, pConnectedName, &pInfo->dwConnectedIDFlags, 20, 324 + 5 * 40,
         L"Reception", kNamed},
        {"a null name is no name", 4, nullptr, 1, pConnectedName, &pInfo->dwConnectedIDFlags, 0, 0, L"",
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
