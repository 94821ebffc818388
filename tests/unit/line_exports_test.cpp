// The line device exports, driven directly over a device set put in place.
#include <gtest/gtest.h>

#include <algorithm>
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

    void* m_pReadOnly = nullptr;
};

struct Refusal {
    const char* pszName;
    std::function<LONG()> run;
    LONG lExpected;
    std::wstring abortLine;
};

void ExpectRefusals(const std::vector<Refusal>& refusals, const std::function<std::vector<BYTE>()>& snapshot) {
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.pszName);
        std::vector<BYTE> before = snapshot();
        CTraceCapture capture(6);
        EXPECT_EQ(r.run(), r.lExpected);
        EXPECT_TRUE(capture.Contains(r.abortLine)) << testing::PrintToString(r.abortLine);
        EXPECT_TRUE(snapshot() == before) << "the model changed";
    }
}

TEST_F(LineExportsTest, OpenRefusesInItsCheckOrder) {
    HDRVLINE hdLine = nullptr;
    HTAPILINE htLine = reinterpret_cast<HTAPILINE>(static_cast<ULONG_PTR>(0x1234));
    auto open = [&](DWORD dwDeviceID, HTAPILINE ht, HDRVLINE* phd) {
        return [=] { return TSPI_lineOpen(dwDeviceID, ht, phd, 0x00020002, &CEventRecorder::SecondLineEvent); };
    };
    const std::wstring prefix = L"Func.TSPI_lineOpen.Abort.Error.";
    std::vector<Refusal> refusals = {
        {"null target and zero handle", open(100, nullptr, nullptr), LINEERR_INVALPOINTER, prefix + L"LINEERR_INVALPOINTER.#1"},
        {"read-only target", open(100, htLine, static_cast<HDRVLINE*>(m_pReadOnly)), LINEERR_INVALPOINTER,
         prefix + L"LINEERR_INVALPOINTER.#1"},
        {"zero handle", open(100, nullptr, &hdLine), LINEERR_INVALLINEHANDLE, prefix + L"LINEERR_INVALLINEHANDLE.#2"},
        {"below the base", open(99, htLine, &hdLine), LINEERR_BADDEVICEID, prefix + L"LINEERR_BADDEVICEID.#3"},
        {"past the lines", open(103, htLine, &hdLine), LINEERR_BADDEVICEID, prefix + L"LINEERR_BADDEVICEID.#3"},
        {"far off", open(0xFFFFFFFF, htLine, &hdLine), LINEERR_BADDEVICEID, prefix + L"LINEERR_BADDEVICEID.#3"},
    };
    ExpectRefusals(refusals, Snapshot);
    EXPECT_EQ(hdLine, nullptr);

    // A line whose records could not be allocated cannot be opened.
    struct Missing {
        void** ppRecord;
        int nCheck;
    };
    const Missing missing[] = {{reinterpret_cast<void**>(&Line(1).m_pLineDevCaps), 4},
                               {reinterpret_cast<void**>(&Line(1).m_pLineDevStatus), 5},
                               {reinterpret_cast<void**>(&Line(1).m_pLineAddressCaps), 6},
                               {reinterpret_cast<void**>(&Line(1).m_pLineAddressStatus), 7}};
    for (const Missing& m : missing) {
        void* pSaved = *m.ppRecord;
        *m.ppRecord = nullptr;
        ExpectRefusals({{"missing record", open(101, htLine, &hdLine), LINEERR_NOMEM,
                         prefix + L"LINEERR_NOMEM.#" + std::to_wstring(m.nCheck)}},
                       Snapshot);
        *m.ppRecord = pSaved;
    }
    EXPECT_EQ(Line(1).m_htLine, nullptr);
    EXPECT_TRUE(LockIsFree());
}

TEST_F(LineExportsTest, OpenAndCloseALine) {
    CTraceCapture capture(6);
    HTAPILINE htLine = reinterpret_cast<HTAPILINE>(static_cast<ULONG_PTR>(0x4321));
    HDRVLINE hdLine = nullptr;
    EXPECT_EQ(TSPI_lineOpen(102, htLine, &hdLine, 0x00020002, &CEventRecorder::LineEvent), 0);
    EXPECT_EQ(hdLine, Handle(2));
    EXPECT_EQ(Line(2).m_htLine, htLine);
    EXPECT_EQ(Line(2).m_pLineDevStatus->dwNumOpens, 1u);
    EXPECT_EQ(g_pLineEventProc, &CEventRecorder::LineEvent);
    EXPECT_TRUE(capture.Contains(L"CS_BEGIN 22 (0)"));
    EXPECT_TRUE(capture.Contains(L"CS_END 22 (22)"));

    EXPECT_EQ(TSPI_lineClose(hdLine), 0);
    EXPECT_EQ(Line(2).m_htLine, nullptr);
    EXPECT_EQ(Line(2).m_pLineDevStatus->dwNumOpens, 0u);
    EXPECT_TRUE(capture.Contains(L"CS_BEGIN 5 (0)"));
    EXPECT_TRUE(LockIsFree());
}

TEST_F(LineExportsTest, CloseRefusesWhatIsNoLine) {
    PhoneLine stray{};
    ExpectRefusals({{"null", [] { return TSPI_lineClose(nullptr); }, LINEERR_INVALLINEHANDLE,
                     L"Func.TSPI_lineClose.Abort.Error.LINEERR_INVALLINEHANDLE.#1"},
                    {"not a line of the table", [&] { return TSPI_lineClose(reinterpret_cast<HDRVLINE>(&stray)); },
                     LINEERR_INVALLINEHANDLE, L"Func.TSPI_lineClose.Abort.Error.LINEERR_INVALLINEHANDLE.#1"}},
                   Snapshot);
}

TEST_F(LineExportsTest, ClosingALineWithAConnectedCallEndsItWithoutEvents) {
    OpenLine(0);
    AddCall(0, LINECALLSTATE_CONNECTED);
    CEventRecorder::Reset();
    EXPECT_EQ(TSPI_lineClose(Handle(0)), 0);
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(GetCallCount(0), 0u);
    EXPECT_EQ(Line(0).m_pLineDevStatus->dwNumActiveCalls, 0u);
    EXPECT_TRUE(LockIsFree());
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

TEST_F(LineExportsTest, DevCapsAnsweredInTheTapiManner) {
    ChangeLineName(0, L"", L"Lena");
    std::vector<BYTE> buffer(1024, 0xCC);
    auto* pCaps = reinterpret_cast<LINEDEVCAPS*>(buffer.data());

    pCaps->dwTotalSize = 1024;
    EXPECT_EQ(TSPI_lineGetDevCaps(100, 0x00020002, 0, pCaps), 0);
    EXPECT_EQ(pCaps->dwTotalSize, 1024u);
    EXPECT_EQ(pCaps->dwNeededSize, 396u);
    EXPECT_EQ(pCaps->dwUsedSize, 396u);
    EXPECT_EQ(std::memcmp(buffer.data() + 12, reinterpret_cast<BYTE*>(Line(0).m_pLineDevCaps) + 12, 396 - 12), 0);
    EXPECT_EQ(buffer[396], 0xCC);

    std::fill(buffer.begin(), buffer.end(), 0xCC);
    pCaps->dwTotalSize = 268;
    EXPECT_EQ(TSPI_lineGetDevCaps(100, 0x00020002, 0, pCaps), 0);
    EXPECT_EQ(pCaps->dwTotalSize, 268u);
    EXPECT_EQ(pCaps->dwNeededSize, 396u);
    EXPECT_EQ(pCaps->dwUsedSize, 268u);
    EXPECT_EQ(pCaps->dwLineNameSize, 0u);
    EXPECT_EQ(pCaps->dwLineNameOffset, 0u);
    EXPECT_EQ(pCaps->dwMaxRate, 64000u);
    EXPECT_EQ(buffer[268], 0xCC);
}

TEST_F(LineExportsTest, AddressCapsAnsweredInTheTapiManner) {
    std::vector<BYTE> buffer(512, 0xCC);
    auto* pCaps = reinterpret_cast<LINEADDRESSCAPS*>(buffer.data());
    pCaps->dwTotalSize = 512;
    EXPECT_EQ(TSPI_lineGetAddressCaps(101, 0, 0x00020002, 0, pCaps), 0);
    EXPECT_EQ(pCaps->dwUsedSize, 236u);
    EXPECT_EQ(pCaps->dwAddressSize, 6u);
    EXPECT_EQ(std::wstring(reinterpret_cast<wchar_t*>(buffer.data() + pCaps->dwAddressOffset)), L"22");

    std::fill(buffer.begin(), buffer.end(), 0xCC);
    pCaps->dwTotalSize = 228;
    EXPECT_EQ(TSPI_lineGetAddressCaps(101, 0, 0x00020002, 0, pCaps), 0);
    EXPECT_EQ(pCaps->dwTotalSize, 228u);
    EXPECT_EQ(pCaps->dwNeededSize, 236u);
    EXPECT_EQ(pCaps->dwUsedSize, 228u);
    EXPECT_EQ(pCaps->dwAddressSize, 0u);
    EXPECT_EQ(pCaps->dwAddressOffset, 0u);
    EXPECT_EQ(pCaps->dwLineDeviceID, 101u);
    EXPECT_EQ(buffer[228], 0xCC);
}

TEST_F(LineExportsTest, CapabilityQueriesRefuseInTheirCheckOrder) {
    BYTE buffer[1024];
    auto* pDevCaps = reinterpret_cast<LINEDEVCAPS*>(buffer);
    auto* pAddressCaps = reinterpret_cast<LINEADDRESSCAPS*>(buffer);
    auto* pReadOnly = m_pReadOnly;
    const std::wstring dev = L"Func.TSPI_lineGetDevCaps.Abort.Error.";
    const std::wstring addr = L"Func.TSPI_lineGetAddressCaps.Abort.Error.";
    std::vector<Refusal> refusals = {
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
    };
    ExpectRefusals(refusals, Snapshot);

    LINEDEVCAPS* pSavedDev = Line(0).m_pLineDevCaps;
    LINEADDRESSCAPS* pSavedAddr = Line(0).m_pLineAddressCaps;
    Line(0).m_pLineDevCaps = nullptr;
    Line(0).m_pLineAddressCaps = nullptr;
    pDevCaps->dwTotalSize = sizeof(buffer);
    ExpectRefusals({{"devcaps missing", [=] { return TSPI_lineGetDevCaps(100, 0, 0, pDevCaps); }, LINEERR_OPERATIONFAILED,
                     dev + L"LINEERR_OPERATIONFAILED.#3"},
                    {"addresscaps missing", [=] { return TSPI_lineGetAddressCaps(100, 0, 0, 0, pAddressCaps); },
                     LINEERR_OPERATIONFAILED, addr + L"LINEERR_OPERATIONFAILED.#4"}},
                   Snapshot);
    Line(0).m_pLineDevCaps = pSavedDev;
    Line(0).m_pLineAddressCaps = pSavedAddr;
    EXPECT_TRUE(LockIsFree());
}

TEST_F(LineExportsTest, StatusRecordsAnsweredWhenTheyFit) {
    AddCall(1, LINECALLSTATE_CONNECTED);
    struct Case {
        const char* pszName;
        DWORD dwTotalSize;
        bool bDevStatus;
        DWORD dwNeeded;
        bool bCopied;
    };
    const Case cases[] = {
        {"address status too small", 64, false, 128, false}, {"address status", 128, false, 128, true},
        {"line status too small", 87, true, 88, false},       {"line status", 200, true, 88, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        std::vector<BYTE> buffer(256, 0xCC);
        auto* pHeader = reinterpret_cast<DWORD*>(buffer.data());
        pHeader[0] = c.dwTotalSize;
        LONG lResult = c.bDevStatus ? TSPI_lineGetLineDevStatus(Handle(1), reinterpret_cast<LINEDEVSTATUS*>(buffer.data()))
                                    : TSPI_lineGetAddressStatus(Handle(1), 0, reinterpret_cast<LINEADDRESSSTATUS*>(buffer.data()));
        EXPECT_EQ(lResult, 0);
        EXPECT_EQ(pHeader[0], c.dwTotalSize);
        EXPECT_EQ(pHeader[1], c.dwNeeded);
        const BYTE* pSource = c.bDevStatus ? reinterpret_cast<const BYTE*>(Line(1).m_pLineDevStatus)
                                           : reinterpret_cast<const BYTE*>(Line(1).m_pLineAddressStatus);
        if (c.bCopied) {
            EXPECT_EQ(std::memcmp(buffer.data() + 8, pSource + 8, c.dwNeeded - 8), 0);
            EXPECT_EQ(buffer[c.dwNeeded], 0xCC);
        } else {
            EXPECT_EQ(pHeader[2], 0xCCCCCCCCu);
        }
    }
    EXPECT_EQ(Line(1).m_pLineDevStatus->dwNumActiveCalls, 1u);
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
    std::vector<Refusal> refusals = {
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
    };
    ExpectRefusals(refusals, Snapshot);

    LINEDEVSTATUS* pSavedDev = Line(0).m_pLineDevStatus;
    LINEADDRESSSTATUS* pSavedAddr = Line(0).m_pLineAddressStatus;
    Line(0).m_pLineDevStatus = nullptr;
    Line(0).m_pLineAddressStatus = nullptr;
    ExpectRefusals({{"line status missing", [=] { return TSPI_lineGetLineDevStatus(hdLine, nullptr); },
                     LINEERR_INVALPOINTER, ds + L"LINEERR_INVALPOINTER.#4"},
                    {"address status missing", [=] { return TSPI_lineGetAddressStatus(hdLine, 0, pAddress); },
                     LINEERR_INVALPOINTER, as + L"LINEERR_INVALPOINTER.#4"}},
                   Snapshot);
    Line(0).m_pLineDevStatus = pSavedDev;
    Line(0).m_pLineAddressStatus = pSavedAddr;
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
          L"Func.TSPI_lineGetNumAddressIDs.Abort.Error.LINEERR_INVALPOINTER.#2"}},
        Snapshot);
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
        {L"tapi/line", LINECALLSELECT_LINE, Handle(1), nullptr, 101},
        {L"TAPI/LINE", LINECALLSELECT_LINE, Handle(0), nullptr, 100},
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
    }
}

TEST_F(LineExportsTest, GetIdRefusals) {
    std::vector<BYTE> buffer(64, 0xCC);
    auto* pVar = reinterpret_cast<VARSTRING*>(buffer.data());
    pVar->dwTotalSize = 64;
    auto* pReadOnly = m_pReadOnly;
    HDRVLINE hdLine = Handle(0);
    auto getID = [=](HDRVLINE hd, HDRVCALL hdCall, DWORD dwSelect, VARSTRING* p, const wchar_t* pszClass) {
        return [=] { return TSPI_lineGetID(hd, 0, hdCall, dwSelect, p, pszClass, nullptr); };
    };
    const std::wstring id = L"Func.TSPI_lineGetID.Abort.Error.";
    std::vector<Refusal> refusals = {
        {"null class", getID(hdLine, nullptr, LINECALLSELECT_LINE, pVar, nullptr), LINEERR_INVALPOINTER,
         id + L"LINEERR_INVALPOINTER.#1"},
        {"null record", getID(hdLine, nullptr, LINECALLSELECT_LINE, nullptr, L"tapi/line"), LINEERR_INVALPOINTER,
         id + L"LINEERR_INVALPOINTER.#2"},
        {"read-only record", getID(hdLine, nullptr, LINECALLSELECT_LINE, static_cast<VARSTRING*>(pReadOnly), L"tapi/line"),
         LINEERR_INVALPOINTER, id + L"LINEERR_INVALPOINTER.#2"},
        {"address selection", getID(hdLine, nullptr, LINECALLSELECT_ADDRESS, pVar, L"tapi/line"), LINEERR_INVALPARAM,
         id + L"LINEERR_INVALPARAM.#4"},
        {"no line", getID(nullptr, nullptr, LINECALLSELECT_LINE, pVar, L"tapi/line"), LINEERR_INVALLINEHANDLE,
         id + L"LINEERR_INVALLINEHANDLE.#4"},
        {"no call", getID(hdLine, nullptr, LINECALLSELECT_CALL, pVar, L"tapi/line"), LINEERR_INVALCALLHANDLE,
         id + L"LINEERR_INVALCALLHANDLE.#4"},
        {"phone class", getID(hdLine, nullptr, LINECALLSELECT_LINE, pVar, L"TaPi/PhOnE"), LINEERR_OPERATIONUNAVAIL,
         L"Func.TSPI_lineGetID.Info.No phone devices.#5"},
        {"wave class", getID(hdLine, nullptr, LINECALLSELECT_LINE, pVar, L"wave/in"), LINEERR_INVALDEVICECLASS,
         id + L"LINEERR_INVALDEVICECLASS wave/in"},
    };
    ExpectRefusals(refusals, Snapshot);
    EXPECT_EQ(pVar->dwUsedSize, 0xCCCCCCCCu);

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
    ExpectRefusals({{"null line", [] { return TSPI_lineSetStatusMessages(nullptr, 0, 0); }, LINEERR_INVALLINEHANDLE,
                     L"Func.TSPI_lineSetStatusMessages.Abort.Error.LINEERR_INVALLINEHANDLE.#1"},
                    {"stray line", [&] { return TSPI_lineSetStatusMessages(reinterpret_cast<HDRVLINE>(&stray), 1, 1); },
                     LINEERR_INVALLINEHANDLE, L"Func.TSPI_lineSetStatusMessages.Abort.Error.LINEERR_INVALLINEHANDLE.#1"}},
                   Snapshot);
    EXPECT_EQ(stray.m_dwLineStates, 0u);
}

TEST_F(LineExportsTest, MediaDetection) {
    EXPECT_EQ(TSPI_lineSetDefaultMediaDetection(Handle(0), LINEMEDIAMODE_INTERACTIVEVOICE), 0);
    EXPECT_EQ(TSPI_lineSetDefaultMediaDetection(Handle(0), LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_DATAMODEM),
              LINEERR_INVALMEDIAMODE);
    EXPECT_EQ(TSPI_lineSetDefaultMediaDetection(Handle(0), 0), LINEERR_INVALMEDIAMODE);

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
                    {"flags", detect(hd, 4, &badFlags), LINEERR_OPERATIONUNAVAIL, cmd + L"LINEERR_OPERATIONUNAVAIL.#6"}},
                   Snapshot);
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
         {"feature", [=] { return TSPI_lineMonitorDigits(hdCall, 0); }, LINEERR_OPERATIONUNAVAIL,
          md + szFeatureCheck}},
        Snapshot);

    EnableAllCallFeatures(0);
    UpdateAllFeatures(0, 0);
    EXPECT_EQ(TSPI_lineMonitorDigits(hdCall, LINEDIGITMODE_DTMF), 0);
    EXPECT_TRUE(Call(0, 0)->m_bMonitorDigits);
}

TEST_F(LineExportsTest, DevSpecificFeature) {
    PhoneLine stray{};
    const std::wstring dsf = L"Func.TSPI_lineDevSpecificFeature.Abort.Error.";
    HDRVLINE hd = Handle(0);
    ExpectRefusals({{"null", [] { return TSPI_lineDevSpecificFeature(1, nullptr, 0, nullptr, 0); }, LINEERR_INVALPOINTER,
                     dsf + L"LINEERR_INVALPOINTER.#1"},
                    {"stray", [&] { return TSPI_lineDevSpecificFeature(1, reinterpret_cast<HDRVLINE>(&stray), 0, nullptr, 0); },
                     LINEERR_INVALPOINTER, dsf + L"LINEERR_INVALPOINTER.#1"},
                    {"closed", [=] { return TSPI_lineDevSpecificFeature(1, hd, 0, nullptr, 0); }, LINEERR_INVALLINEHANDLE,
                     dsf + L"LINEERR_INVALLINEHANDLE.#2"}},
                   Snapshot);
    OpenLine(0);
    ExpectRefusals({{"open", [=] { return TSPI_lineDevSpecificFeature(1, hd, 0, nullptr, 0); }, LINEERR_OPERATIONUNAVAIL,
                     dsf + L"LINEERR_OPERATIONUNAVAIL.#3"}},
                   Snapshot);
}

TEST_F(LineExportsTest, UnsupportedRequestsAlwaysRefuse) {
    BYTE buffer[64] = {};
    const std::vector<std::function<LONG()>> requests = {
        [&] { return TSPI_lineGetDevConfig(100, reinterpret_cast<VARSTRING*>(buffer), L"comm"); },
        [&] { return TSPI_lineSetDevConfig(100, buffer, 4, L"comm"); },
        [&] { return TSPI_lineSetLineDevStatus(1, Handle(0), 0, 0); },
        [&] { return TSPI_lineSetTerminal(1, Handle(0), 0, nullptr, 0, 0, 0, 0); },
        [&] { return TSPI_lineDevSpecific(1, Handle(0), 0, nullptr, buffer, 4); },
        [&] { return TSPI_lineSetMediaControl(Handle(0), 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0); },
        [&] { return TSPI_lineMonitorMedia(nullptr, 0); },
        [&] { return TSPI_lineMonitorTones(nullptr, 0, nullptr, 0); },
    };
    std::vector<BYTE> before = Snapshot();
    for (const auto& request : requests) EXPECT_EQ(request(), LINEERR_OPERATIONUNAVAIL);
    EXPECT_TRUE(Snapshot() == before);
}

TEST_F(LineExportsTest, ExtensionIdAndIcon) {
    LINEEXTENSIONID id;
    std::memset(&id, 0x77, sizeof(id));
    EXPECT_EQ(TSPI_lineGetExtensionID(100, 0x00020002, &id), 0);
    EXPECT_EQ(id.dwExtensionID0 | id.dwExtensionID1 | id.dwExtensionID2 | id.dwExtensionID3, 0u);
    EXPECT_EQ(TSPI_lineGetExtensionID(100, 0x00020002, nullptr), 0);

    HICON hSaved = g_hIconPhone;
    g_hIconPhone = reinterpret_cast<HICON>(static_cast<ULONG_PTR>(0xABC));
    HICON hIcon = nullptr;
    EXPECT_EQ(TSPI_lineGetIcon(5000, L"anything", &hIcon), 0);
    EXPECT_EQ(hIcon, g_hIconPhone);
    EXPECT_EQ(TSPI_lineGetIcon(100, nullptr, nullptr), 0);
    g_hIconPhone = hSaved;
}

TEST_F(LineExportsTest, LockedExportsTraceTheirOwnerCodesAndLeaveTheLock) {
    BYTE buffer[1024] = {};
    reinterpret_cast<DWORD*>(buffer)[0] = sizeof(buffer);
    DWORD dwValue = 0;
    HDRVLINE hd = Handle(0);
    struct Locked {
        DWORD dwCode;
        std::function<LONG()> run;
    };
    const std::vector<Locked> locked = {
        {13, [&] { return TSPI_lineGetAddressCaps(100, 0, 0, 0, reinterpret_cast<LINEADDRESSCAPS*>(buffer)); }},
        {14, [&] { return TSPI_lineGetAddressStatus(hd, 0, reinterpret_cast<LINEADDRESSSTATUS*>(buffer)); }},
        {17, [&] { return TSPI_lineGetDevCaps(100, 0, 0, reinterpret_cast<LINEDEVCAPS*>(buffer)); }},
        {18, [&] { return TSPI_lineGetID(hd, 0, nullptr, LINECALLSELECT_LINE, reinterpret_cast<VARSTRING*>(buffer), L"x", nullptr); }},
        {19, [&] { return TSPI_lineGetLineDevStatus(hd, reinterpret_cast<LINEDEVSTATUS*>(buffer)); }},
        {28, [&] { return TSPI_lineSetStatusMessages(hd, 0x801, 0x21); }},
        {9, [&] { return TSPI_lineConditionalMediaDetection(nullptr, 0, nullptr); }},
        {10, [&] { return TSPI_lineDevSpecificFeature(1, nullptr, 0, nullptr, 0); }},
        {37, [&] { return TSPI_lineGetExtensionID(100, 0, nullptr); }},
        {81, [&] { return TSPI_lineGetAddressID(hd, &dwValue, 0, nullptr, 0); }},
    };
    for (const Locked& l : locked) {
        SCOPED_TRACE(l.dwCode);
        CTraceCapture capture(6);
        l.run();
        std::vector<std::wstring> messages = capture.Messages();
        ASSERT_GE(messages.size(), 3u);
        EXPECT_EQ(messages.front(), L"CS_BEGIN " + std::to_wstring(l.dwCode) + L" (0)");
        EXPECT_EQ(messages.back(), L"CS_END " + std::to_wstring(l.dwCode) + L" (" + std::to_wstring(l.dwCode) + L")");
        EXPECT_NE(messages[messages.size() - 2].find(L".End.Result 0x"), std::wstring::npos);
        EXPECT_TRUE(LockIsFree());
    }
    // The unlocked ones take no lock at all.
    CTraceCapture capture(6);
    TSPI_lineGetNumAddressIDs(hd, &dwValue);
    TSPI_lineGetIcon(100, nullptr, nullptr);
    TSPI_lineSetDefaultMediaDetection(hd, 4);
    TSPI_lineMonitorDigits(nullptr, 0);
    for (const std::wstring& message : capture.Messages()) EXPECT_NE(message.rfind(L"CS_", 0), 0u) << ToUtf8(message);
}

}  // namespace
