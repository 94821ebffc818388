// Events towards TAPI, the one lock they are raised under, and the line
// table's calls and the handles TAPI holds.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <future>
#include <thread>

#include "common/CallIdRanges.h"
#include "manager/CGenericTSPIManager.h"
#include "model/EventDelivery.h"
#include "model/EventOutbox.h"
#include "model/ProviderLock.h"
#include "model/ProviderState.h"
#include "model/RetiredCalls.h"
#include "provider/TspiExports.h"
#include "support/LineModelFixture.h"
#include "support/TraceCapture.h"

namespace {

using EventDeliveryTest = LineModelFixture;
using ProviderLockTest = LineModelFixture;
using LineTableTest = LineModelFixture;

// Each event's message and first parameter.
using Expected = std::pair<DWORD, DWORD_PTR>;
void ExpectSequence(const std::vector<RecordedEvent>& events, const std::vector<Expected>& expected) {
    std::vector<Expected> received;
    for (const RecordedEvent& e : events) received.emplace_back(e.dwMsg, e.dwParam1);
    EXPECT_EQ(received, expected);
}

TEST_F(EventDeliveryTest, StateChangeBringsItsStateThenEachChangedFeatureSetOnce) {
    HTAPILINE htLine = OpenLine(0);
    EnableAllCallFeatures(0);
    AddCall(0, LINECALLSTATE_OFFERING);
    AddCall(0, LINECALLSTATE_CONNECTED);
    PhoneCall* pOffered = Call(0, 0);
    PhoneCall* pConnected = Call(0, 1);
    ASSERT_EQ(Features(0, 0) & LINECALLFEATURE_ANSWER, 0u);
    CEventRecorder::Reset();

    // Holding the connected call changes its features and lets the offered call be answered.
    SetState(0, 1, LINECALLSTATE_ONHOLD);
    std::vector<RecordedEvent>& events = Events();
    ExpectSequence(events, {{LINE_CALLSTATE, LINECALLSTATE_ONHOLD},
                            {LINE_CALLINFO, LINECALLINFOSTATE_OTHER},
                            {LINE_CALLINFO, LINECALLINFOSTATE_OTHER}});
    EXPECT_EQ(events[0].htLine, htLine);
    EXPECT_EQ(events[0].htCall, pConnected->m_htCall);
    EXPECT_EQ(events[1].htCall, pOffered->m_htCall);
    EXPECT_EQ(events[2].htCall, pConnected->m_htCall);
    EXPECT_NE(Features(0, 0) & LINECALLFEATURE_ANSWER, 0u);

    // Nothing changed: the state alone.
    CEventRecorder::Reset();
    SetState(0, 1, LINECALLSTATE_ONHOLD);
    ExpectSequence(Events(), {{LINE_CALLSTATE, LINECALLSTATE_ONHOLD}});
}

// The call records state and mode; privilege bits accumulate and go to TAPI as third parameter.
TEST_F(EventDeliveryTest, CallStateIsRecordedAndPrivilegesAccumulate) {
    OpenLine(0);
    AddCall(0, 0);
    CEventRecorder::Reset();
    RaiseCallMsg(0, 0, LINE_CALLSTATE, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BUSY, LINECALLPRIVILEGE_OWNER);
    ASSERT_FALSE(Events().empty());
    EXPECT_EQ(Events()[0].dwParam3, 6u);
    const LINECALLSTATUS* pStatus = Call(0, 0)->m_pLineCallStatus;
    EXPECT_EQ(pStatus->dwCallState, static_cast<DWORD>(LINECALLSTATE_DISCONNECTED));
    EXPECT_EQ(pStatus->dwCallStateMode, static_cast<DWORD>(LINEDISCONNECTMODE_BUSY));
    EXPECT_EQ(pStatus->dwCallPrivilege, 6u);
    CEventRecorder::Reset();
    RaiseCallMsg(0, 0, LINE_CALLINFO, LINECALLINFOSTATE_CALLERID, 0, 0);
    ASSERT_EQ(Events().size(), 1u);
    EXPECT_EQ(Events()[0].dwParam3, 6u);
}

TEST_F(EventDeliveryTest, IdleOnAClosedLineRemovesTheCallAndPacksTheSlots) {
    AddCall(0, LINECALLSTATE_CONNECTED);
    AddCall(0, LINECALLSTATE_ONHOLD);
    EnableAllCallFeatures(0);
    UpdateAllFeatures(0, 1);
    PhoneCall* pHeld = Call(0, 1);
    CTraceCapture capture(6);

    SetState(0, 0, LINECALLSTATE_IDLE);
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(Call(0, 0), pHeld);
    EXPECT_EQ(Call(0, 1), nullptr);
    EXPECT_TRUE(capture.Contains(L"Func.RaiseCallMsg.Info.CloseCall nonopen lines"));
    // The held call alone may be taken back now.
    EXPECT_EQ(Features(0, 0), static_cast<DWORD>(LINECALLFEATURE_UNHOLD | LINECALLFEATURE_DROP));
    EXPECT_EQ(pHeld->m_qwReportedFeatures, static_cast<ULONGLONG>(LINECALLFEATURE_UNHOLD | LINECALLFEATURE_DROP) << 32);
}

TEST_F(EventDeliveryTest, SendIdleStateDisconnectsTalkingAndHeldCallsFirst) {
    struct Case { DWORD dwState; DWORD dwAddressStates, dwLineStates; std::vector<Expected> expected; };
    const Expected disconnected = {LINE_CALLSTATE, LINECALLSTATE_DISCONNECTED}, idle = {LINE_CALLSTATE, LINECALLSTATE_IDLE},
                   featuresLost = {LINE_CALLINFO, LINECALLINFOSTATE_OTHER}, numCalls = {LINE_LINEDEVSTATE, 0x801};
    // The lost drop is announced once, idle announces no features; the
    // filters decide which of the address and line state messages follow.
    const Case cases[] = {
        {LINECALLSTATE_CONNECTED, 0x21, 0x801, {disconnected, featuresLost, idle, {LINE_ADDRESSSTATE, 0}, numCalls}},
        {LINECALLSTATE_ONHOLD, 0, 0x800, {disconnected, featuresLost, idle, numCalls}},
        {LINECALLSTATE_DIALTONE, 0, 0x800, {idle, featuresLost, numCalls}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.dwState);
        OpenLine(0);
        Line(0).m_dwAddressStates = c.dwAddressStates;
        Line(0).m_dwLineStates = c.dwLineStates;
        AddCall(0, c.dwState);
        CEventRecorder::Reset();
        SendIdleState(0, 0);
        ExpectSequence(Events(), c.expected);
        for (const RecordedEvent& event : EventsOf(LINE_ADDRESSSTATE)) EXPECT_EQ(event.dwParam2, 0x21u);
        RemoveAllCalls();
    }
}

// What is raised inside the ProviderLock reaches TAPI once the outermost
// hold of it ends, never before, and no callback runs inside the lock (the
// fixture checks every test for that).
TEST_F(EventDeliveryTest, MessagesRaisedInsideTheLockReachTapiAfterItIsLeft) {
    OpenLine(0);
    struct Case {
        const char* pszName;
        std::function<void()> raise;
        std::vector<DWORD> messages;  // the first ones to arrive
    };
    const Case cases[] = {
        {"new call", [] { GenerateNewCall(0, nullptr, LINECALLORIGIN_INBOUND, 0, 0, -1); }, {LINE_NEWCALL, LINE_CALLINFO}},
        {"call state", [] { RaiseCallMsg(0, 0, LINE_CALLSTATE, LINECALLSTATE_OFFERING, 0, 0); }, {LINE_CALLSTATE}},
        {"call info", [] { RaiseCallMsg(0, 0, LINE_CALLINFO, LINECALLINFOSTATE_CALLERID, 0, 0); }, {LINE_CALLINFO}},
        {"line state", [] { RaiseLineMsg(0, LINE_LINEDEVSTATE, LINEDEVSTATE_OUTOFSERVICE, 0, 0); }, {LINE_LINEDEVSTATE}},
        {"line created", [] { RaiseLineMsg(1, LINE_CREATE, 0, 1, 0); }, {LINE_CREATE}},
        {"line removed", [] { RaiseLineMsg(2, LINE_REMOVE, kDeviceIDBase + 2, 0, 0); }, {LINE_REMOVE}},
        {"completion", [] { RaiseAsyncCompletion(41, 0); }, {CEventRecorder::kCompletion}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        CEventRecorder::Reset();
        {
            CProviderLockGuard outer(LockOwner::DispatchEvents);
            {
                CProviderLockGuard inner(LockOwner::RaiseCallMsg);
                c.raise();
            }
            EXPECT_TRUE(CEventRecorder::s_arrivals.empty()) << "told inside the lock";
        }
        ASSERT_GE(CEventRecorder::s_arrivals.size(), c.messages.size());
        for (size_t i = 0; i < c.messages.size(); ++i) EXPECT_EQ(CEventRecorder::s_arrivals[i].first, c.messages[i]);
    }
    EXPECT_EQ(QueuedMessageCount(), 0u);
}

// A hangup's pause before IDLE gives way to other calls' messages: in a burst
// of hangups, a sleep each would hold up every line, and the ended calls in
// their slots. A pause of a day stands for one that is waited: the run's
// time limit ends the test then.
TEST_F(EventDeliveryTest, HangupPauseGivesWayToOtherCallsMessages) {
    OpenLine(0);
    {
        CProviderLockGuard lock(LockOwner::DispatchEvents);
        GenerateNewCall(0, nullptr, LINECALLORIGIN_INBOUND, 0, 0, -1);
        GenerateNewCall(0, nullptr, LINECALLORIGIN_INBOUND, 0, 0, -1);
        RaiseCallMsg(0, 0, LINE_CALLSTATE, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL, 0);
        QueuePause(Call(0, 0), 24 * 60 * 60 * 1000);
        RaiseCallMsg(0, 0, LINE_CALLSTATE, LINECALLSTATE_IDLE, 0, 0);
        RaiseCallMsg(0, 1, LINE_CALLSTATE, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE, 0);
    }
    std::vector<DWORD_PTR> states;
    for (const auto& arrival : CEventRecorder::s_arrivals)
        if (arrival.first == LINE_CALLSTATE) states.push_back(arrival.second);
    EXPECT_EQ(states, (std::vector<DWORD_PTR>{LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE, LINECALLSTATE_OFFERING}));
    EXPECT_EQ(QueuedMessageCount(), 0u);
}

// A new call on an open line is announced with LINE_NEWCALL; TAPI writes
// its handle where dwParam2 points, and the messages raised before TAPI
// answered carry that handle too. A call on a closed line is not announced.
TEST_F(EventDeliveryTest, NewCallIsAnnouncedAndItsMessagesCarryTheHandleTapiWrote) {
    AddCall(1, 0);
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(Call(1, 0)->m_htCall, nullptr);
    const HTAPILINE htLine = OpenLine(0);
    {
        CProviderLockGuard lock(LockOwner::DispatchEvents);
        const LONG lCallPos = GenerateNewCall(0, nullptr, LINECALLORIGIN_INBOUND, 0, 0, -1);
        RaiseCallMsg(0, lCallPos, LINE_CALLSTATE, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE, 0);
        EXPECT_EQ(Call(0, lCallPos)->m_htCall, nullptr);
    }
    ExpectSequence(Events(), {{LINE_NEWCALL, reinterpret_cast<DWORD_PTR>(Call(0, 0))},
                              {LINE_CALLINFO, 0x15D},
                              {LINE_CALLINFO, LINECALLINFOSTATE_OTHER},
                              {LINE_CALLSTATE, LINECALLSTATE_OFFERING}});
    const HTAPICALL htCall = reinterpret_cast<HTAPICALL>(CEventRecorder::s_nextCallHandle);
    EXPECT_EQ(Events()[0].htLine, htLine);
    for (size_t i = 1; i < Events().size(); ++i) EXPECT_EQ(Events()[i].htCall, htCall) << "event " << i;
    EXPECT_EQ(Call(0, 0)->m_htCall, htCall);

    // A call TAPI asked for is not announced as new; its messages carry TAPI's handle.
    CEventRecorder::Reset();
    const HTAPICALL htAsked = reinterpret_cast<HTAPICALL>(static_cast<ULONG_PTR>(0x777));
    const LONG lAsked = GenerateNewCall(0, htAsked, LINECALLORIGIN_OUTBOUND, 0, 0, -1);
    EXPECT_TRUE(EventsOf(LINE_NEWCALL).empty());
    ASSERT_FALSE(Events().empty());
    EXPECT_EQ(Events()[0].dwMsg, static_cast<DWORD>(LINE_CALLINFO));
    EXPECT_EQ(Events()[0].htCall, htAsked);
    EXPECT_EQ(Call(0, lAsked)->m_htCall, htAsked);
}

// A call TAPI placed is heard of only after the make-call's completion; after
// a failed one not at all, since TAPI has no such call.
TEST_F(EventDeliveryTest, PlacedCallIsHeardOfOnlyAfterItsCompletion) {
    OpenLine(0);
    struct Case {
        LONG lResult;
        std::vector<std::pair<DWORD, DWORD_PTR>> states;  // completions and call states, in arrival order
    };
    const DWORD kDone = CEventRecorder::kCompletion;
    const Case cases[] = {
        {0, {{kDone, 61}, {LINE_CALLSTATE, LINECALLSTATE_DIALTONE}, {LINE_CALLSTATE, LINECALLSTATE_DIALING}}},
        {LINEERR_OPERATIONFAILED, {{kDone, 61}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lResult);
        CEventRecorder::Reset();
        LONG lCallPos = -1;
        {
            CProviderLockGuard lock(LockOwner::lineMakeCall);
            lCallPos = GenerateNewCall(0, reinterpret_cast<HTAPICALL>(0x61), LINECALLORIGIN_OUTBOUND, 0, 0, -1);
            HoldCallMessages(Call(0, lCallPos), 61);
        }
        SetState(0, lCallPos, LINECALLSTATE_DIALTONE);
        EXPECT_TRUE(CEventRecorder::s_arrivals.empty());
        RaiseAsyncCompletion(61, c.lResult);
        SetState(0, lCallPos, LINECALLSTATE_DIALING);
        std::vector<std::pair<DWORD, DWORD_PTR>> states;
        for (const auto& arrival : CEventRecorder::s_arrivals)
            if (arrival.first == kDone || arrival.first == LINE_CALLSTATE) states.push_back(arrival);
        EXPECT_EQ(states, c.states);
        EXPECT_EQ(CEventRecorder::s_arrivals.front().first, kDone);
        RemoveAllCalls();
        EXPECT_EQ(QueuedMessageCount(), 0u);
    }
}

// The lock is re-entrant for its holder and traced with owner codes.
TEST_F(ProviderLockTest, NestedEntryNeitherBlocksNorLosesTheOuterHold) {
    CTraceCapture capture(6);
    {
        CProviderLockGuard outer(LockOwner::lineMakeCall);
        { CProviderLockGuard inner(LockOwner::RaiseCallMsg); }
        EXPECT_FALSE(LockIsFree()) << "the outer holder must still hold the lock";
    }
    EXPECT_TRUE(LockIsFree()) << "the lock must be free after the outer exit";
    // The inner exit clears the owner code although the outer holder still holds the lock.
    EXPECT_EQ(capture.Messages(),
              (std::vector<std::wstring>{L"CS_BEGIN 21 (0)", L"CS_BEGIN 51 (21)", L"CS_END 51 (51)", L"CS_END 21 (0)"}));
}

// The HTTP client asks this to report a PBX request made inside the lock.
TEST_F(ProviderLockTest, NamesItsHolderOnly) {
    std::promise<DWORD> entered;
    std::promise<void> release;
    std::thread holder([&] {
        CProviderLockGuard lock(LockOwner::DispatchEvents);
        entered.set_value(GetCurrentThreadId());
        release.get_future().wait();
    });
    const DWORD dwHolder = entered.get_future().get();
    EXPECT_TRUE(ProviderLockHeldBy(dwHolder));
    EXPECT_FALSE(ProviderLockHeldBy(GetCurrentThreadId()));
    release.set_value();
    holder.join();
    EXPECT_FALSE(ProviderLockHeldBy(dwHolder));
}

// The manager's reply reaches TAPI's completion procedure; without one it is only traced.
TEST_F(EventDeliveryTest, SendReplyReachesTheCompletionProcedure) {
    g_Manager.SendReply(17, LINEERR_OPERATIONFAILED);
    g_pfnAsyncCompletion = nullptr;
    CTraceCapture capture(6);
    g_Manager.SendReply(5, 0);
    EXPECT_EQ(CEventRecorder::s_completions, (std::vector<std::pair<DWORD, LONG>>{{17, LINEERR_OPERATIONFAILED}}));
    EXPECT_TRUE(capture.Contains(L"Func.CTspiManager::SendReply.Param._dwRequestID 5"));
}

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
