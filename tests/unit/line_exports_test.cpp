// The line device exports, driven directly over a device set put in place.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/BoundedString.h"
#include "manager/ProviderLock.h"
#include "manager/ProviderState.h"
#include "model/CallFeatures.h"
#include "model/EventDelivery.h"
#include "model/LineCaps.h"
#include "provider/TspiExports.h"
#include "support/LineModelFixture.h"
#include "support/TestFiles.h"
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

    // Whether another thread can take the ProviderLock now (it is re-entrant for this one).
    static bool LockIsFree() {
        HANDLE hThread = CreateThread(
            nullptr, 0,
            [](LPVOID) -> DWORD {
                if (!TryEnterCriticalSection(&ProviderLock)) return 0;
                LeaveCriticalSection(&ProviderLock);
                return 1;
            },
            nullptr, 0, nullptr);
        WaitForSingleObject(hThread, 10000);
        DWORD dwFree = 0;
        GetExitCodeThread(hThread, &dwFree);
        CloseHandle(hThread);
        return dwFree == 1;
    }

    HDRVLINE Handle(LONG pos) { return reinterpret_cast<HDRVLINE>(&Line(pos)); }
    HDRVCALL CallHandle(LONG pos, LONG k) { return reinterpret_cast<HDRVCALL>(Call(pos, k)); }

    // Runs body with one of the line's records taken away.
    template <typename T>
    void WithoutRecord(T*& pRecord, const std::function<void()>& body) {
        T* pSaved = pRecord;
        pRecord = nullptr;
        body();
        pRecord = pSaved;
    }

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

TEST_F(LineExportsTest, OpenRefusesInItsCheckOrder) {
    HDRVLINE hdLine = nullptr;
    HTAPILINE htLine = reinterpret_cast<HTAPILINE>(static_cast<ULONG_PTR>(0x1234));
    auto open = [&](DWORD dwDeviceID, HTAPILINE ht, HDRVLINE* phd) {
        return [=] { return TSPI_lineOpen(dwDeviceID, ht, phd, 0x00020002, &CEventRecorder::SecondLineEvent); };
    };
    const std::wstring prefix = L"Func.TSPI_lineOpen.Abort.Error.";
    ExpectRefusals({
        {"null target and zero handle", open(100, nullptr, nullptr), LINEERR_INVALPOINTER, prefix + L"LINEERR_INVALPOINTER.#1"},
        {"read-only target", open(100, htLine, static_cast<HDRVLINE*>(m_pReadOnly)), LINEERR_INVALPOINTER,
         prefix + L"LINEERR_INVALPOINTER.#1"},
        {"zero handle", open(100, nullptr, &hdLine), LINEERR_INVALLINEHANDLE, prefix + L"LINEERR_INVALLINEHANDLE.#2"},
        {"below the base", open(99, htLine, &hdLine), LINEERR_BADDEVICEID, prefix + L"LINEERR_BADDEVICEID.#3"},
        {"past the lines", open(103, htLine, &hdLine), LINEERR_BADDEVICEID, prefix + L"LINEERR_BADDEVICEID.#3"},
    });
    EXPECT_EQ(hdLine, nullptr);

    // A line whose records could not be allocated cannot be opened.
    auto missing = [&](int nCheck) {
        ExpectRefusals({{"missing record", open(101, htLine, &hdLine), LINEERR_NOMEM,
                         prefix + L"LINEERR_NOMEM.#" + std::to_wstring(nCheck)}});
    };
    WithoutRecord(Line(1).m_pLineDevCaps, [&] { missing(4); });
    WithoutRecord(Line(1).m_pLineDevStatus, [&] { missing(5); });
    WithoutRecord(Line(1).m_pLineAddressCaps, [&] { missing(6); });
    WithoutRecord(Line(1).m_pLineAddressStatus, [&] { missing(7); });
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
    const std::wstring abort = L"Func.TSPI_lineClose.Abort.Error.LINEERR_INVALLINEHANDLE.#1";
    ExpectRefusals({{"null", [] { return TSPI_lineClose(nullptr); }, LINEERR_INVALLINEHANDLE, abort},
                    {"not a line of the table", [&] { return TSPI_lineClose(reinterpret_cast<HDRVLINE>(&stray)); },
                     LINEERR_INVALLINEHANDLE, abort}});
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
    const Query addressCaps = [](void* p) {
        return TSPI_lineGetAddressCaps(101, 0, 0x00020002, 0, static_cast<LINEADDRESSCAPS*>(p));
    };
    const Query devStatus = [&](void* p) { return TSPI_lineGetLineDevStatus(Handle(1), static_cast<LINEDEVSTATUS*>(p)); };
    const Query addressStatus = [&](void* p) {
        return TSPI_lineGetAddressStatus(Handle(1), 0, static_cast<LINEADDRESSSTATUS*>(p));
    };
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

TEST_F(LineExportsTest, CapabilityQueriesRefuseInTheirCheckOrder) {
    BYTE buffer[1024];
    auto* pDevCaps = reinterpret_cast<LINEDEVCAPS*>(buffer);
    auto* pAddressCaps = reinterpret_cast<LINEADDRESSCAPS*>(buffer);
    auto* pReadOnly = m_pReadOnly;
    const std::wstring dev = L"Func.TSPI_lineGetDevCaps.Abort.Error.";
    const std::wstring addr = L"Func.TSPI_lineGetAddressCaps.Abort.Error.";
    ExpectRefusals({
        {"devcaps null", [] { return TSPI_lineGetDevCaps(100, 0, 0, nullptr); }, LINEERR_INVALPOINTER,
         dev + L"LINEERR_INVALPOINTER.#1"},
        {"devcaps read-only", [=] { return TSPI_lineGetDevCaps(100, 0, 0, static_cast<LINEDEVCAPS*>(pReadOnly)); },
         LINEERR_INVALPOINTER, dev + L"LINEERR_INVALPOINTER.#1"},
        {"devcaps bad device", [=] { return TSPI_lineGetDevCaps(3, 0, 0, pDevCaps); }, LINEERR_NODEVICE,
         dev + L"LINEERR_NODEVICE.#2"},
        {"addresscaps address 1 on a bad device", [=] { return TSPI_lineGetAddressCaps(3, 1, 0, 0, pAddressCaps); },
         LINEERR_INVALADDRESSID, addr + L"LINEERR_INVALADDRESSID.#1"},
        {"addresscaps null", [] { return TSPI_lineGetAddressCaps(100, 0, 0, 0, nullptr); }, LINEERR_INVALPOINTER,
         addr + L"LINEERR_INVALPOINTER.#2"},
        {"addresscaps bad device", [=] { return TSPI_lineGetAddressCaps(103, 0, 0, 0, pAddressCaps); }, LINEERR_NODEVICE,
         addr + L"LINEERR_NODEVICE.#3"},
    });

    pDevCaps->dwTotalSize = sizeof(buffer);
    WithoutRecord(Line(0).m_pLineDevCaps, [&] {
        ExpectRefusals({{"devcaps missing", [=] { return TSPI_lineGetDevCaps(100, 0, 0, pDevCaps); },
                         LINEERR_OPERATIONFAILED, dev + L"LINEERR_OPERATIONFAILED.#3"}});
    });
    WithoutRecord(Line(0).m_pLineAddressCaps, [&] {
        ExpectRefusals({{"addresscaps missing", [=] { return TSPI_lineGetAddressCaps(100, 0, 0, 0, pAddressCaps); },
                         LINEERR_OPERATIONFAILED, addr + L"LINEERR_OPERATIONFAILED.#4"}});
    });
}

TEST_F(LineExportsTest, StatusQueriesRefuseInTheirCheckOrder) {
    BYTE buffer[256] = {};
    reinterpret_cast<DWORD*>(buffer)[0] = sizeof(buffer);
    auto* pAddress = reinterpret_cast<LINEADDRESSSTATUS*>(buffer);
    auto* pDev = reinterpret_cast<LINEDEVSTATUS*>(buffer);
    PhoneLine stray{};
    HDRVLINE hdStray = reinterpret_cast<HDRVLINE>(&stray);
    HDRVLINE hdLine = Handle(0);
    auto* pReadOnly = m_pReadOnly;
    const std::wstring as = L"Func.TSPI_lineGetAddressStatus.Abort.Error.";
    const std::wstring ds = L"Func.TSPI_lineGetLineDevStatus.Abort.Error.";
    ExpectRefusals({
        {"address status null line", [=] { return TSPI_lineGetAddressStatus(nullptr, 1, nullptr); },
         LINEERR_INVALLINEHANDLE, as + L"LINEERR_INVALLINEHANDLE.#1"},
        {"address status null record", [=] { return TSPI_lineGetAddressStatus(hdLine, 1, nullptr); },
         LINEERR_INVALPOINTER, as + L"LINEERR_INVALPOINTER.#2"},
        {"address status read-only record",
         [=] { return TSPI_lineGetAddressStatus(hdLine, 0, static_cast<LINEADDRESSSTATUS*>(pReadOnly)); },
         LINEERR_INVALPOINTER, as + L"LINEERR_INVALPOINTER.#2"},
        {"address status address 1", [=] { return TSPI_lineGetAddressStatus(hdStray, 1, pAddress); },
         LINEERR_INVALADDRESSID, as + L"LINEERR_INVALADDRESSID.#4"},
        {"address status stray line", [=] { return TSPI_lineGetAddressStatus(hdStray, 0, pAddress); },
         LINEERR_INVALPOINTER, as + L"LINEERR_INVALPOINTER.#3"},
        {"line status null line", [=] { return TSPI_lineGetLineDevStatus(nullptr, nullptr); }, LINEERR_INVALPOINTER,
         ds + L"LINEERR_INVALPOINTER.#3"},
        {"line status null record", [=] { return TSPI_lineGetLineDevStatus(hdLine, nullptr); }, LINEERR_INVALPOINTER,
         ds + L"LINEERR_INVALPOINTER.#2"},
        {"line status stray line", [=] { return TSPI_lineGetLineDevStatus(hdStray, pDev); }, LINEERR_INVALPOINTER,
         ds + L"LINEERR_INVALPOINTER.#3"},
    });

    WithoutRecord(Line(0).m_pLineDevStatus, [&] {
        ExpectRefusals({{"line status missing", [=] { return TSPI_lineGetLineDevStatus(hdLine, nullptr); },
                         LINEERR_INVALPOINTER, ds + L"LINEERR_INVALPOINTER.#4"}});
    });
    WithoutRecord(Line(0).m_pLineAddressStatus, [&] {
        ExpectRefusals({{"address status missing", [=] { return TSPI_lineGetAddressStatus(hdLine, 0, pAddress); },
                         LINEERR_INVALPOINTER, as + L"LINEERR_INVALPOINTER.#4"}});
    });
}

TEST_F(LineExportsTest, AddressIdentifiers) {
    DWORD dwValue = 77;
    EXPECT_EQ(TSPI_lineGetAddressID(Handle(0), &dwValue, LINEADDRESSMODE_DIALABLEADDR, L"999", 8), 0);
    EXPECT_EQ(dwValue, 0u);
    EXPECT_EQ(TSPI_lineGetNumAddressIDs(Handle(0), &dwValue), 0);
    EXPECT_EQ(dwValue, 1u);
    ExpectRefusals(
        {{"address id null line", [&] { return TSPI_lineGetAddressID(nullptr, &dwValue, 0, nullptr, 0); },
          LINEERR_INVALLINEHANDLE, L"Func.TSPI_lineGetAddressID.Abort.Error.LINEERR_INVALLINEHANDLE.#1"},
         {"address id null target", [&] { return TSPI_lineGetAddressID(Handle(0), nullptr, 0, nullptr, 0); },
          LINEERR_INVALPOINTER, L"Func.TSPI_lineGetAddressID.Abort.Error.LINEERR_INVALPOINTER.#2"},
         {"count null line", [&] { return TSPI_lineGetNumAddressIDs(nullptr, &dwValue); }, LINEERR_INVALLINEHANDLE,
          L"Func.TSPI_lineGetNumAddressIDs.Abort.Error.LINEERR_INVALLINEHANDLE.#1"},
         {"count null target", [&] { return TSPI_lineGetNumAddressIDs(Handle(0), nullptr); }, LINEERR_INVALPOINTER,
          L"Func.TSPI_lineGetNumAddressIDs.Abort.Error.LINEERR_INVALPOINTER.#2"}});
}

TEST_F(LineExportsTest, GetIdAnswersTheDeviceIdOfALineOrCall) {
    AddCall(2, LINECALLSTATE_OFFERING);
    struct Case {
        const wchar_t* pszClass;
        DWORD dwSelect;
        HDRVLINE hdLine;
        HDRVCALL hdCall;
        DWORD dwExpected;
    };
    const Case cases[] = {
        {L"TAPI/LINE", LINECALLSELECT_LINE, Handle(1), nullptr, 101},
        {L"Tapi/Line", LINECALLSELECT_CALL, nullptr, CallHandle(2, 0), 102},
    };
    for (const Case& c : cases) {
        std::vector<BYTE> buffer(64, 0xCC);
        auto* pVar = reinterpret_cast<VARSTRING*>(buffer.data());
        pVar->dwTotalSize = 64;
        EXPECT_EQ(TSPI_lineGetID(c.hdLine, 0, c.hdCall, c.dwSelect, pVar, c.pszClass, nullptr), 0);
        EXPECT_EQ(pVar->dwTotalSize, 64u);
        EXPECT_EQ(pVar->dwNeededSize, 28u);
        EXPECT_EQ(pVar->dwUsedSize, 28u);
        EXPECT_EQ(pVar->dwStringFormat, static_cast<DWORD>(STRINGFORMAT_BINARY));
        EXPECT_EQ(pVar->dwStringSize, 4u);
        EXPECT_EQ(pVar->dwStringOffset, 24u);
        DWORD dwDeviceID;
        std::memcpy(&dwDeviceID, buffer.data() + 24, 4);
        EXPECT_EQ(dwDeviceID, c.dwExpected);
        EXPECT_EQ(buffer[28], 0xCC);
    }
}

TEST_F(LineExportsTest, GetIdRefusals) {
    std::vector<BYTE> buffer(64, 0xCC);
    auto* pVar = reinterpret_cast<VARSTRING*>(buffer.data());
    pVar->dwTotalSize = 64;
    auto* pReadOnly = m_pReadOnly;
    HDRVLINE hdLine = Handle(0);
    auto getID = [=](HDRVLINE hd, DWORD dwSelect, VARSTRING* p, const wchar_t* pszClass) {
        return [=] { return TSPI_lineGetID(hd, 0, nullptr, dwSelect, p, pszClass, nullptr); };
    };
    const std::wstring id = L"Func.TSPI_lineGetID.Abort.Error.";
    ExpectRefusals({
        {"null class", getID(hdLine, LINECALLSELECT_LINE, pVar, nullptr), LINEERR_INVALPOINTER, id + L"LINEERR_INVALPOINTER.#1"},
        {"null record", getID(hdLine, LINECALLSELECT_LINE, nullptr, L"tapi/line"), LINEERR_INVALPOINTER,
         id + L"LINEERR_INVALPOINTER.#2"},
        {"read-only record", getID(hdLine, LINECALLSELECT_LINE, static_cast<VARSTRING*>(pReadOnly), L"tapi/line"),
         LINEERR_INVALPOINTER, id + L"LINEERR_INVALPOINTER.#2"},
        {"address selection", getID(hdLine, LINECALLSELECT_ADDRESS, pVar, L"tapi/line"), LINEERR_INVALPARAM,
         id + L"LINEERR_INVALPARAM.#4"},
        {"no line", getID(nullptr, LINECALLSELECT_LINE, pVar, L"tapi/line"), LINEERR_INVALLINEHANDLE,
         id + L"LINEERR_INVALLINEHANDLE.#4"},
        {"no call", getID(hdLine, LINECALLSELECT_CALL, pVar, L"tapi/line"), LINEERR_INVALCALLHANDLE,
         id + L"LINEERR_INVALCALLHANDLE.#4"},
        {"phone class", getID(hdLine, LINECALLSELECT_LINE, pVar, L"TaPi/PhOnE"), LINEERR_OPERATIONUNAVAIL,
         L"Func.TSPI_lineGetID.Info.No phone devices.#5"},
        {"wave class", getID(hdLine, LINECALLSELECT_LINE, pVar, L"wave/in"), LINEERR_INVALDEVICECLASS,
         id + L"LINEERR_INVALDEVICECLASS wave/in"},
    });
    EXPECT_EQ(pVar->dwUsedSize, 0xCCCCCCCCu);

    // Too small: success with the needed size alone.
    pVar->dwTotalSize = 24;
    CTraceCapture capture(6);
    EXPECT_EQ(TSPI_lineGetID(hdLine, 0, nullptr, LINECALLSELECT_LINE, pVar, L"tapi/line", nullptr), 0);
    EXPECT_EQ(pVar->dwNeededSize, 28u);
    EXPECT_EQ(pVar->dwUsedSize, 0xCCCCCCCCu);
    EXPECT_EQ(buffer[24], 0xCC);
    EXPECT_TRUE(capture.Contains(id + L"LINEERR_STRUCTURETOOSMALL.#3"));
}

TEST_F(LineExportsTest, StatusMessageFiltersGateTheNumberOfCallsEvents) {
    OpenLine(0);
    EXPECT_EQ(TSPI_lineSetStatusMessages(Handle(0), LINEDEVSTATE_NUMCALLS, 0), 0);
    EXPECT_EQ(Line(0).m_dwLineStates, static_cast<DWORD>(LINEDEVSTATE_NUMCALLS));
    EXPECT_EQ(Line(0).m_dwAddressStates, 0u);
    CEventRecorder::Reset();
    SendLineAddressStateMessage(0);
    ASSERT_EQ(Events().size(), 1u);
    EXPECT_EQ(Events()[0].dwMsg, static_cast<DWORD>(LINE_LINEDEVSTATE));

    PhoneLine stray{};
    ExpectRefusals({{"stray line", [&] { return TSPI_lineSetStatusMessages(reinterpret_cast<HDRVLINE>(&stray), 1, 1); },
                     LINEERR_INVALLINEHANDLE, L"Func.TSPI_lineSetStatusMessages.Abort.Error.LINEERR_INVALLINEHANDLE.#1"}});
    EXPECT_EQ(stray.m_dwLineStates, 0u);
}

TEST_F(LineExportsTest, MediaDetection) {
    EXPECT_EQ(TSPI_lineSetDefaultMediaDetection(Handle(0), LINEMEDIAMODE_INTERACTIVEVOICE), 0);
    EXPECT_EQ(TSPI_lineSetDefaultMediaDetection(Handle(0), LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_DATAMODEM),
              LINEERR_INVALMEDIAMODE);

    auto params = [](DWORD dwAddressMode, DWORD dwBearerMode, DWORD dwMediaMode, DWORD dwFlags) {
        LINECALLPARAMS p{};
        p.dwTotalSize = sizeof(p);
        p.dwAddressMode = dwAddressMode;
        p.dwBearerMode = dwBearerMode;
        p.dwMediaMode = dwMediaMode;
        p.dwCallParamFlags = dwFlags;
        return p;
    };
    static LINECALLPARAMS good, badAddress, badBearer, badMedia, badFlags;
    good = params(LINEADDRESSMODE_DIALABLEADDR, LINEBEARERMODE_SPEECH, LINEMEDIAMODE_INTERACTIVEVOICE, 0);
    badAddress = params(LINEADDRESSMODE_ADDRESSID, LINEBEARERMODE_VOICE, LINEMEDIAMODE_INTERACTIVEVOICE, 0);
    badBearer = params(LINEADDRESSMODE_DIALABLEADDR, LINEBEARERMODE_DATA, LINEMEDIAMODE_INTERACTIVEVOICE, 0);
    badMedia = params(LINEADDRESSMODE_DIALABLEADDR, LINEBEARERMODE_VOICE, LINEMEDIAMODE_INTERACTIVEVOICE | 0x10, 0);
    badFlags = params(LINEADDRESSMODE_DIALABLEADDR, LINEBEARERMODE_VOICE, LINEMEDIAMODE_INTERACTIVEVOICE, 1);
    HDRVLINE hd = Handle(0);
    auto detect = [=](HDRVLINE h, DWORD dwModes, const LINECALLPARAMS* p) {
        return [=] { return TSPI_lineConditionalMediaDetection(h, dwModes, p); };
    };
    EXPECT_EQ(detect(hd, LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_DATAMODEM, &good)(), 0);
    const std::wstring cmd = L"Func.TSPI_lineConditionalMediaDetection.Abort.Error.";
    ExpectRefusals({{"null line", detect(nullptr, 4, &good), LINEERR_INVALPOINTER, cmd + L"LINEERR_INVALPOINTER.#1"},
                    {"no voice", detect(hd, LINEMEDIAMODE_DATAMODEM, &good), LINEERR_INVALMEDIAMODE,
                     cmd + L"LINEERR_INVALMEDIAMODE.#2"},
                    {"address mode", detect(hd, 4, &badAddress), LINEERR_OPERATIONUNAVAIL, cmd + L"LINEERR_OPERATIONUNAVAIL.#3"},
                    {"null params", detect(hd, 4, nullptr), LINEERR_INVALPOINTER, cmd + L"LINEERR_INVALPOINTER.#3"},
                    {"bearer mode", detect(hd, 4, &badBearer), LINEERR_OPERATIONUNAVAIL, cmd + L"LINEERR_OPERATIONUNAVAIL.#4"},
                    {"media mode", detect(hd, 4, &badMedia), LINEERR_INVALMEDIAMODE, cmd + L"LINEERR_INVALMEDIAMODE.#5"},
                    {"flags", detect(hd, 4, &badFlags), LINEERR_OPERATIONUNAVAIL, cmd + L"LINEERR_OPERATIONUNAVAIL.#6"}});
}

TEST_F(LineExportsTest, MonitorDigitsRunsTheCallHandleChecks) {
    AddCall(0, LINECALLSTATE_CONNECTED);
    AddCall(1, LINECALLSTATE_CONNECTED);
    Line(1).m_bOutOfService = TRUE;
    static PhoneCall lineless{};
    static PhoneCall stranger{};
    stranger.m_pPhoneLine = &Line(0);
    HDRVCALL hdCall = CallHandle(0, 0);
    HDRVCALL hdOutOfService = CallHandle(1, 0);
    const std::wstring md = L"Func.TSPI_lineMonitorDigits.Abort.Error.";
    wchar_t szFeatureCheck[64];
    StrFormat(szFeatureCheck, L"FeatureCheck 0x%08X", static_cast<DWORD>(LINEERR_OPERATIONUNAVAIL));
    ExpectRefusals(
        {{"null", [] { return TSPI_lineMonitorDigits(nullptr, 0); }, LINEERR_INVALCALLHANDLE, md + L"LINEERR_INVALCALLHANDLE.#1"},
         {"no line", [] { return TSPI_lineMonitorDigits(reinterpret_cast<HDRVCALL>(&lineless), 0); },
          LINEERR_INVALCALLHANDLE, md + L"LINEERR_INVALCALLHANDLE.#2"},
         {"out of service", [=] { return TSPI_lineMonitorDigits(hdOutOfService, 0); }, LINEERR_OPERATIONUNAVAIL,
          md + L"LINEERR_OPERATIONUNAVAIL.#3.Out of service"},
         {"not in its line", [] { return TSPI_lineMonitorDigits(reinterpret_cast<HDRVCALL>(&stranger), 0); },
          LINEERR_INVALCALLHANDLE, md + L"LINEERR_INVALCALLHANDLE.#4"},
         {"feature", [=] { return TSPI_lineMonitorDigits(hdCall, 0); }, LINEERR_OPERATIONUNAVAIL, md + szFeatureCheck}});

    EnableAllCallFeatures(0);
    UpdateAllFeatures(0, 0);
    EXPECT_EQ(TSPI_lineMonitorDigits(hdCall, LINEDIGITMODE_DTMF), 0);
    EXPECT_TRUE(Call(0, 0)->m_bMonitorDigits);
}

TEST_F(LineExportsTest, DevSpecificFeature) {
    PhoneLine stray{};
    const std::wstring dsf = L"Func.TSPI_lineDevSpecificFeature.Abort.Error.";
    HDRVLINE hd = Handle(0);
    ExpectRefusals({{"stray", [&] { return TSPI_lineDevSpecificFeature(1, reinterpret_cast<HDRVLINE>(&stray), 0, nullptr, 0); },
                     LINEERR_INVALPOINTER, dsf + L"LINEERR_INVALPOINTER.#1"},
                    {"closed", [=] { return TSPI_lineDevSpecificFeature(1, hd, 0, nullptr, 0); }, LINEERR_INVALLINEHANDLE,
                     dsf + L"LINEERR_INVALLINEHANDLE.#2"}});
    OpenLine(0);
    ExpectRefusals({{"open", [=] { return TSPI_lineDevSpecificFeature(1, hd, 0, nullptr, 0); }, LINEERR_OPERATIONUNAVAIL,
                     dsf + L"LINEERR_OPERATIONUNAVAIL.#3"}});
}

}  // namespace
