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

TEST_F(LineCapsTest, LineNamesAreJoinedAndCutTo62Characters) {
    ChangeLineName(2, L"Base ", L"Name");
    EXPECT_STREQ(Line(2).m_szName, L"Base Name");
    EXPECT_EQ(TextAt(Line(2).m_pLineDevCaps, 268), L"Base Name");

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

// The fields TAPI and applications decide by; sizes are checked with the strings.
TEST_F(LineCapsTest, FixedPartsOfTheLineRecords) {
    const LINEDEVCAPS* pCaps = Line(1).m_pLineDevCaps;
    const LINEADDRESSCAPS* pAddressCaps = Line(1).m_pLineAddressCaps;
    const LINEDEVSTATUS* pDev = Line(1).m_pLineDevStatus;
    ExpectValues({
        {"dwPermanentLineID", pCaps->dwPermanentLineID, (7u << 16) | 101u},
        {"dwStringFormat", pCaps->dwStringFormat, STRINGFORMAT_UNICODE},
        {"dwAddressModes", pCaps->dwAddressModes, LINEADDRESSMODE_DIALABLEADDR},
        {"dwNumAddresses", pCaps->dwNumAddresses, 1},
        {"dwMediaModes", pCaps->dwMediaModes, LINEMEDIAMODE_INTERACTIVEVOICE},
        {"dwMaxNumActiveCalls", pCaps->dwMaxNumActiveCalls, 3},
        {"dwLineStates", pCaps->dwLineStates, 0x801},
        {"m_dwAddressStates", Line(1).m_dwAddressStates, 0x21},
        {"m_dwLineStates", Line(1).m_dwLineStates, 0x801},
        {"dwLineDeviceID", pAddressCaps->dwLineDeviceID, 101},
        {"dwCallInfoStates", pAddressCaps->dwCallInfoStates, 0x38140},
        {"dwCallStates", pAddressCaps->dwCallStates, 0xC33B},
        {"dwCallFeatures", pAddressCaps->dwCallFeatures, LINECALLFEATURE_DROP},
        {"dwAddressFeatures", pAddressCaps->dwAddressFeatures, LINEADDRFEATURE_MAKECALL},
        {"dwDevStatusFlags", pDev->dwDevStatusFlags, LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE},
        {"dev dwUsedSize", pDev->dwUsedSize, 88},
        {"address status dwUsedSize", Line(1).m_pLineAddressStatus->dwUsedSize, 128},
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

TEST_F(LineCapsTest, NewCallRecords) {
    HTAPILINE htLine = OpenLine(1);
    LONG k = GenerateNewCall(1, nullptr, LINECALLORIGIN_INBOUND, 3, 42, -1);
    const LINECALLINFO* pInfo = Call(1, k)->m_pLineCallInfo;
    ExpectValues({
        {"dwTotalSize", pInfo->dwTotalSize, 724},
        {"dwNeededSize", pInfo->dwNeededSize, 724},
        {"dwUsedSize", pInfo->dwUsedSize, 724},
        {"hLine", pInfo->hLine, static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(htLine))},
        {"dwLineDeviceID", pInfo->dwLineDeviceID, 101},
        {"dwBearerMode", pInfo->dwBearerMode, LINEBEARERMODE_VOICE},
        {"dwMediaMode", pInfo->dwMediaMode, LINEMEDIAMODE_INTERACTIVEVOICE},
        {"dwCallID", pInfo->dwCallID, 42},
        {"dwOrigin", pInfo->dwOrigin, LINECALLORIGIN_INBOUND},
        {"dwReason", pInfo->dwReason, LINECALLREASON_DIRECT},
        {"dwCallerIDFlags", pInfo->dwCallerIDFlags, LINECALLPARTYID_ADDRESS},
        {"dwRedirectionIDFlags", pInfo->dwRedirectionIDFlags, LINECALLPARTYID_UNAVAIL},
        // An inbound call's own line is the called party, in the third number slot.
        {"dwCalledIDSize", pInfo->dwCalledIDSize, 6},
        {"dwCalledIDOffset", pInfo->dwCalledIDOffset, 324 + 2 * 40},
        {"dwCallerIDSize", pInfo->dwCallerIDSize, 0},
    });
    EXPECT_EQ(TextAt(pInfo, 324 + 80), L"22");

    const LINECALLSTATUS* pStatus = Call(1, k)->m_pLineCallStatus;
    ExpectValues({{"dwTotalSize", pStatus->dwTotalSize, 56},
                  {"dwCallState", pStatus->dwCallState, LINECALLSTATE_UNKNOWN},
                  {"dwCallPrivilege", pStatus->dwCallPrivilege, LINECALLPRIVILEGE_MONITOR},
                  {"dwCallFeatures", pStatus->dwCallFeatures, LINECALLFEATURE_DROP}});
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

TEST_F(LineCapsTest, NumberSlotsKeep19CharactersAndReportChanges) {
    PhoneCall* pCall = Call(0, AddCall(0, 0));
    const wchar_t* pszNumber = L"1234567890123456789012345";
    EXPECT_NE(InsertNumberToCallInfo(pCall, 0, pszNumber, 1), 0u);
    EXPECT_EQ(pCall->m_pLineCallInfo->dwCallerIDSize, 40u);
    EXPECT_EQ(pCall->m_pLineCallInfo->dwCallerIDOffset, 324u);
    EXPECT_EQ(TextAt(pCall->m_pLineCallInfo, 324), L"1234567890123456789");
    EXPECT_EQ(TextAt(pCall->m_pLineCallInfo, 364), L"");  // the neighbouring slot is untouched
    EXPECT_EQ(InsertNumberToCallInfo(pCall, 0, pszNumber, 1), 0u);

    // The same number again is no change; another one is.
    EXPECT_NE(InsertNumberToCallInfo(pCall, 4, L"0301234", 1), 0u);
    EXPECT_EQ(InsertNumberToCallInfo(pCall, 4, L"0301234", 1), 0u);
    EXPECT_NE(InsertNumberToCallInfo(pCall, 4, L"0301235", 1), 0u);
    EXPECT_EQ(pCall->m_pLineCallInfo->dwConnectedIDOffset, 324u + 4 * 40);

    // Without the size flag the text is written but neither announced nor sized.
    EXPECT_EQ(InsertNumberToCallInfo(pCall, 6, L"555", 0), 0u);
    EXPECT_EQ(TextAt(pCall->m_pLineCallInfo, 324 + 6 * 40), L"555");
    EXPECT_EQ(pCall->m_pLineCallInfo->dwRedirectionIDSize, 0u);
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
    BYTE buffer[64];
    std::memset(buffer, 0xCC, sizeof(buffer));
    EXPECT_EQ(CopyTapiDataIn(nullptr, 0, L"abc", 20, 1), 0u);
    EXPECT_EQ(CopyTapiDataIn(buffer, 0, L"abc", 0, 1), 0u);

    // Two closing zeros make a "#"-separated list NUL-separated.
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
        {L"1", L"ORVO Lena Muster Office"},
        {L"2", L"ORVO Lena Muster 23: Office"},
        {L"x", L"ORVO Lena Muster 23"},
    };
    for (const Case& c : cases) {
        StrCopy(g_pProviderSettings->LineFormat, c.pszFormat);
        EXPECT_STREQ(g_Manager.GetFirstName(0), c.pszExpected) << "format " << testing::PrintToString(std::wstring(c.pszFormat));
    }
    EXPECT_STREQ(g_Manager.GetFirstName(1), L"");
    EXPECT_STREQ(g_Manager.GetFirstAddress(0), L"23");
    EXPECT_STREQ(g_Manager.GetFirstAddress(5), L"");

    StrCopy(g_pProviderSettings->LineFormat, L"2");
    LineCapsInit();
    EXPECT_STREQ(Line(0).m_szName, L"ORVO Lena Muster 23: Office");
}

TEST_F(LineCapsTest, LineCapsDeleteClearsEveryLine) {
    LineCapsDelete();
    for (LONG pos = 0; pos < 3; ++pos) {
        EXPECT_EQ(Line(pos).m_pLineDevCaps, nullptr);
        EXPECT_EQ(Line(pos).m_pLineAddressStatus, nullptr);
        EXPECT_STREQ(Line(pos).m_szAddress, L"");
    }
}

}  // namespace
