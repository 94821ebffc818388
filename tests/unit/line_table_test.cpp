// The line table: call creation and removal, packed slots, call ids and lookups.
#include <gtest/gtest.h>

#include "manager/ProviderState.h"
#include "model/CallFeatures.h"
#include "model/EventDelivery.h"
#include "model/LineCaps.h"
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

TEST_F(LineTableTest, RemovalPacksTheSlots) {
    for (LONG k = 0; k < 3; ++k) AddCall(0, 0);
    PhoneCall* pSecond = Call(0, 1);
    PhoneCall* pThird = Call(0, 2);
    RemovePhoneCall(Call(0, 0));
    EXPECT_EQ(Call(0, 0), pSecond);
    EXPECT_EQ(Call(0, 1), pThird);
    EXPECT_EQ(Call(0, 2), nullptr);
    EXPECT_EQ(GetCallCount(0), 2u);
    EXPECT_EQ(GetCallPosition(0, pThird), 1);
}

TEST_F(LineTableTest, InventedCallIdsRunOnAndGivenIdsLeaveTheCounterAlone) {
    LONG first = GenerateNewCall(0, nullptr, LINECALLORIGIN_INBOUND, 0, 0, -1);
    LONG second = GenerateNewCall(0, nullptr, LINECALLORIGIN_INBOUND, 0, 0, -1);
    DWORD dwFirst = Call(0, first)->m_pLineCallInfo->dwCallID;
    EXPECT_EQ(Call(0, second)->m_pLineCallInfo->dwCallID, dwFirst + 1);
    EXPECT_EQ(dwFirst, g_dwNextCallID - 1);

    DWORD dwCounter = g_dwNextCallID;
    LONG given = GenerateNewCall(0, nullptr, LINECALLORIGIN_INBOUND, 17, 4711, -1);
    EXPECT_EQ(Call(0, given)->m_pLineCallInfo->dwCallID, 4711u);
    EXPECT_EQ(Call(0, given)->m_dwPBXCall, 17u);
    EXPECT_EQ(g_dwNextCallID, dwCounter);
}

TEST_F(LineTableTest, NewCallIsAnnouncedAndTapiWritesItsHandle) {
    AddCall(1, 0);  // on a closed line: unannounced
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(Call(1, 0)->m_htCall, nullptr);

    HTAPILINE htLine = OpenLine(0);
    CEventRecorder::Reset();
    LONG k = AddCall(0, 0);
    PhoneCall* pCall = Call(0, k);

    ASSERT_GE(Events().size(), 2u);
    EXPECT_EQ(Events()[0].dwMsg, static_cast<DWORD>(LINE_NEWCALL));
    EXPECT_EQ(Events()[0].htLine, htLine);
    EXPECT_EQ(Events()[0].dwParam1, reinterpret_cast<DWORD_PTR>(pCall));
    EXPECT_EQ(Events()[0].dwParam2, reinterpret_cast<DWORD_PTR>(pCall));
    EXPECT_EQ(pCall->m_htCall, reinterpret_cast<HTAPICALL>(CEventRecorder::s_nextCallHandle));
    EXPECT_EQ(Events()[1].dwMsg, static_cast<DWORD>(LINE_CALLINFO));
    EXPECT_EQ(Events()[1].dwParam1, static_cast<DWORD_PTR>(0x15D));
    EXPECT_EQ(Events()[1].htCall, pCall->m_htCall);
}

TEST_F(LineTableTest, CallTapiAskedForIsNotAnnouncedAsNew) {
    OpenLine(0);
    CEventRecorder::Reset();
    HTAPICALL htCall = reinterpret_cast<HTAPICALL>(static_cast<ULONG_PTR>(0x777));
    LONG k = GenerateNewCall(0, htCall, LINECALLORIGIN_OUTBOUND, 0, 0, -1);
    ASSERT_EQ(k, 0);
    EXPECT_TRUE(EventsOf(LINE_NEWCALL).empty());
    ASSERT_FALSE(Events().empty());
    EXPECT_EQ(Events()[0].dwMsg, static_cast<DWORD>(LINE_CALLINFO));
    EXPECT_EQ(Events()[0].htCall, htCall);
    EXPECT_EQ(Call(0, 0)->m_htCall, htCall);
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

}  // namespace
