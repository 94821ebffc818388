// The TSPI exports driven directly over a device set put in place: refusals
// in check order, answered records, closed calls, exceptions kept inside.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "common/BoundedString.h"
#include "manager/DeviceSet.h"
#include "model/EventDelivery.h"
#include "model/LineCaps.h"
#include "model/ProviderLock.h"
#include "model/ProviderState.h"
#include "provider/ExportGuards.h"
#include "provider/TspiExports.h"
#include "support/LineModelFixture.h"
#include "support/TraceCapture.h"

namespace {

HTAPICALL TapiCall(ULONG_PTR value) { return reinterpret_cast<HTAPICALL>(value); }

enum class Throw { Nothing, BadAlloc, RuntimeError, Int };

const struct {
    const char* pszName;
    Throw what;
    std::wstring warning;  // after "Func.<export>.Warning."
    bool bNoMemory;
} kExceptions[] = {
    {"std::bad_alloc", Throw::BadAlloc, L"Exception.Out of memory", true},
    {"std::runtime_error", Throw::RuntimeError, L"Exception", false},
    {"int", Throw::Int, L"Exception", false},
};

void ThrowIt(Throw what) {
    switch (what) {
        case Throw::BadAlloc: throw std::bad_alloc();
        case Throw::RuntimeError: throw std::runtime_error("broken");
        case Throw::Int: throw 7;
        case Throw::Nothing: break;
    }
}

// TAPI's line event procedure, throwing once when armed: an exception raised
// deep inside an export's body, where an allocation could fail as well.
Throw g_armed = Throw::Nothing;
void CALLBACK ThrowingEventProc(HTAPILINE, HTAPICALL, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
    const Throw what = g_armed;
    g_armed = Throw::Nothing;
    ThrowIt(what);
}

class ExportsTest : public LineModelFixture {
protected:
    void TearDown() override {
        g_armed = Throw::Nothing;
        g_hProvider = nullptr;
        LineModelFixture::TearDown();
    }
};

// One row per kind of check, in check order; the other exports run the same kinds.
TEST_F(ExportsTest, ExportsRefuseInTheirCheckOrderAndChangeNothing) {
    OpenLine(0);
    OpenLine(1);
    for (int k = 0; k < 3; ++k) AddCall(1, LINECALLSTATE_OFFERING);
    const HTAPILINE htLine = reinterpret_cast<HTAPILINE>(static_cast<ULONG_PTR>(0x1234));
    HDRVLINE hdLine = nullptr;
    HDRVCALL hdCall = nullptr;
    auto open = [&](DWORD dwDeviceID, HTAPILINE ht, HDRVLINE* phd) {
        return [=] { return TSPI_lineOpen(dwDeviceID, ht, phd, 0x00020002, &CEventRecorder::SecondLineEvent); };
    };
    auto make = [&](LONG lLinePos, const wchar_t* pszDest) {
        return [=, &hdCall] { return TSPI_lineMakeCall(7, LineHandle(lLinePos), TapiCall(0x77), &hdCall, pszDest, 0, nullptr); };
    };
    std::vector<BYTE> buffer(1024, 0);
    reinterpret_cast<DWORD*>(buffer.data())[0] = 1024;
    void* pReadOnly = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READONLY);
    PhoneLine strayLine{};
    const HDRVLINE hdStray = reinterpret_cast<HDRVLINE>(&strayLine);
    const wchar_t *o = L"TSPI_lineOpen", *m = L"TSPI_lineMakeCall";
    ExpectRefusals({
        {"open: null target and zero handle", open(100, nullptr, nullptr), LINEERR_INVALPOINTER, AbortLine(o, L"LINEERR_INVALPOINTER", 1)},
        {"open: read-only target", open(100, htLine, static_cast<HDRVLINE*>(pReadOnly)), LINEERR_INVALPOINTER,
         AbortLine(o, L"LINEERR_INVALPOINTER", 1)},
        {"open: zero handle", open(100, nullptr, &hdLine), LINEERR_INVALLINEHANDLE, AbortLine(o, L"LINEERR_INVALLINEHANDLE", 2)},
        {"open: past the lines", open(103, htLine, &hdLine), LINEERR_BADDEVICEID, AbortLine(o, L"LINEERR_BADDEVICEID", 3)},
        {"close: not a line of the table", [&] { return TSPI_lineClose(hdStray); }, LINEERR_INVALLINEHANDLE,
         AbortLine(L"TSPI_lineClose", L"LINEERR_INVALLINEHANDLE", 1)},
        {"address caps: address 1 on a bad device",
         [&] { return TSPI_lineGetAddressCaps(3, 1, 0, 0, reinterpret_cast<LINEADDRESSCAPS*>(buffer.data())); },
         LINEERR_INVALADDRESSID, AbortLine(L"TSPI_lineGetAddressCaps", L"LINEERR_INVALADDRESSID", 1)},
        {"line status: stray line", [&] { return TSPI_lineGetLineDevStatus(hdStray, reinterpret_cast<LINEDEVSTATUS*>(buffer.data())); },
         LINEERR_INVALPOINTER, AbortLine(L"TSPI_lineGetLineDevStatus", L"LINEERR_INVALPOINTER", 3)},
        {"get ID: wave class",
         [&] { return TSPI_lineGetID(LineHandle(0), 0, nullptr, LINECALLSELECT_LINE, reinterpret_cast<VARSTRING*>(buffer.data()), L"wave/in", nullptr); },
         LINEERR_INVALDEVICECLASS, L"Func.TSPI_lineGetID.Abort.Error.LINEERR_INVALDEVICECLASS wave/in"},
        {"make call: null number", make(0, nullptr), LINEERR_INVALPOINTER, AbortLine(m, L"LINEERR_INVALPOINTER", 2)},
        {"make call: line not open", make(2, L"22"), LINEERR_INVALLINEHANDLE, AbortLine(m, L"LINEERR_INVALLINEHANDLE", 3)},
        {"make call: own number", make(0, L"T21"), LINEERR_INVALADDRESS, AbortLine(m, L"LINEERR_INVALADDRESS", 8, L"Call to own device")},
        {"make call: target full", make(0, L"22"), LINEERR_OPERATIONFAILED,
         AbortLine(m, L"LINEERR_OPERATIONFAILED", 9, L"Target has to much calls")},
        {"blind transfer: null number before bad handle", [&] { return TSPI_lineBlindTransfer(1, nullptr, nullptr, 0); },
         LINEERR_INVALADDRESS, AbortLine(L"TSPI_lineBlindTransfer", L"LINEERR_INVALADDRESS", 1)},
    });
    // A line whose records could not be allocated cannot be opened.
    auto* pSaved = std::exchange(Line(2).m_pLineDevCaps, nullptr);
    ExpectRefusals({{"open: missing record", open(102, htLine, &hdLine), LINEERR_NOMEM, AbortLine(o, L"LINEERR_NOMEM", 4)}});
    Line(2).m_pLineDevCaps = pSaved;
    VirtualFree(pReadOnly, 0, MEM_RELEASE);

    AddCall(0, LINECALLSTATE_CONNECTED);
    PhoneCall strayCall{};
    strayCall.m_pPhoneLine = &Line(0);
    const HDRVCALL hdConnected = CallHandle(0, 0), hdStrayCall = reinterpret_cast<HDRVCALL>(&strayCall);
    wchar_t szFeatureCheck[64];
    StrFormat(szFeatureCheck, L"FeatureCheck 0x%08X", static_cast<DWORD>(LINEERR_OPERATIONUNAVAIL));
    ExpectRefusals({
        {"make call: line busy", make(0, L"030"), LINEERR_INVALLINESTATE, AbortLine(m, L"LINEERR_INVALLINESTATE", 4, L"Call count=1")},
        {"monitor digits: no such feature", [&] { return TSPI_lineMonitorDigits(hdConnected, 0); }, LINEERR_OPERATIONUNAVAIL,
         std::wstring(L"Func.TSPI_lineMonitorDigits.Abort.Error.") + szFeatureCheck},
        {"answer a connected call", [&] { return TSPI_lineAnswer(1, hdConnected, nullptr, 0); }, LINEERR_INVALCALLSTATE,
         AbortLine(L"TSPI_lineAnswer", L"LINEERR_INVALCALLSTATE", 4)},
        {"hold a call not in its line", [&] { return TSPI_lineHold(1, hdStrayCall); }, LINEERR_INVALCALLHANDLE,
         AbortLine(L"TSPI_lineHold", L"LINEERR_INVALCALLHANDLE", 7)},
        {"forward: line with a call", [&] { return TSPI_lineForward(1, LineHandle(0), 1, 0, nullptr, 0, nullptr, &hdCall, nullptr); },
         LINEERR_INVALLINESTATE, AbortLine(L"TSPI_lineForward", L"LINEERR_INVALLINESTATE", 4)},
        {"add to conference: too few parties", [&] { return TSPI_lineAddToConference(1, hdConnected, hdConnected); },
         LINEERR_INVALCALLSTATE, AbortLine(L"TSPI_lineAddToConference", L"LINEERR_INVALCALLSTATE", 5, L"Call count 1")},
    });
    Line(0).m_bOutOfService = TRUE;
    ExpectRefusals({{"drop on a line out of service", [&] { return TSPI_lineDrop(1, hdConnected, nullptr, 0); },
                     LINEERR_OPERATIONUNAVAIL, AbortLine(L"TSPI_lineDrop", L"LINEERR_OPERATIONUNAVAIL", 3, L"Out of service")}});
    EXPECT_EQ(hdLine, nullptr);
    EXPECT_EQ(hdCall, nullptr);
    EXPECT_EQ(Line(2).m_htLine, nullptr);

    // With the feature the digits are monitored.
    Line(0).m_bOutOfService = FALSE;
    EnableAllCallFeatures(0);
    UpdateAllFeatures(0, 0);
    EXPECT_EQ(TSPI_lineMonitorDigits(hdConnected, LINEDIGITMODE_DTMF), 0);
    EXPECT_TRUE(Call(0, 0)->m_bMonitorDigits);
}

// Closing ends the line's calls without telling TAPI about them; the latest
// open's event procedure receives the events of all lines.
TEST_F(ExportsTest, OpenAndCloseALine) {
    HTAPILINE htLine = reinterpret_cast<HTAPILINE>(static_cast<ULONG_PTR>(0x4321));
    HDRVLINE hdLine = nullptr;
    ASSERT_EQ(TSPI_lineOpen(101, reinterpret_cast<HTAPILINE>(static_cast<ULONG_PTR>(1)), &hdLine, 0x00020002,
                            &CEventRecorder::LineEvent), 0);
    EXPECT_EQ(TSPI_lineOpen(102, htLine, &hdLine, 0x00020002, &CEventRecorder::SecondLineEvent), 0);
    EXPECT_EQ(hdLine, LineHandle(2));
    EXPECT_EQ(Line(2).m_htLine, htLine);
    EXPECT_EQ(Line(2).m_pLineDevStatus->dwNumOpens, 1u);
    AddCall(1, LINECALLSTATE_OFFERING);
    AddCall(2, LINECALLSTATE_CONNECTED);
    ASSERT_FALSE(Events().empty());
    for (const RecordedEvent& event : Events()) EXPECT_NE(event.dwMsg & CEventRecorder::kSecondProc, 0u);
    CEventRecorder::Reset();

    EXPECT_EQ(TSPI_lineClose(hdLine), 0);
    EXPECT_EQ(Line(2).m_htLine, nullptr);
    EXPECT_EQ(Line(2).m_pLineDevStatus->dwNumOpens, 0u);
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(GetCallCount(2), 0u);
    EXPECT_EQ(Line(2).m_pLineDevStatus->dwNumActiveCalls, 0u);
    EXPECT_TRUE(LockIsFree());
}

// Capability records: whole when they fit, else the fixed part without its
// string. Status and call records, and a device ID (a binary string, whatever
// the class name's case): whole when they fit, else only the needed size.
TEST_F(ExportsTest, RecordsAnsweredInTheTapiManner) {
    ChangeLineName(0, L"", L"Lena");
    AddCall(1, LINECALLSTATE_CONNECTED);
    constexpr DWORD kUntouched = 0xCCCCCCCC;
    using Query = std::function<LONG(void*)>;
    const Query devCaps = [](void* p) { return TSPI_lineGetDevCaps(100, 0x00020002, 0, static_cast<LINEDEVCAPS*>(p)); };
    const Query addressCaps = [](void* p) { return TSPI_lineGetAddressCaps(101, 0, 0x00020002, 0, static_cast<LINEADDRESSCAPS*>(p)); };
    const Query devStatus = [&](void* p) { return TSPI_lineGetLineDevStatus(LineHandle(1), static_cast<LINEDEVSTATUS*>(p)); };
    const Query addressStatus = [&](void* p) { return TSPI_lineGetAddressStatus(LineHandle(1), 0, static_cast<LINEADDRESSSTATUS*>(p)); };
    const Query callInfo = [&](void* p) { return TSPI_lineGetCallInfo(CallHandle(1, 0), static_cast<LINECALLINFO*>(p)); };
    auto deviceID = [&](HDRVLINE hdLine, HDRVCALL hdCall, const wchar_t* pszClass) {
        const DWORD dwSelect = hdCall != nullptr ? LINECALLSELECT_CALL : LINECALLSELECT_LINE;
        return [=](void* p) { return TSPI_lineGetID(hdLine, 0, hdCall, dwSelect, static_cast<VARSTRING*>(p), pszClass, nullptr); };
    };
    // After the header: binary format, 4 bytes at offset 24, the device ID.
    const DWORD idOfLine1[] = {0, 0, 0, STRINGFORMAT_BINARY, 4, 24, 101};
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
        {"call info", callInfo, Call(1, 0)->m_pLineCallInfo, 1024, 724, 724, 0},
        {"call info too small", callInfo, Call(1, 0)->m_pLineCallInfo, 723, 724, kUntouched, 0},
        {"device ID of a line", deviceID(LineHandle(1), nullptr, L"TAPI/LINE"), idOfLine1, 64, 28, 28, 0},
        {"device ID of a call", deviceID(nullptr, CallHandle(1, 0), L"Tapi/Line"), idOfLine1, 64, 28, 28, 0},
        {"device ID too small", deviceID(LineHandle(0), nullptr, L"tapi/line"), idOfLine1, 24, 28, kUntouched, 0},
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
        EXPECT_EQ(buffer[c.dwUsed == kUntouched ? 12 : c.dwUsed], 0xCC) << "written beyond what it used";
        if (c.dwUsed == kUntouched) continue;
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

    // The call status as recorded, but for its state entry time: the time of the answer (UTC).
    auto ms = [](const FILETIME& t) { return ((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000; };
    FILETIME before, after, answered;
    LINECALLSTATUS status{};
    status.dwTotalSize = sizeof(status);
    GetSystemTimeAsFileTime(&before);
    ASSERT_EQ(TSPI_lineGetCallStatus(CallHandle(1, 0), &status), 0);
    GetSystemTimeAsFileTime(&after);
    EXPECT_EQ(std::memcmp(&status, Call(1, 0)->m_pLineCallStatus, offsetof(LINECALLSTATUS, tStateEntryTime)), 0);
    ASSERT_TRUE(SystemTimeToFileTime(&status.tStateEntryTime, &answered));
    EXPECT_LE(ms(before), ms(answered));
    EXPECT_LE(ms(answered), ms(after));
}

// The extension ID is all zero (no extensions); only voice can be detected.
TEST_F(ExportsTest, ExtensionIdIsZeroedAndOnlyVoiceIsDetected) {
    LINEEXTENSIONID id;
    std::memset(&id, 0x55, sizeof(id));
    EXPECT_EQ(TSPI_lineGetExtensionID(100, 0x00020002, &id), 0);
    EXPECT_EQ(id.dwExtensionID0 | id.dwExtensionID1 | id.dwExtensionID2 | id.dwExtensionID3, 0u);
    EXPECT_EQ(TSPI_lineSetDefaultMediaDetection(LineHandle(0), LINEMEDIAMODE_INTERACTIVEVOICE), 0);
    EXPECT_EQ(TSPI_lineSetDefaultMediaDetection(LineHandle(0), LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_DATAMODEM),
              LINEERR_INVALMEDIAMODE);
}

TEST_F(ExportsTest, RefusedTransferReleasesTheCallItBuilt) {
    HTAPILINE htLine = OpenLine(0);
    EnableAllCallFeatures(0);
    AddCall(0, LINECALLSTATE_CONNECTED);
    ASSERT_NE(Features(0, 0) & LINECALLFEATURE_SETUPTRANSFER, 0u);
    HDRVCALL hdConsult = nullptr;
    CEventRecorder::Reset();
    EXPECT_EQ(TSPI_lineSetupTransfer(1, CallHandle(0, 0), TapiCall(0x88), &hdConsult, nullptr), LINEERR_OPERATIONUNAVAIL);
    // TAPI heard of the consultation call, which is gone again without a state of its own.
    ASSERT_FALSE(Events().empty());
    EXPECT_EQ(Events()[0].dwMsg, static_cast<DWORD>(LINE_CALLINFO));
    EXPECT_EQ(Events()[0].htCall, TapiCall(0x88));
    for (const RecordedEvent& event : Events()) EXPECT_NE(event.dwMsg, static_cast<DWORD>(LINE_CALLSTATE));
    EXPECT_EQ(hdConsult, nullptr);
    EXPECT_EQ(GetCallCount(0), 1u);
    EXPECT_EQ(Events().front().htLine, htLine);
}

// A call goes when it is idle; a disconnected one stays until its idle state,
// which then removes it.
TEST_F(ExportsTest, CloseCallRemovesAnIdleCallAndKeepsADisconnectedOneUntilIdle) {
    OpenLine(0);
    AddCall(0, LINECALLSTATE_IDLE);
    EXPECT_EQ(TSPI_lineCloseCall(CallHandle(0, 0)), 0);
    EXPECT_EQ(GetCallCount(0), 0u);
    AddCall(0, LINECALLSTATE_DISCONNECTED);
    CTraceCapture capture(6);
    EXPECT_EQ(TSPI_lineCloseCall(CallHandle(0, 0)), LINEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(GetCallCount(0), 1u);
    EXPECT_TRUE(capture.Contains(L"Func.TSPI_lineCloseCall.Warning.CloseCall on non-idle call"));
    SetState(0, 0, LINECALLSTATE_IDLE);
    EXPECT_EQ(GetCallCount(0), 0u);
}

// The locked run is the next test's, through real exports.
TEST_F(ExportsTest, TheExportRunsTurnEveryExceptionIntoTheFamilysResult) {
    const struct { const char* pszName; const ExportKind& kind; LONG lNoMemory, lFailed; } runs[] = {
        {"line export", kLineExport, LINEERR_NOMEM, LINEERR_OPERATIONFAILED},
        {"phone export", kPhoneExport, PHONEERR_NOMEM, PHONEERR_OPERATIONFAILED},
    };
    for (const auto& r : runs) {
        SCOPED_TRACE(r.pszName);
        auto run = [&](Throw what) {
            return RunExport(L"TestExport", [&](const CFuncTrace&) -> LONG { ThrowIt(what); return 42; }, r.kind);
        };
        EXPECT_EQ(run(Throw::Nothing), 42);
        for (const auto& e : kExceptions) {
            SCOPED_TRACE(e.pszName);
            const LONG lExpected = e.bNoMemory ? r.lNoMemory : r.lFailed;
            CTraceCapture capture(6);
            EXPECT_EQ(run(e.what), lExpected);
            EXPECT_TRUE(capture.Contains(L"Func.TestExport.Warning." + e.warning)) << "no warning traced";
            wchar_t szEnd[64];
            StrFormat(szEnd, L"Func.TestExport.End.Result 0x%08X", static_cast<DWORD>(lExpected));
            EXPECT_TRUE(capture.Contains(szEnd)) << "no end line";
            EXPECT_TRUE(LockIsFree());
        }
    }
}

TEST_F(ExportsTest, ACallbackThatThrowsIsToldOutsideTheExportAndLeavesTheLock) {
    const HTAPILINE htLine = reinterpret_cast<HTAPILINE>(static_cast<ULONG_PTR>(0x3000));
    HDRVLINE hdLine = nullptr;
    // Each export with what makes it call TAPI back. TAPI is called back only
    // once the lock is let go; what a callback throws is caught and traced there.
    // (A placed call's messages wait for its completion, which comes later.)
    const struct {
        const wchar_t* pszExport;
        std::function<void()> prepare;
        std::function<LONG()> run;
    } exports[] = {
        {L"TSPI_lineOpen",
         [&] {
             // A call on the closed line whose features TAPI has not heard yet: the open announces them.
             AddCall(0, LINECALLSTATE_OFFERING);
             Call(0, 0)->m_qwReportedFeatures = 0;
         },
         [&] { return TSPI_lineOpen(kDeviceIDBase, htLine, &hdLine, 0x00020002, &ThrowingEventProc); }},
        {L"TSPI_providerCreateLineDevice",
         [&] {
             // A line announced and gone again before TAPI numbered it: numbering it tells TAPI it is removed.
             g_hProvider = reinterpret_cast<HPROVIDER>(static_cast<ULONG_PTR>(1));
             CProviderLockGuard lock(LockOwner::ReinitializeDevices);
             ApplyDirectory({{L"uuid-21", L"21", L"", L""}, {L"uuid-22", L"22", L"", L""},
                             {L"uuid-23", L"23", L"", L""}, {L"uuid-24", L"24", L"", L""}});
             ApplyDirectory({{L"uuid-21", L"21", L"", L""}, {L"uuid-22", L"22", L"", L""}, {L"uuid-23", L"23", L"", L""}});
             g_pLineEventProc = &ThrowingEventProc;
         },
         [&] { return TSPI_providerCreateLineDevice(3, 600); }},
    };
    for (const auto& x : exports) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(x.pszExport)));
        for (const auto& e : kExceptions) {
            SCOPED_TRACE(e.pszName);
            BuildLines({L"21", L"22", L"23"});
            g_pLineEventProc = &CEventRecorder::LineEvent;
            x.prepare();
            g_armed = e.what;
            CTraceCapture capture(6);
            EXPECT_NO_THROW(x.run());
            EXPECT_EQ(g_armed, Throw::Nothing) << "TAPI was never called back";
            EXPECT_TRUE(capture.Contains(L"Func.TellQueuedMessages.Warning.Exception in a TAPI callback"));
            EXPECT_TRUE(LockIsFree());
        }
    }
}

// The phone exports refuse, traced from level 5 on; an abort names its error and check number.
TEST(PhoneExportsTest, RefusalsTraceBeginAndEndFromLevelFive) {
    for (const DWORD dwLevel : {4u, 5u}) {
        CTraceCapture capture(dwLevel);
        HDRVPHONE hdPhone = nullptr;
        EXPECT_EQ(TSPI_phoneOpen(0, nullptr, &hdPhone, 0x20002, nullptr), PHONEERR_OPERATIONUNAVAIL);
        EXPECT_EQ(hdPhone, nullptr);
        EXPECT_EQ(TSPI_phoneGetIcon(0, L"tapi/phone", nullptr), PHONEERR_OPERATIONUNAVAIL);
        EXPECT_EQ(TSPI_phoneGetID(nullptr, nullptr, nullptr, nullptr), PHONEERR_OPERATIONUNAVAIL);
        const std::vector<std::wstring> traced = {
            L"Func.TSPI_phoneOpen.Begin", L"Func.TSPI_phoneOpen.End.Result 0x9000001D", L"Func.TSPI_phoneGetIcon.Begin",
            L"Func.TSPI_phoneGetIcon.Param._lpszDeviceClass tapi/phone", L"Func.TSPI_phoneGetIcon.End.Result 0x9000001D",
            L"Func.TSPI_phoneGetID.Begin", L"Func.TSPI_phoneGetID.Param._lpszDeviceClass NULL",
            L"Func.TSPI_phoneGetID.End.Result 0x9000001D"};
        EXPECT_EQ(capture.Messages(), dwLevel < 5 ? std::vector<std::wstring>{} : traced);
    }
    CTraceCapture aborts(1);
    DWORD dwVersion = 0;
    EXPECT_EQ(TSPI_lineNegotiateTSPIVersion(0, 0x00030000, 0x00030000, &dwVersion), LINEERR_INCOMPATIBLEAPIVERSION);
    EXPECT_TRUE(aborts.Contains(L"Func.TSPI_lineNegotiateTSPIVersion.Abort.Error.LINEERR_INCOMPATIBLEAPIVERSION.#2"));
    EXPECT_TRUE(aborts.Contains(L"Func.TSPI_lineNegotiateTSPIVersion.End.Result 0x8000000C"));
}

}  // namespace
