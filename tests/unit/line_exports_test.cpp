// The line device exports, driven directly over a device set put in place.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/BoundedString.h"
#include "model/CallFeatures.h"
#include "model/LineCaps.h"
#include "model/ProviderLock.h"
#include "model/ProviderState.h"
#include "provider/TspiExports.h"
#include "support/LineModelFixture.h"
#include "support/TraceCapture.h"

namespace {

// One refusal: the result, the trace line naming its check, and an unchanged model.
struct Refusal {
    const char* pszName;
    std::function<LONG()> run;
    LONG lExpected;
    std::wstring abortLine;
};

class LineExportsTest : public LineModelFixture {
protected:
    void SetUp() override {
        LineModelFixture::SetUp();
        m_pReadOnly = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READONLY);
    }
    void TearDown() override {
        VirtualFree(m_pReadOnly, 0, MEM_RELEASE);
        LineModelFixture::TearDown();
    }

    // Every byte the model keeps for the lines, to show that a refusal changed nothing.
    static std::vector<BYTE> Snapshot() {
        std::vector<BYTE> bytes;
        auto append = [&](const void* p, size_t cb) {
            if (p == nullptr) return;
            const BYTE* pb = static_cast<const BYTE*>(p);
            bytes.insert(bytes.end(), pb, pb + cb);
        };
        for (DWORD pos = 0; pos < g_dwDeviceCount; ++pos) {
            const PhoneLine& line = g_PhoneLines[pos];
            append(&line, sizeof(line));
            append(line.m_pLineDevCaps, kDevCapsBufferSize);
            append(line.m_pLineAddressCaps, kAddressCapsBufferSize);
            append(line.m_pLineDevStatus, sizeof(LINEDEVSTATUS));
            append(line.m_pLineAddressStatus, kAddressStatusBufferSize);
            for (const PhoneCall* pCall : line.m_pPhoneCall) {
                if (pCall == nullptr) continue;
                append(pCall, sizeof(PhoneCall));
                append(pCall->m_pLineCallInfo, kCallInfoBufferSize);
                append(pCall->m_pLineCallStatus, sizeof(LINECALLSTATUS));
            }
        }
        append(&g_pLineEventProc, sizeof(g_pLineEventProc));
        return bytes;
    }

    HDRVLINE Handle(LONG pos) { return reinterpret_cast<HDRVLINE>(&Line(pos)); }
    HDRVCALL CallHandle(LONG pos, LONG k) { return reinterpret_cast<HDRVCALL>(Call(pos, k)); }

    void ExpectRefusals(const std::vector<Refusal>& refusals) {
        for (const Refusal& r : refusals) {
            SCOPED_TRACE(r.pszName);
            std::vector<BYTE> before = Snapshot();
            CTraceCapture capture(6);
            EXPECT_EQ(r.run(), r.lExpected);
            EXPECT_TRUE(capture.Contains(r.abortLine)) << testing::PrintToString(r.abortLine);
            EXPECT_TRUE(Snapshot() == before) << "the model changed";
            EXPECT_TRUE(LockIsFree());
        }
    }

    void* m_pReadOnly = nullptr;
};

// The trace line of a refusal: "Func.<export>.Abort.Error.<error>.#<check>".
std::wstring Abort(const wchar_t* pszExport, const wchar_t* pszError, int nCheck) {
    return std::wstring(L"Func.") + pszExport + L".Abort.Error." + pszError + L".#" + std::to_wstring(nCheck);
}

// One row per kind of check; the other exports run the same kinds.
TEST_F(LineExportsTest, OpenRefusesInItsCheckOrder) {
    HDRVLINE hdLine = nullptr;
    HTAPILINE htLine = reinterpret_cast<HTAPILINE>(static_cast<ULONG_PTR>(0x1234));
    auto open = [&](DWORD dwDeviceID, HTAPILINE ht, HDRVLINE* phd) {
        return [=] { return TSPI_lineOpen(dwDeviceID, ht, phd, 0x00020002, &CEventRecorder::SecondLineEvent); };
    };
    const wchar_t* e = L"TSPI_lineOpen";
    ExpectRefusals({
        {"null target and zero handle", open(100, nullptr, nullptr), LINEERR_INVALPOINTER, Abort(e, L"LINEERR_INVALPOINTER", 1)},
        {"read-only target", open(100, htLine, static_cast<HDRVLINE*>(m_pReadOnly)), LINEERR_INVALPOINTER,
         Abort(e, L"LINEERR_INVALPOINTER", 1)},
        {"zero handle", open(100, nullptr, &hdLine), LINEERR_INVALLINEHANDLE, Abort(e, L"LINEERR_INVALLINEHANDLE", 2)},
        {"past the lines", open(103, htLine, &hdLine), LINEERR_BADDEVICEID, Abort(e, L"LINEERR_BADDEVICEID", 3)},
    });
    // A line whose records could not be allocated cannot be opened.
    auto* pSaved = std::exchange(Line(1).m_pLineDevCaps, nullptr);
    ExpectRefusals({{"missing record", open(101, htLine, &hdLine), LINEERR_NOMEM, Abort(e, L"LINEERR_NOMEM", 4)}});
    Line(1).m_pLineDevCaps = pSaved;
    EXPECT_EQ(hdLine, nullptr);
    EXPECT_EQ(Line(1).m_htLine, nullptr);
}

// Closing ends the line's calls without telling TAPI about them.
TEST_F(LineExportsTest, OpenAndCloseALine) {
    HTAPILINE htLine = reinterpret_cast<HTAPILINE>(static_cast<ULONG_PTR>(0x4321));
    HDRVLINE hdLine = nullptr;
    EXPECT_EQ(TSPI_lineOpen(102, htLine, &hdLine, 0x00020002, &CEventRecorder::LineEvent), 0);
    EXPECT_EQ(hdLine, Handle(2));
    EXPECT_EQ(Line(2).m_htLine, htLine);
    EXPECT_EQ(Line(2).m_pLineDevStatus->dwNumOpens, 1u);
    EXPECT_EQ(g_pLineEventProc, &CEventRecorder::LineEvent);
    AddCall(2, LINECALLSTATE_CONNECTED);
    CEventRecorder::Reset();

    EXPECT_EQ(TSPI_lineClose(hdLine), 0);
    EXPECT_EQ(Line(2).m_htLine, nullptr);
    EXPECT_EQ(Line(2).m_pLineDevStatus->dwNumOpens, 0u);
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(GetCallCount(2), 0u);
    EXPECT_EQ(Line(2).m_pLineDevStatus->dwNumActiveCalls, 0u);
    EXPECT_TRUE(LockIsFree());

    PhoneLine stray{};
    ExpectRefusals({{"not a line of the table", [&] { return TSPI_lineClose(reinterpret_cast<HDRVLINE>(&stray)); },
                     LINEERR_INVALLINEHANDLE, Abort(L"TSPI_lineClose", L"LINEERR_INVALLINEHANDLE", 1)}});
}

TEST_F(LineExportsTest, TheLatestOpenReceivesTheEventsOfAllLines) {
    HDRVLINE hdLine = nullptr;
    ASSERT_EQ(TSPI_lineOpen(100, reinterpret_cast<HTAPILINE>(static_cast<ULONG_PTR>(1)), &hdLine, 0x00020002,
                            &CEventRecorder::LineEvent), 0);
    ASSERT_EQ(TSPI_lineOpen(101, reinterpret_cast<HTAPILINE>(static_cast<ULONG_PTR>(2)), &hdLine, 0x00020002,
                            &CEventRecorder::SecondLineEvent), 0);
    CEventRecorder::Reset();
    AddCall(0, LINECALLSTATE_OFFERING);
    AddCall(1, LINECALLSTATE_OFFERING);
    ASSERT_FALSE(Events().empty());
    for (const RecordedEvent& event : Events()) EXPECT_NE(event.dwMsg & CEventRecorder::kSecondProc, 0u);
}

// Capability records: whole when they fit, else the fixed part without its
// string. Status records: whole when they fit, else only the needed size.
TEST_F(LineExportsTest, RecordsAnsweredInTheTapiManner) {
    ChangeLineName(0, L"", L"Lena");
    AddCall(1, LINECALLSTATE_CONNECTED);
    constexpr DWORD kUntouched = 0xCCCCCCCC;
    using Query = std::function<LONG(void*)>;
    const Query devCaps = [](void* p) { return TSPI_lineGetDevCaps(100, 0x00020002, 0, static_cast<LINEDEVCAPS*>(p)); };
    const Query addressCaps = [](void* p) { return TSPI_lineGetAddressCaps(101, 0, 0x00020002, 0, static_cast<LINEADDRESSCAPS*>(p)); };
    const Query devStatus = [&](void* p) { return TSPI_lineGetLineDevStatus(Handle(1), static_cast<LINEDEVSTATUS*>(p)); };
    const Query addressStatus = [&](void* p) { return TSPI_lineGetAddressStatus(Handle(1), 0, static_cast<LINEADDRESSSTATUS*>(p)); };
    struct Case {
        const char* pszName;
        Query query;
        const void* pSource;
        DWORD dwTotalSize, dwNeeded, dwUsed;
        size_t cbStringFields;  // offset of the string's size/offset pair
    };
    const Case cases[] = {
        {"devcaps", devCaps, Line(0).m_pLineDevCaps, 1024, 396, 396, 0},
        {"devcaps fixed part", devCaps, Line(0).m_pLineDevCaps, 268, 396, 268, offsetof(LINEDEVCAPS, dwLineNameSize)},
        {"address caps", addressCaps, Line(1).m_pLineAddressCaps, 1024, 236, 236, 0},
        {"address caps fixed part", addressCaps, Line(1).m_pLineAddressCaps, 228, 236, 228,
         offsetof(LINEADDRESSCAPS, dwAddressSize)},
        {"line status", devStatus, Line(1).m_pLineDevStatus, 200, 88, 88, 0},
        {"line status too small", devStatus, Line(1).m_pLineDevStatus, 87, 88, kUntouched, 0},
        {"address status", addressStatus, Line(1).m_pLineAddressStatus, 128, 128, 128, 0},
        {"address status too small", addressStatus, Line(1).m_pLineAddressStatus, 64, 128, kUntouched, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        std::vector<BYTE> buffer(1024, 0xCC);
        auto* pHeader = reinterpret_cast<DWORD*>(buffer.data());
        pHeader[0] = c.dwTotalSize;
        EXPECT_EQ(c.query(buffer.data()), 0);
        EXPECT_EQ(pHeader[0], c.dwTotalSize);
        EXPECT_EQ(pHeader[1], c.dwNeeded);
        EXPECT_EQ(pHeader[2], c.dwUsed);
        if (c.dwUsed == kUntouched) continue;
        EXPECT_EQ(buffer[c.dwUsed], 0xCC);
        // Everything after the header as in the line's record, but for a string that did not fit.
        const size_t cbFields = c.cbStringFields != 0 ? c.cbStringFields : c.dwUsed;
        const BYTE* pSource = static_cast<const BYTE*>(c.pSource);
        EXPECT_EQ(std::memcmp(buffer.data() + 12, pSource + 12, cbFields - 12), 0);
        if (c.cbStringFields == 0) continue;
        EXPECT_EQ(pHeader[c.cbStringFields / 4], 0u);
        EXPECT_EQ(pHeader[c.cbStringFields / 4 + 1], 0u);
        EXPECT_EQ(std::memcmp(buffer.data() + cbFields + 8, pSource + cbFields + 8, c.dwUsed - cbFields - 8), 0);
    }
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(reinterpret_cast<const BYTE*>(Line(0).m_pLineDevCaps) + 268)),
              L"Lena");
    EXPECT_EQ(Line(1).m_pLineDevStatus->dwNumActiveCalls, 1u);
}

// The kinds of check not already met when opening a line.
TEST_F(LineExportsTest, RecordQueriesRefuseInTheirCheckOrder) {
    BYTE buffer[1024] = {};
    reinterpret_cast<DWORD*>(buffer)[0] = sizeof(buffer);
    PhoneLine stray{};
    HDRVLINE hdStray = reinterpret_cast<HDRVLINE>(&stray);
    ExpectRefusals({
        {"addresscaps address 1 on a bad device",
         [&] { return TSPI_lineGetAddressCaps(3, 1, 0, 0, reinterpret_cast<LINEADDRESSCAPS*>(buffer)); },
         LINEERR_INVALADDRESSID, Abort(L"TSPI_lineGetAddressCaps", L"LINEERR_INVALADDRESSID", 1)},
        {"line status stray line", [&] { return TSPI_lineGetLineDevStatus(hdStray, reinterpret_cast<LINEDEVSTATUS*>(buffer)); },
         LINEERR_INVALPOINTER, Abort(L"TSPI_lineGetLineDevStatus", L"LINEERR_INVALPOINTER", 3)},
    });
}

TEST_F(LineExportsTest, GetIdAnswersTheDeviceIdOfALineOrCall) {
    AddCall(2, LINECALLSTATE_OFFERING);
    auto expectID = [](HDRVLINE hdLine, HDRVCALL hdCall, DWORD dwSelect, const wchar_t* pszClass, DWORD dwExpected) {
        std::vector<BYTE> buffer(64, 0xCC);
        auto* pVar = reinterpret_cast<VARSTRING*>(buffer.data());
        pVar->dwTotalSize = 64;
        EXPECT_EQ(TSPI_lineGetID(hdLine, 0, hdCall, dwSelect, pVar, pszClass, nullptr), 0);
        EXPECT_EQ(pVar->dwTotalSize, 64u);
        EXPECT_EQ(pVar->dwNeededSize, 28u);
        EXPECT_EQ(pVar->dwUsedSize, 28u);
        EXPECT_EQ(pVar->dwStringFormat, static_cast<DWORD>(STRINGFORMAT_BINARY));
        EXPECT_EQ(pVar->dwStringSize, 4u);
        EXPECT_EQ(pVar->dwStringOffset, 24u);
        DWORD dwDeviceID;
        std::memcpy(&dwDeviceID, buffer.data() + 24, 4);
        EXPECT_EQ(dwDeviceID, dwExpected);
        EXPECT_EQ(buffer[28], 0xCC);
    };
    expectID(Handle(1), nullptr, LINECALLSELECT_LINE, L"TAPI/LINE", 101);
    expectID(nullptr, CallHandle(2, 0), LINECALLSELECT_CALL, L"Tapi/Line", 102);
}

TEST_F(LineExportsTest, GetIdRefusesOtherClassesAndAnswersOnlyTheSizeToASmallBuffer) {
    std::vector<BYTE> buffer(64, 0xCC);
    auto* pVar = reinterpret_cast<VARSTRING*>(buffer.data());
    pVar->dwTotalSize = 64;
    HDRVLINE hdLine = Handle(0);
    const std::wstring id = L"Func.TSPI_lineGetID.Abort.Error.";
    ExpectRefusals({{"wave class", [=] { return TSPI_lineGetID(hdLine, 0, nullptr, LINECALLSELECT_LINE, pVar, L"wave/in", nullptr); },
                     LINEERR_INVALDEVICECLASS, id + L"LINEERR_INVALDEVICECLASS wave/in"}});
    // Too small: success with the needed size alone.
    pVar->dwTotalSize = 24;
    CTraceCapture capture(6);
    EXPECT_EQ(TSPI_lineGetID(hdLine, 0, nullptr, LINECALLSELECT_LINE, pVar, L"tapi/line", nullptr), 0);
    EXPECT_EQ(pVar->dwNeededSize, 28u);
    EXPECT_EQ(pVar->dwUsedSize, 0xCCCCCCCCu);
    EXPECT_EQ(buffer[24], 0xCC);
    EXPECT_TRUE(capture.Contains(id + L"LINEERR_STRUCTURETOOSMALL.#3"));
}

TEST_F(LineExportsTest, MonitorDigitsNeedsItsFeature) {
    AddCall(0, LINECALLSTATE_CONNECTED);
    HDRVCALL hdCall = CallHandle(0, 0);
    const std::wstring md = L"Func.TSPI_lineMonitorDigits.Abort.Error.";
    wchar_t szFeatureCheck[64];
    StrFormat(szFeatureCheck, L"FeatureCheck 0x%08X", static_cast<DWORD>(LINEERR_OPERATIONUNAVAIL));
    ExpectRefusals(
        {{"feature", [=] { return TSPI_lineMonitorDigits(hdCall, 0); }, LINEERR_OPERATIONUNAVAIL, md + szFeatureCheck}});

    EnableAllCallFeatures(0);
    UpdateAllFeatures(0, 0);
    EXPECT_EQ(TSPI_lineMonitorDigits(hdCall, LINEDIGITMODE_DTMF), 0);
    EXPECT_TRUE(Call(0, 0)->m_bMonitorDigits);
}

// The extension ID is all zero (no extensions); only voice can be detected.
TEST_F(LineExportsTest, ExtensionIdIsZeroedAndOnlyVoiceIsDetected) {
    LINEEXTENSIONID id;
    std::memset(&id, 0x55, sizeof(id));
    EXPECT_EQ(TSPI_lineGetExtensionID(100, 0x00020002, &id), 0);
    EXPECT_EQ(id.dwExtensionID0 | id.dwExtensionID1 | id.dwExtensionID2 | id.dwExtensionID3, 0u);
    EXPECT_EQ(TSPI_lineSetDefaultMediaDetection(Handle(0), LINEMEDIAMODE_INTERACTIVEVOICE), 0);
    EXPECT_EQ(TSPI_lineSetDefaultMediaDetection(Handle(0), LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_DATAMODEM),
              LINEERR_INVALMEDIAMODE);
}

}  // namespace
