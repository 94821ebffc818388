// The TAPI records of lines and calls, byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/BoundedString.h"
#include "config/ProviderSettings.h"
#include "manager/CGenericTSPIManager.h"
#include "manager/ProviderState.h"
#include "model/LineCaps.h"
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
        EXPECT_EQ(f.dwSize, f.dwExpectedSize) << testing::PrintToString(std::wstring(f.pszText));
        EXPECT_EQ(f.dwOffset, f.dwExpectedOffset) << testing::PrintToString(std::wstring(f.pszText));
        EXPECT_EQ(TextAt(pCaps, f.dwOffset), f.pszText);
        EXPECT_EQ(UnitAt(pCaps, f.dwOffset + f.dwSize), 0) << "gap after " << testing::PrintToString(std::wstring(f.pszText));
    }
    EXPECT_EQ(pCaps->dwTotalSize, 268u);
    EXPECT_EQ(pCaps->dwNeededSize, 396u);
    EXPECT_EQ(pCaps->dwUsedSize, 396u);
    EXPECT_STREQ(Line(0).m_szName, L"Lena");
}

TEST_F(LineCapsTest, DevCapsFixedPart) {
    const LINEDEVCAPS* pCaps = Line(1).m_pLineDevCaps;
    struct Value {
        const char* pszField;
        DWORD dwActual, dwExpected;
    };
    const Value values[] = {
        {"dwPermanentLineID", pCaps->dwPermanentLineID, (7u << 16) | 101u},
        {"dwStringFormat", pCaps->dwStringFormat, STRINGFORMAT_UNICODE},
        {"dwAddressModes", pCaps->dwAddressModes, LINEADDRESSMODE_DIALABLEADDR},
        {"dwNumAddresses", pCaps->dwNumAddresses, 1},
        {"dwBearerModes", pCaps->dwBearerModes, 3},
        {"dwMaxRate", pCaps->dwMaxRate, 64000},
        {"dwMediaModes", pCaps->dwMediaModes, LINEMEDIAMODE_INTERACTIVEVOICE},
        {"dwGenerateDigitModes", pCaps->dwGenerateDigitModes, 0},
        {"dwMonitorDigitModes", pCaps->dwMonitorDigitModes, 0},
        {"dwDevCapFlags", pCaps->dwDevCapFlags, 0},
        {"dwMaxNumActiveCalls", pCaps->dwMaxNumActiveCalls, 3},
        {"dwAnswerMode", pCaps->dwAnswerMode, LINEANSWERMODE_NONE},
        {"dwRingModes", pCaps->dwRingModes, 1},
        {"dwLineStates", pCaps->dwLineStates, 0x801},
        {"dwNumTerminals", pCaps->dwNumTerminals, 1},
        {"dwLineFeatures", pCaps->dwLineFeatures, LINEFEATURE_MAKECALL},
    };
    for (const Value& v : values) EXPECT_EQ(v.dwActual, v.dwExpected) << v.pszField;
    EXPECT_EQ(Line(1).m_dwAddressStates, 0x21u);
    EXPECT_EQ(Line(1).m_dwLineStates, 0x801u);
}

TEST_F(LineCapsTest, PermanentLineIdJoinsProviderAndDeviceId) {
    g_dwLineDeviceIDBase = 0x00012345;
    g_dwPermanentProviderID = 7;
    BuildLines({L"21"});
    EXPECT_EQ(Line(0).m_pLineDevCaps->dwPermanentLineID, 0x00072345u);
    EXPECT_EQ(Line(0).m_pLineAddressCaps->dwLineDeviceID, 0x00012345u);
}

TEST_F(LineCapsTest, LongLineNameIsCutTo62Characters) {
    std::wstring name(70, L'x');
    for (size_t i = 0; i < name.size(); ++i) name[i] = static_cast<wchar_t>(L'A' + i % 26);
    ChangeLineName(0, L"", name.c_str());
    const LINEDEVCAPS* pCaps = Line(0).m_pLineDevCaps;
    EXPECT_EQ(std::wstring(Line(0).m_szName), name.substr(0, 62));
    EXPECT_EQ(TextAt(pCaps, pCaps->dwLineNameOffset), name.substr(0, 62));
    EXPECT_EQ(pCaps->dwLineNameSize, 126u);
    // Everything still fits into the record's buffer.
    EXPECT_LE(pCaps->dwUsedSize, kDevCapsBufferSize);
    EXPECT_EQ(TextAt(pCaps, pCaps->dwDeviceClassesOffset), L"tapi/line");
}

TEST_F(LineCapsTest, BaseNameGoesInFrontOfTheName) {
    ChangeLineName(2, L"Base ", L"Name");
    EXPECT_STREQ(Line(2).m_szName, L"Base Name");
    EXPECT_EQ(TextAt(Line(2).m_pLineDevCaps, 268), L"Base Name");
}

TEST_F(LineCapsTest, AddressCapsCarryTheAddress) {
    ChangeLineAddress(0, L"12345");
    const LINEADDRESSCAPS* pCaps = Line(0).m_pLineAddressCaps;
    EXPECT_EQ(pCaps->dwAddressOffset, 228u);
    EXPECT_EQ(pCaps->dwAddressSize, 12u);
    EXPECT_EQ(pCaps->dwNeededSize, 242u);
    EXPECT_EQ(pCaps->dwUsedSize, 242u);
    EXPECT_EQ(pCaps->dwTotalSize, 228u);
    EXPECT_EQ(TextAt(pCaps, 228), L"12345");
    EXPECT_STREQ(Line(0).m_szAddress, L"12345");

    // A shorter address leaves no rest of the longer one behind its gap.
    ChangeLineAddress(0, L"9");
    EXPECT_EQ(pCaps->dwAddressSize, 4u);
    EXPECT_EQ(UnitAt(pCaps, 228 + 4), 0);
    EXPECT_EQ(GetPosFromAddress(L"9"), 0);
}

TEST_F(LineCapsTest, OverlongAddressIsCutTo18CharactersInLineAndRecord) {
    ChangeLineAddress(0, L"1234567890123456789012345");
    const LINEADDRESSCAPS* pCaps = Line(0).m_pLineAddressCaps;
    EXPECT_STREQ(Line(0).m_szAddress, L"123456789012345678");
    EXPECT_EQ(TextAt(pCaps, 228), L"123456789012345678");
    EXPECT_EQ(pCaps->dwAddressSize, 38u);
    EXPECT_EQ(pCaps->dwUsedSize, kAddressCapsBufferSize);
}

TEST_F(LineCapsTest, AddressCapsFixedPart) {
    const LINEADDRESSCAPS* pCaps = Line(2).m_pLineAddressCaps;
    struct Value {
        const char* pszField;
        DWORD dwActual, dwExpected;
    };
    const Value values[] = {
        {"dwLineDeviceID", pCaps->dwLineDeviceID, 102},
        {"dwAddressSharing", pCaps->dwAddressSharing, LINEADDRESSSHARING_PRIVATE},
        {"dwAddressStates", pCaps->dwAddressStates, 0x21},
        {"dwCallInfoStates", pCaps->dwCallInfoStates, 0x38140},
        {"dwCallerIDFlags", pCaps->dwCallerIDFlags, 8},
        {"dwCalledIDFlags", pCaps->dwCalledIDFlags, 8},
        {"dwConnectedIDFlags", pCaps->dwConnectedIDFlags, 8},
        {"dwRedirectionIDFlags", pCaps->dwRedirectionIDFlags, 8},
        {"dwRedirectingIDFlags", pCaps->dwRedirectingIDFlags, 8},
        {"dwCallStates", pCaps->dwCallStates, 0xC33B},
        {"dwDialToneModes", pCaps->dwDialToneModes, 1},
        {"dwBusyModes", pCaps->dwBusyModes, 0},
        {"dwDisconnectModes", pCaps->dwDisconnectModes, 1},
        {"dwMaxNumActiveCalls", pCaps->dwMaxNumActiveCalls, 1},
        {"dwMaxNumOnHoldCalls", pCaps->dwMaxNumOnHoldCalls, 0},
        {"dwMaxNumConference", pCaps->dwMaxNumConference, 2},
        {"dwMaxNumTransConf", pCaps->dwMaxNumTransConf, 3},
        {"dwAddrCapFlags", pCaps->dwAddrCapFlags, 0x20},
        {"dwCallFeatures", pCaps->dwCallFeatures, LINECALLFEATURE_DROP},
        {"dwMaxForwardEntries", pCaps->dwMaxForwardEntries, 1},
        {"dwMinFwdNumRings", pCaps->dwMinFwdNumRings, 0},
        {"dwMaxFwdNumRings", pCaps->dwMaxFwdNumRings, 5},
        {"dwAddressFeatures", pCaps->dwAddressFeatures, LINEADDRFEATURE_MAKECALL},
        {"dwCallFeatures2", pCaps->dwCallFeatures2, 0},
        {"dwConnectedModes", pCaps->dwConnectedModes, 1},
        {"dwAvailableMediaModes", pCaps->dwAvailableMediaModes, 4},
        {"dwAddressSize", pCaps->dwAddressSize, 6},
        {"dwUsedSize", pCaps->dwUsedSize, 236},
    };
    for (const Value& v : values) EXPECT_EQ(v.dwActual, v.dwExpected) << v.pszField;
}

TEST_F(LineCapsTest, StatusRecordsOfAnIdleLine) {
    const LINEDEVSTATUS* pDev = Line(0).m_pLineDevStatus;
    EXPECT_EQ(pDev->dwTotalSize, 88u);
    EXPECT_EQ(pDev->dwNeededSize, 88u);
    EXPECT_EQ(pDev->dwUsedSize, 88u);
    EXPECT_EQ(pDev->dwOpenMediaModes, 4u);
    EXPECT_EQ(pDev->dwRoamMode, static_cast<DWORD>(LINEROAMMODE_HOME));
    EXPECT_EQ(pDev->dwDevStatusFlags, 5u);
    EXPECT_EQ(pDev->dwNumActiveCalls, 0u);
    EXPECT_EQ(pDev->dwLineFeatures, static_cast<DWORD>(LINEFEATURE_MAKECALL));
    const LINEADDRESSSTATUS* pAddress = Line(0).m_pLineAddressStatus;
    EXPECT_EQ(pAddress->dwTotalSize, 128u);
    EXPECT_EQ(pAddress->dwNeededSize, 128u);
    EXPECT_EQ(pAddress->dwUsedSize, 128u);
    EXPECT_EQ(pAddress->dwAddressFeatures, static_cast<DWORD>(LINEADDRFEATURE_MAKECALL));
}

TEST_F(LineCapsTest, NewCallRecords) {
    HTAPILINE htLine = OpenLine(1);
    LONG k = GenerateNewCall(1, nullptr, LINECALLORIGIN_INBOUND, 3, 42, -1);
    const LINECALLINFO* pInfo = Call(1, k)->m_pLineCallInfo;
    struct Value {
        const char* pszField;
        DWORD dwActual, dwExpected;
    };
    const Value values[] = {
        {"dwTotalSize", pInfo->dwTotalSize, 724},
        {"dwNeededSize", pInfo->dwNeededSize, 724},
        {"dwUsedSize", pInfo->dwUsedSize, 724},
        {"hLine", pInfo->hLine, static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(htLine))},
        {"dwLineDeviceID", pInfo->dwLineDeviceID, 101},
        {"dwAddressID", pInfo->dwAddressID, 0},
        {"dwBearerMode", pInfo->dwBearerMode, 1},
        {"dwRate", pInfo->dwRate, 64000},
        {"dwMediaMode", pInfo->dwMediaMode, 4},
        {"dwCallID", pInfo->dwCallID, 42},
        {"dwCallStates", pInfo->dwCallStates, 0xC33B},
        {"dwMonitorMediaModes", pInfo->dwMonitorMediaModes, 4},
        {"dwOrigin", pInfo->dwOrigin, LINECALLORIGIN_INBOUND},
        {"dwReason", pInfo->dwReason, LINECALLREASON_DIRECT},
        {"dwTrunk", pInfo->dwTrunk, 0xFFFFFFFF},
        {"dwCallerIDFlags", pInfo->dwCallerIDFlags, 8},
        {"dwCalledIDFlags", pInfo->dwCalledIDFlags, 8},
        {"dwConnectedIDFlags", pInfo->dwConnectedIDFlags, 8},
        {"dwRedirectionIDFlags", pInfo->dwRedirectionIDFlags, 0x40},
        {"dwRedirectingIDFlags", pInfo->dwRedirectingIDFlags, 0x40},
        // An inbound call's own line is the called party.
        {"dwCalledIDSize", pInfo->dwCalledIDSize, 6},
        {"dwCalledIDOffset", pInfo->dwCalledIDOffset, 324 + 2 * 40},
        {"dwCallerIDSize", pInfo->dwCallerIDSize, 0},
    };
    for (const Value& v : values) EXPECT_EQ(v.dwActual, v.dwExpected) << v.pszField;
    EXPECT_EQ(TextAt(pInfo, 324 + 80), L"22");

    const LINECALLSTATUS* pStatus = Call(1, k)->m_pLineCallStatus;
    EXPECT_EQ(pStatus->dwTotalSize, 56u);
    EXPECT_EQ(pStatus->dwCallState, static_cast<DWORD>(LINECALLSTATE_UNKNOWN));
    EXPECT_EQ(pStatus->dwCallPrivilege, static_cast<DWORD>(LINECALLPRIVILEGE_MONITOR));
    EXPECT_EQ(pStatus->dwCallFeatures, static_cast<DWORD>(LINECALLFEATURE_DROP));
    EXPECT_NE(pStatus->tStateEntryTime.wYear, 0);
}

TEST_F(LineCapsTest, OriginDecidesWhereTheOwnAddressGoes) {
    struct Case {
        DWORD dwOrigin;
        DWORD dwCallerSize, dwCalledSize;
    };
    const Case cases[] = {
        {LINECALLORIGIN_OUTBOUND, 6, 0}, {LINECALLORIGIN_INTERNAL, 0, 6}, {LINECALLORIGIN_EXTERNAL, 0, 6},
        {LINECALLORIGIN_INBOUND, 0, 6},  {LINECALLORIGIN_CONFERENCE, 0, 0},
    };
    for (const Case& c : cases) {
        LONG k = GenerateNewCall(0, nullptr, c.dwOrigin, 0, 0, -1);
        ASSERT_EQ(k, 0);
        EXPECT_EQ(Call(0, 0)->m_pLineCallInfo->dwCallerIDSize, c.dwCallerSize) << std::hex << c.dwOrigin;
        EXPECT_EQ(Call(0, 0)->m_pLineCallInfo->dwCalledIDSize, c.dwCalledSize) << std::hex << c.dwOrigin;
        RemovePhoneCallSilent(Call(0, 0));
    }
}

TEST_F(LineCapsTest, LongCallerNumberKeeps19Digits) {
    LONG k = AddCall(0, 0);
    PhoneCall* pCall = Call(0, k);
    const wchar_t* pszNumber = L"1234567890123456789012345";
    EXPECT_NE(InsertNumberToCallInfo(pCall, 0, pszNumber, 1), 0u);
    EXPECT_EQ(pCall->m_pLineCallInfo->dwCallerIDSize, 40u);
    EXPECT_EQ(pCall->m_pLineCallInfo->dwCallerIDOffset, 324u);
    EXPECT_EQ(TextAt(pCall->m_pLineCallInfo, 324), L"1234567890123456789");
    // The neighbouring slot is untouched.
    EXPECT_EQ(TextAt(pCall->m_pLineCallInfo, 364), L"");
    EXPECT_EQ(InsertNumberToCallInfo(pCall, 0, pszNumber, 1), 0u);
}

TEST_F(LineCapsTest, SameNumberTwiceReportsAChangeOnlyTheFirstTime) {
    const DWORD slots[] = {0, 2, 4};
    for (DWORD dwIndex : slots) {
        LONG k = AddCall(1, 0);
        PhoneCall* pCall = Call(1, k);
        EXPECT_NE(InsertNumberToCallInfo(pCall, dwIndex, L"0301234", 1), 0u) << dwIndex;
        EXPECT_EQ(InsertNumberToCallInfo(pCall, dwIndex, L"0301234", 1), 0u) << dwIndex;
        EXPECT_NE(InsertNumberToCallInfo(pCall, dwIndex, L"0301235", 1), 0u) << dwIndex;
        RemovePhoneCallSilent(pCall);
    }
}

TEST_F(LineCapsTest, NumberWithoutSizeIsWrittenButNotAnnounced) {
    LONG k = AddCall(0, 0);
    PhoneCall* pCall = Call(0, k);
    EXPECT_EQ(InsertNumberToCallInfo(pCall, 4, L"555", 0), 0u);
    EXPECT_EQ(TextAt(pCall->m_pLineCallInfo, 324 + 160), L"555");
    EXPECT_EQ(pCall->m_pLineCallInfo->dwConnectedIDSize, 0u);
    EXPECT_EQ(InsertNumberToCallInfo(nullptr, 0, L"555", 1), 0u);
    EXPECT_EQ(InsertNumberToCallInfo(pCall, 10, L"555", 1), 0u);
    EXPECT_EQ(CompareCallNumber(nullptr, 0, L"555"), 0);
}

TEST(CopyTapiData, WritesBoundedTerminatedTextAndReturnsItsSize) {
    struct Case {
        const wchar_t* pszText;
        DWORD dwMaxLen, dwCloseZeros;
        DWORD dwExpectedSize;
        const wchar_t* pszExpected;
    };
    const Case cases[] = {
        {L"abc", 20, 1, 8, L"abc"},
        {L"abcdef", 4, 1, 8, L"abc"},
        {L"abc", 20, 0, 6, L"abc"},
        {L"abcdef", 4, 0, 8, L"abc"},
        {L"", 20, 1, 2, L""},
    };
    for (const Case& c : cases) {
        BYTE buffer[64];
        std::memset(buffer, 0xCC, sizeof(buffer));
        EXPECT_EQ(CopyTapiDataIn(buffer, 8, c.pszText, c.dwMaxLen, c.dwCloseZeros), c.dwExpectedSize);
        EXPECT_EQ(TextAt(buffer, 8), c.pszExpected);
        EXPECT_EQ(buffer[8 + 2 * c.dwMaxLen], 0xCC) << "wrote past dwMaxLen units";
    }
    BYTE buffer[64] = {};
    EXPECT_EQ(CopyTapiDataIn(nullptr, 0, L"abc", 20, 1), 0u);
    EXPECT_EQ(CopyTapiDataIn(buffer, 0, L"abc", 0, 1), 0u);
}

TEST(CopyTapiData, HashSeparatedListBecomesNulSeparated) {
    BYTE buffer[64];
    std::memset(buffer, 0xCC, sizeof(buffer));
    EXPECT_EQ(CopyTapiDataIn(buffer, 0, L"tapi/line#wave", 30, 2), 32u);
    EXPECT_EQ(TextAt(buffer, 0), L"tapi/line");
    EXPECT_EQ(TextAt(buffer, 20), L"wave");
    EXPECT_EQ(UnitAt(buffer, 28), 0);
    EXPECT_EQ(UnitAt(buffer, 30), 0);
}

TEST(CopyTapiData, ReadsTextBack) {
    BYTE buffer[64] = {};
    CopyTapiDataIn(buffer, 4, L"0301234", 20, 1);
    wchar_t szText[20];
    EXPECT_EQ(CopyTapiDataOut(buffer, 4, szText, 20), 16u);
    EXPECT_STREQ(szText, L"0301234");
    wchar_t szShort[4];
    EXPECT_EQ(CopyTapiDataOut(buffer, 4, szShort, 4), 8u);
    EXPECT_STREQ(szShort, L"030");
    EXPECT_EQ(CopyTapiDataOut(nullptr, 4, szText, 20), 0u);
    EXPECT_EQ(CopyTapiDataOut(buffer, 4, szText, 0), 0u);
}

TEST_F(LineCapsTest, LineNamesFollowTheLineFormat) {
    BuildLines({L"23"});
    g_Extensions[0].name = L"Office";
    struct Case {
        const wchar_t* pszFormat;
        const wchar_t* pszExpected;
    };
    const Case cases[] = {
        {L"1", L"ORVO Lena Muster Office"}, {L"2", L"ORVO Lena Muster 23: Office"},
        {L"0", L"ORVO Lena Muster 23"},     {L"", L"ORVO Lena Muster 23"},
        {L"x", L"ORVO Lena Muster 23"},
    };
    for (const Case& c : cases) {
        StrCopy(g_pProviderSettings->LineFormat, c.pszFormat);
        EXPECT_STREQ(g_Manager.GetFirstName(0), c.pszExpected) << "format " << testing::PrintToString(std::wstring(c.pszFormat));
    }
    EXPECT_STREQ(g_Manager.GetFirstName(1), L"");
    EXPECT_STREQ(g_Manager.GetFirstAddress(0), L"23");
    EXPECT_STREQ(g_Manager.GetFirstAddress(5), L"");
    EXPECT_STREQ(g_Manager.GetFirstDeviceNumber(0), L"23");

    StrCopy(g_pProviderSettings->LineFormat, L"2");
    LineCapsInit();
    EXPECT_STREQ(Line(0).m_szName, L"ORVO Lena Muster 23: Office");
}

TEST_F(LineCapsTest, LineCapsDeleteClearsEveryLine) {
    AddCall(0, 0);
    RemoveAllCalls();
    LineCapsDelete();
    for (LONG pos = 0; pos < 3; ++pos) {
        EXPECT_EQ(Line(pos).m_pLineDevCaps, nullptr);
        EXPECT_EQ(Line(pos).m_pLineAddressStatus, nullptr);
        EXPECT_STREQ(Line(pos).m_szAddress, L"");
    }
}

}  // namespace
