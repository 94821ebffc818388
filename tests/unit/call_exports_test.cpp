// The call control and supplementary exports: their refusals in check order
// with the check numbers traced, closing and querying calls, and the call
// records a refused request builds and releases again.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "model/CallFeatures.h"
#include "model/EventDelivery.h"
#include "model/LineCaps.h"
#include "provider/TspiExports.h"
#include "support/LineModelFixture.h"
#include "support/TraceCapture.h"

namespace {

class CallExportsTest : public LineModelFixture {
protected:
    HDRVLINE LineHandle(LONG pos) { return reinterpret_cast<HDRVLINE>(&Line(pos)); }
    HDRVCALL CallHandle(LONG pos, LONG k) { return reinterpret_cast<HDRVCALL>(Call(pos, k)); }
    static HTAPICALL TapiCall(ULONG_PTR value) { return reinterpret_cast<HTAPICALL>(value); }
};

struct Refusal {
    const char* pszName;
    std::function<LONG()> run;
    LONG lExpected;
    std::wstring abortLine;  // the trace line the refusal writes
};

void ExpectRefusals(const std::vector<Refusal>& refusals) {
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.pszName);
        CTraceCapture capture(6);
        EXPECT_EQ(r.run(), r.lExpected);
        EXPECT_TRUE(capture.Contains(r.abortLine)) << testing::PrintToString(r.abortLine);
    }
}

std::wstring AbortLine(const wchar_t* pszExport, const wchar_t* pszError, int nCheck, const wchar_t* pszText = nullptr) {
    std::wstring line = std::wstring(L"Func.") + pszExport + L".Abort.Error." + pszError + L".#" + std::to_wstring(nCheck);
    if (pszText != nullptr) line += std::wstring(L".") + pszText;
    return line;
}

TEST_F(CallExportsTest, MakeCallRefusesInItsCheckOrder) {
    OpenLine(0);
    OpenLine(1);
    HDRVCALL hdCall = nullptr;
    auto make = [&](HDRVLINE hdLine, const wchar_t* pszDest) {
        return [=, &hdCall] { return TSPI_lineMakeCall(7, hdLine, TapiCall(0x77), &hdCall, pszDest, 0, nullptr); };
    };
    for (int k = 0; k < 3; ++k) AddCall(1, LINECALLSTATE_OFFERING);
    const wchar_t* e = L"TSPI_lineMakeCall";
    ExpectRefusals({
        {"null number", make(LineHandle(0), nullptr), LINEERR_INVALPOINTER, AbortLine(e, L"LINEERR_INVALPOINTER", 2)},
        {"line not open", make(LineHandle(2), L"22"), LINEERR_INVALLINEHANDLE, AbortLine(e, L"LINEERR_INVALLINEHANDLE", 3)},
        {"own number", make(LineHandle(0), L"T21"), LINEERR_INVALADDRESS,
         AbortLine(e, L"LINEERR_INVALADDRESS", 8, L"Call to own device")},
        {"target full", make(LineHandle(0), L"22"), LINEERR_OPERATIONFAILED,
         AbortLine(e, L"LINEERR_OPERATIONFAILED", 9, L"Target has to much calls")},
    });
    AddCall(0, LINECALLSTATE_CONNECTED);
    ExpectRefusals({{"line busy", make(LineHandle(0), L"030"), LINEERR_INVALLINESTATE,
                     AbortLine(e, L"LINEERR_INVALLINESTATE", 4, L"Call count=1")}});
    EXPECT_EQ(hdCall, nullptr);
    EXPECT_EQ(GetCallCount(0), 1u);
}

// One row per kind of check: bad handle, wrong state, out of service (a missing
// feature: see the digit monitoring in line_exports_test).
TEST_F(CallExportsTest, CallOperationsRefuseInTheirCheckOrder) {
    OpenLine(0);
    AddCall(0, LINECALLSTATE_CONNECTED);
    PhoneCall stray{};
    stray.m_pPhoneLine = &Line(0);
    const HDRVCALL hdConnected = CallHandle(0, 0);
    const HDRVCALL hdStray = reinterpret_cast<HDRVCALL>(&stray);
    HDRVCALL hdOut = nullptr;
    ExpectRefusals({
        {"answer a connected call", [&] { return TSPI_lineAnswer(1, hdConnected, nullptr, 0); }, LINEERR_INVALCALLSTATE,
         AbortLine(L"TSPI_lineAnswer", L"LINEERR_INVALCALLSTATE", 4)},
        {"hold a call not in its line", [&] { return TSPI_lineHold(1, hdStray); }, LINEERR_INVALCALLHANDLE,
         AbortLine(L"TSPI_lineHold", L"LINEERR_INVALCALLHANDLE", 7)},
        {"blind transfer: null number before bad handle", [&] { return TSPI_lineBlindTransfer(1, nullptr, nullptr, 0); },
         LINEERR_INVALADDRESS, AbortLine(L"TSPI_lineBlindTransfer", L"LINEERR_INVALADDRESS", 1)},
        {"forward: line with a call",
         [&] { return TSPI_lineForward(1, LineHandle(0), 1, 0, nullptr, 0, nullptr, &hdOut, nullptr); },
         LINEERR_INVALLINESTATE, AbortLine(L"TSPI_lineForward", L"LINEERR_INVALLINESTATE", 4)},
        {"add to conference: too few parties", [&] { return TSPI_lineAddToConference(1, hdConnected, hdConnected); },
         LINEERR_INVALCALLSTATE, AbortLine(L"TSPI_lineAddToConference", L"LINEERR_INVALCALLSTATE", 5, L"Call count 1")},
    });
    EXPECT_EQ(hdOut, nullptr);
    EXPECT_EQ(GetCallCount(0), 1u) << "no call was made";
    Line(0).m_bOutOfService = TRUE;
    ExpectRefusals({{"drop on a line out of service", [&] { return TSPI_lineDrop(1, hdConnected, nullptr, 0); },
                     LINEERR_OPERATIONUNAVAIL, AbortLine(L"TSPI_lineDrop", L"LINEERR_OPERATIONUNAVAIL", 3, L"Out of service")}});
}

TEST_F(CallExportsTest, RefusedTransferReleasesTheCallItBuilt) {
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
TEST_F(CallExportsTest, CloseCallRemovesAnIdleCallAndKeepsADisconnectedOneUntilIdle) {
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

TEST_F(CallExportsTest, CallStatusAndInfoAnswerTheCallsRecordsOrOnlyTheNeededSize) {
    OpenLine(0);
    AddCall(0, LINECALLSTATE_OFFERING);
    std::vector<BYTE> buffer(1024, 0xCC);
    auto* pStatus = reinterpret_cast<LINECALLSTATUS*>(buffer.data());
    pStatus->dwTotalSize = sizeof(LINECALLSTATUS);
    EXPECT_EQ(TSPI_lineGetCallStatus(CallHandle(0, 0), pStatus), 0);
    EXPECT_EQ(pStatus->dwCallState, static_cast<DWORD>(LINECALLSTATE_OFFERING));
    EXPECT_EQ(pStatus->dwNeededSize, sizeof(LINECALLSTATUS));

    auto* pInfo = reinterpret_cast<LINECALLINFO*>(buffer.data());
    std::fill(buffer.begin(), buffer.end(), 0xCC);
    pInfo->dwTotalSize = sizeof(LINECALLINFO);
    EXPECT_EQ(TSPI_lineGetCallInfo(CallHandle(0, 0), pInfo), 0);
    EXPECT_EQ(pInfo->dwNeededSize, kCallInfoBufferSize);
    EXPECT_EQ(pInfo->dwCallID, 0xCCCCCCCCu) << "too small: only the needed size";
    pInfo->dwTotalSize = 1024;
    EXPECT_EQ(TSPI_lineGetCallInfo(CallHandle(0, 0), pInfo), 0);
    EXPECT_EQ(pInfo->dwCallID, Call(0, 0)->m_pLineCallInfo->dwCallID);

    // A handle TAPI kept after its call went is reported idle.
    PhoneCall stray = *Call(0, 0);
    std::fill(buffer.begin(), buffer.end(), 0xCC);
    pStatus->dwTotalSize = sizeof(LINECALLSTATUS);
    EXPECT_EQ(TSPI_lineGetCallStatus(reinterpret_cast<HDRVCALL>(&stray), pStatus), LINEERR_INVALCALLHANDLE);
    EXPECT_EQ(pStatus->dwCallState, static_cast<DWORD>(LINECALLSTATE_IDLE));
    EXPECT_EQ(pStatus->dwCallFeatures, 0u);
}

}  // namespace
