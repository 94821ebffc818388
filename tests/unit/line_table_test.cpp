// The line table: call creation and removal, packed slots, call ids and lookups.
#include <gtest/gtest.h>

#include <cstring>

#include "common/CallIdRanges.h"
#include "model/CallFeatures.h"
#include "model/EventDelivery.h"
#include "model/LineCaps.h"
#include "model/ProviderState.h"
#include "model/RetiredCalls.h"
#include "provider/TspiExports.h"
#include "support/LineModelFixture.h"

namespace {

using LineTableTest = LineModelFixture;

TEST_F(LineTableTest, RecordsKeepTheirAddressesWhenTheTableGrows) {
    OpenLine(0);
    PhoneLine* pFirst = &Line(0);
    PhoneLine* pThird = &Line(2);
    EnsureLineRecords(300);
    EXPECT_EQ(&g_PhoneLines[0], pFirst);
    EXPECT_EQ(&g_PhoneLines[2], pThird);
    EXPECT_EQ(GetPosFromLineRecord(pFirst), 0);
    EXPECT_EQ(GetPosFromLineRecord(reinterpret_cast<BYTE*>(pFirst) + 1), -1);
}

TEST_F(LineTableTest, FourthCallIsRefusedAndNothingIsRaised) {
    OpenLine(0);
    for (LONG k = 0; k < 3; ++k) EXPECT_EQ(AddCall(0, 0), k);
    PhoneCall* before[3] = {Call(0, 0), Call(0, 1), Call(0, 2)};
    DWORD dwCounter = g_dwPBXCallCounter;
    CEventRecorder::Reset();

    EXPECT_EQ(AddCall(0, 0), -1);
    EXPECT_TRUE(Events().empty());
    for (LONG k = 0; k < 3; ++k) EXPECT_EQ(Call(0, k), before[k]);
    EXPECT_EQ(g_dwPBXCallCounter, dwCounter + 1);  // every generated call counts, a refused one too
}

// Ids the provider invents (a call placed through TAPI) run on outside the
// range of the PBX's call numbers, also where their counter wraps.
TEST_F(LineTableTest, InventedCallIdsRunOnOutsideThePbxRangeAndGivenIdsLeaveTheCounterAlone) {
    for (DWORD dwStart : {0u, 0x7FFFFFFEu, 0xFFFFFFFEu}) {
        SCOPED_TRACE(dwStart);
        RemoveAllCalls();
        g_dwNextCallID = dwStart;
        LONG first = GenerateNewCall(0, nullptr, LINECALLORIGIN_INBOUND, 0, 0, -1);
        LONG second = GenerateNewCall(0, nullptr, LINECALLORIGIN_INBOUND, 0, 0, -1);
        const DWORD dwFirst = Call(0, first)->m_pLineCallInfo->dwCallID;
        const DWORD dwSecond = Call(0, second)->m_pLineCallInfo->dwCallID;
        EXPECT_NE(dwFirst, dwSecond);
        for (DWORD dwId : {dwFirst, dwSecond}) {
            EXPECT_NE(dwId, 0u);
            EXPECT_FALSE(IsPbxCallNumber(dwId)) << std::hex << dwId;
            EXPECT_GE(dwId, 0x80000000u) << std::hex << dwId;
        }
    }

    DWORD dwCounter = g_dwNextCallID;
    LONG given = GenerateNewCall(0, nullptr, LINECALLORIGIN_INBOUND, 17, 4711, -1);
    EXPECT_EQ(Call(0, given)->m_pLineCallInfo->dwCallID, 4711u);
    EXPECT_EQ(Call(0, given)->m_dwPBXCall, 17u);
    EXPECT_EQ(g_dwNextCallID, dwCounter);
}

TEST_F(LineTableTest, DeadCallTestRemovesIdleAndUnknownCalls) {
    // On a closed line an unknown second call is idled and removed at once.
    AddCall(1, LINECALLSTATE_CONNECTED);
    AddCall(1, LINECALLSTATE_UNKNOWN);
    PhoneCall* pFirst = Call(1, 0);
    EXPECT_EQ(DeadCallTest(1), 1u);
    EXPECT_EQ(Call(1, 0), pFirst);
    EXPECT_EQ(Call(1, 1), nullptr);
    EXPECT_EQ(DeadCallTest(1), 0u);

    OpenLine(0);
    AddCall(0, LINECALLSTATE_IDLE);  // stays: the line is open and TAPI has not closed it
    AddCall(0, LINECALLSTATE_IDLE);
    ASSERT_EQ(GetCallCount(0), 2u);
    EXPECT_EQ(DeadCallTest(0), 1u);
    EXPECT_EQ(GetCallCount(0), 0u);
}

// A call that leaves its line while TAPI may still hold its handle keeps
// its record, so that no later call is given the same handle; TAPI's close
// of the call, or of its line, lets it go.
TEST_F(LineTableTest, RemovedCallKeepsItsHandleUntilTapiLetsGo) {
    OpenLine(0);
    OpenLine(1);
    const size_t nRetiredBefore = RetiredCallCount();
    AddCall(0, LINECALLSTATE_IDLE);
    PhoneCall* pOld = Call(0, 0);
    ASSERT_NE(pOld->m_htCall, nullptr) << "TAPI learnt the handle";
    ASSERT_EQ(DeadCallTest(0), 1u);
    EXPECT_EQ(GetCallCount(0), 0u);
    EXPECT_EQ(RetiredCallCount(), nRetiredBefore + 1);

    // Calls come and go (freed at once on the closed line 2); none gets the old handle.
    for (int n = 0; n < 50; ++n) {
        AddCall(2, LINECALLSTATE_CONNECTED);
        EXPECT_NE(Call(2, 0), pOld);
        RemovePhoneCall(Call(2, 0));
    }
    EXPECT_EQ(RetiredCallCount(), nRetiredBefore + 1) << "a call TAPI never knew is not kept";
    AddCall(0, LINECALLSTATE_CONNECTED);
    PhoneCall* pNew = Call(0, 0);
    ASSERT_NE(pNew, pOld);

    // TAPI still asks about the old call: it is gone, idle, without features.
    LINECALLSTATUS status;
    std::memset(&status, 0xCC, sizeof(status));
    status.dwTotalSize = sizeof(status);
    EXPECT_EQ(TSPI_lineGetCallStatus(reinterpret_cast<HDRVCALL>(pOld), &status), LINEERR_INVALCALLHANDLE);
    EXPECT_EQ(status.dwCallState, static_cast<DWORD>(LINECALLSTATE_IDLE));
    EXPECT_EQ(status.dwCallFeatures, 0u);
    EXPECT_EQ(TSPI_lineCloseCall(reinterpret_cast<HDRVCALL>(pOld)), 0);
    EXPECT_EQ(RetiredCallCount(), nRetiredBefore);
    EXPECT_EQ(Call(0, 0), pNew) << "closing the old handle left the new call alone";
    EXPECT_EQ(pNew->m_dwLastState, static_cast<DWORD>(LINECALLSTATE_CONNECTED));

    // Closing a line lets go of the records TAPI held on it, and only those.
    AddCall(1, LINECALLSTATE_IDLE);
    ASSERT_EQ(DeadCallTest(1), 1u);
    SetState(0, 0, LINECALLSTATE_IDLE);
    ASSERT_EQ(DeadCallTest(0), 1u);
    EXPECT_EQ(RetiredCallCount(), nRetiredBefore + 2);
    EXPECT_EQ(TSPI_lineClose(reinterpret_cast<HDRVLINE>(&Line(1))), 0);
    EXPECT_EQ(RetiredCallCount(), nRetiredBefore + 1);
    EXPECT_EQ(TSPI_lineCloseCall(reinterpret_cast<HDRVCALL>(pNew)), 0);
    EXPECT_EQ(RetiredCallCount(), nRetiredBefore);
}

}  // namespace
