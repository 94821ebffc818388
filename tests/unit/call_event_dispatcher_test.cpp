// PBX call events turned into TAPI calls: the messages TAPI sees, in order,
// the call numbers, and that no call record outlives what TAPI can see.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "common/UniqueHandle.h"
#include "manager/CGenericTSPIManager.h"
#include "manager/CallNumbers.h"
#include "manager/DialtoneCloser.h"
#include "manager/RequestThreads.h"
#include "manager/ServiceState.h"
#include "model/ProviderLock.h"
#include "model/ProviderState.h"
#include "pbx/EventStream.h"
#include "provider/TspiExports.h"
#include "support/LineModelFixture.h"
#include "support/TraceCapture.h"

namespace {

// (message, parameter 1, parameter 2 of a call state) as TAPI received it.
using Msg = std::tuple<DWORD, DWORD_PTR, DWORD_PTR>;
using Msgs = std::vector<Msg>;

Msg Info(DWORD dwStates) { return {LINE_CALLINFO, dwStates, 0}; }
Msg State(DWORD dwState, DWORD dwMode = 0) { return {LINE_CALLSTATE, dwState, dwMode}; }
// The line's call count changed (the fixture's lines ask for both kinds).
const Msgs kNumCalls{{LINE_ADDRESSSTATE, 0, 0}, {LINE_LINEDEVSTATE, LINEDEVSTATE_OTHER | LINEDEVSTATE_NUMCALLS, 0}};

Msgs Seq(std::initializer_list<Msgs> parts) {
    Msgs all;
    for (const Msgs& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

const Msgs kNewCall = Seq({{{LINE_NEWCALL, 0, 0}, Info(0x15D)}, kNumCalls});
const Msgs kConnected{State(LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE), Info(LINECALLINFOSTATE_CONNECTEDID)};
const Msgs kIdled = Seq({{State(LINECALLSTATE_IDLE)}, kNumCalls});
const Msgs kHungUp = Seq({{State(LINECALLSTATE_DISCONNECTED)}, kIdled});

class CallEventDispatcherTest : public LineModelFixture {
protected:
    // An event after which only its own messages are recorded.
    static void Step(const wchar_t* uuid, const wchar_t* extension, const wchar_t* state, const wchar_t* direction,
                     const wchar_t* caller = L"0301234567", const wchar_t* callee = L"21") {
        CEventRecorder::Reset();
        Event(uuid, extension, state, direction, caller, callee);
    }

    // The messages of one line, without the feature updates (LINECALLINFOSTATE_OTHER) around them.
    Msgs Messages(HTAPILINE htLine) const {
        Msgs messages;
        for (const RecordedEvent& e : CEventRecorder::s_events) {
            if (e.htLine != htLine) continue;
            if (e.dwMsg == LINE_CALLINFO && e.dwParam1 == LINECALLINFOSTATE_OTHER) continue;
            messages.emplace_back(e.dwMsg, e.dwMsg == LINE_NEWCALL ? 0 : e.dwParam1,
                                  e.dwMsg == LINE_CALLSTATE ? e.dwParam2 : 0);
        }
        return messages;
    }

    static std::wstring Number(const PhoneCall* pCall, DWORD LINECALLINFO::*offsetField) {
        return TextAt(pCall->m_pLineCallInfo, pCall->m_pLineCallInfo->*offsetField);
    }

    static DWORD CallID(const PhoneCall* pCall) { return pCall->m_pLineCallInfo->dwCallID; }

    // TAPI lets go of every call the lines still show, as it does after idle;
    // then no call record may be left.
    void CloseAllCallsLeavesNone() {
        for (LONG pos = 0; pos < static_cast<LONG>(g_dwDeviceCount); ++pos) {
            while (PhoneCall* pCall = Call(pos, 0)) {
                ASSERT_EQ(pCall->m_dwLastState, static_cast<DWORD>(LINECALLSTATE_IDLE)) << "TAPI would still show the call";
                ASSERT_EQ(TSPI_lineCloseCall(reinterpret_cast<HDRVCALL>(pCall)), 0);
            }
            EXPECT_EQ(GetCallCount(static_cast<DWORD>(pos)), 0u) << "line " << pos;
        }
    }

    // Waits until the dial-tone closer started so far is done with the model
    // (an answer on a line without a call in dial tone starts none).
    static void WaitForCloser(const CTraceCapture& capture) {
        ASSERT_TRUE(WaitUntil([&] {
            return capture.Contains(L"AsyncCloseUnknownDialtoneThread.End") ||
                   capture.Contains(L"StartDialtoneCloseRequest.End.No call in dial tone");
        })) << "the dial-tone closer did not finish";
    }
};

// One PBX event and what each of the lines 21 and 22 hears of it.
struct EventStep { const wchar_t *uuid, *extension, *state, *direction, *caller, *callee; Msgs at21, at22; };
EventStep In(const wchar_t* uuid, const wchar_t* extension, const wchar_t* state, Msgs at21, Msgs at22 = {}) {
    return {uuid, extension, state, L"inbound", L"0301234567", extension, std::move(at21), std::move(at22)};
}
EventStep Out(const wchar_t* uuid, const wchar_t* callee, const wchar_t* state, Msgs at21) {
    return {uuid, L"21", state, L"outbound", L"21", callee, std::move(at21), {}};
}

const Msgs kRing = Seq({kNewCall, {State(LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE)}, kNumCalls, {Info(0x18140)}});
const Msgs kCallerDial = Seq({kNewCall, {State(LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL)}, kNumCalls});
// A callee of five digits or more is dialled with a proceeding state.
Msgs Dial(bool bProceeding) {
    Msgs dial = Seq({kNumCalls, {Info(0x8140), State(LINECALLSTATE_DIALING)}});
    if (bProceeding) dial.push_back(State(LINECALLSTATE_PROCEEDING));
    return Seq({dial, {Info(0x10100), State(LINECALLSTATE_RINGBACK)}, kNumCalls});
}

// Each call scenario as the PBX reports it, with the TAPI messages of every
// step. After each step the call carries the event's numbers and the number
// of its PBX call; at the end TAPI can let go of every call, and no call
// number is left behind.
TEST_F(CallEventDispatcherTest, CallScenariosGiveTapiTheirMessagesInOrder) {
    const struct { const char* pszName; std::vector<EventStep> steps; } scenarios[] = {
        {"incoming call rings, is answered and hung up",
         {In(L"u1", L"21", L"ring", kRing), In(L"u1", L"21", L"answer", kConnected), In(L"u1", L"21", L"hangup", kHungUp)}},
        {"call offered to two extensions is idled where it was not answered",
         {In(L"u2", L"21", L"ring", kRing), In(L"u2", L"22", L"ring", {}, kRing),
          In(L"u2", L"22", L"answer", kIdled, kConnected), In(L"u2", L"22", L"hangup", {}, kHungUp)}},
        // A ring group member without a line here takes the call: no copy on
        // our lines may stay offered, filling their call slots.
        {"call answered at an extension without a line is idled on every line",
         {In(L"g1", L"21", L"ring", kRing), In(L"g1", L"22", L"ring", {}, kRing),
          In(L"g1", L"4711", L"answer", kIdled, kIdled), In(L"g1", L"4711", L"hangup", {})}},
        {"call hung up at an extension without a line is idled on every line",
         {In(L"g2", L"21", L"ring", kRing), In(L"g2", L"22", L"ring", {}, kRing),
          In(L"g2", L"4711", L"hangup", kIdled, kIdled)}},
        {"caller hanging up before the answer idles each copy once",
         {In(L"u3", L"21", L"ring", kRing), In(L"u3", L"22", L"ring", {}, kRing),
          In(L"u3", L"21", L"hangup", kHungUp, kIdled), In(L"u3", L"22", L"hangup", {})}},
        {"outgoing call from the phone to a short number",
         {Out(L"o1", L"1234", L"caller-dial", kCallerDial), Out(L"o1", L"1234", L"dial", Dial(false)),
          Out(L"o1", L"1234", L"answer", kConnected), Out(L"o1", L"1234", L"hangup", kHungUp)}},
        {"outgoing call from the phone to a long number",
         {Out(L"o2", L"12345", L"caller-dial", kCallerDial), Out(L"o2", L"12345", L"dial", Dial(true)),
          Out(L"o2", L"12345", L"answer", kConnected), Out(L"o2", L"12345", L"hangup", kHungUp)}},
        // One PBX call on two extensions: the end of one leg leaves the other
        // leg's call and number alone until it ends too.
        {"each leg of an internal call ends on its own hangup",
         {Out(L"int", L"22", L"caller-dial", kCallerDial), Out(L"int", L"22", L"dial", Dial(false)),
          {L"int", L"22", L"ring", L"inbound", L"21", L"22", {}, kRing},
          {L"int", L"22", L"answer", L"inbound", L"21", L"22", {}, kConnected}, Out(L"int", L"22", L"answer", kConnected),
          Out(L"int", L"22", L"hangup", kHungUp), {L"int", L"22", L"hangup", L"inbound", L"21", L"22", {}, kHungUp}}},
    };
    const HTAPILINE ht21 = OpenLine(0), ht22 = OpenLine(1);
    for (const auto& scenario : scenarios) {
        SCOPED_TRACE(scenario.pszName);
        const DWORD dwFirstNumber = g_dwNextCallNumber;
        for (const EventStep& step : scenario.steps) {
            SCOPED_TRACE(testing::PrintToString(std::wstring(step.extension) + L" " + step.state));
            CTraceCapture capture(5);
            Step(step.uuid, step.extension, step.state, step.direction, step.caller, step.callee);
            const std::wstring state = step.state;
            const LONG lLinePos = GetPosFromAddress(step.extension);
            // An answer on a line starts a dial-tone closer, which must leave a talking call alone.
            if (state == L"answer" && lLinePos >= 0) WaitForCloser(capture);
            EXPECT_EQ(Messages(ht21), step.at21);
            EXPECT_EQ(Messages(ht22), step.at22);
            const PhoneCall* pCall = lLinePos < 0 ? nullptr : Call(lLinePos, 0);
            if (pCall == nullptr || state == L"hangup") continue;
            EXPECT_EQ(g_mapCallUuid[CallID(pCall)], step.uuid) << "the call carries the number of its PBX call";
            if (state == L"answer")
                EXPECT_EQ(Number(pCall, &LINECALLINFO::dwConnectedIDOffset),
                          std::wstring(step.direction) == L"inbound" ? step.caller : step.callee);
            else {
                EXPECT_EQ(Number(pCall, &LINECALLINFO::dwCallerIDOffset), step.caller);
                EXPECT_EQ(Number(pCall, &LINECALLINFO::dwCalledIDOffset), step.callee);
            }
        }
        EXPECT_EQ(g_dwNextCallNumber, dwFirstNumber + 1) << "one PBX call, one number";
        CloseAllCallsLeavesNone();
        EXPECT_TRUE(g_mapCallNumber.empty());
        EXPECT_TRUE(g_mapCallUuid.empty());
    }
}

// An event of a PBX call the provider has no number for (never seen, or
// ended already) touches no call of the line, not even the line's only one:
// a stray "hangup" does not end the connected call, a stray "answer" does
// not connect the offered one.
TEST_F(CallEventDispatcherTest, EventsOfAnUnknownCallTouchNoOtherCall) {
    const struct {
        const char* pszName;
        const wchar_t* pszState;
        const wchar_t* pszUuid;
        DWORD dwLineCallState;  // of the line's one call
    } cases[] = {
        {"hangup of a call never seen", L"hangup", L"never-seen", LINECALLSTATE_CONNECTED},
        {"answer of a call never seen", L"answer", L"never-seen", LINECALLSTATE_OFFERING},
        {"hangup of a call that ended", L"hangup", L"ended", LINECALLSTATE_CONNECTED},
        {"answer of a call that ended", L"answer", L"ended", LINECALLSTATE_OFFERING},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        g_RingsSeen.Clear();
        HTAPILINE htLine = OpenLine(0);
        Event(L"ended", L"21", L"ring", L"inbound");
        Event(L"ended", L"21", L"hangup", L"inbound");
        ASSERT_EQ(TSPI_lineCloseCall(reinterpret_cast<HDRVCALL>(Call(0, 0))), 0);
        Event(L"current", L"21", L"ring", L"inbound");
        if (c.dwLineCallState == LINECALLSTATE_CONNECTED) Event(L"current", L"21", L"answer", L"inbound");
        ASSERT_EQ(GetCallCount(0), 1u);
        PhoneCall* pCall = Call(0, 0);
        ASSERT_EQ(pCall->m_dwLastState, c.dwLineCallState);
        const auto numbers = g_mapCallNumber;

        CTraceCapture capture(5);
        Step(c.pszUuid, L"21", c.pszState, L"inbound");
        EXPECT_TRUE(Messages(htLine).empty());
        EXPECT_TRUE(capture.Contains(L"CGenericTSPIManager::DispatchEvents.Abort.Unknown call"));
        EXPECT_EQ(pCall->m_dwLastState, c.dwLineCallState);
        EXPECT_EQ(g_mapCallNumber, numbers) << "nothing is entered for an unknown call";

        Event(L"current", L"21", L"hangup", L"inbound");
        CloseAllCallsLeavesNone();
    }
}

// An event the PBX sends without "direction" is judged from its other
// members and traced; none is dropped for the lack of it.
TEST_F(CallEventDispatcherTest, EventWithoutDirectionIsJudgedFromItsMembers) {
    const HTAPILINE htLines[] = {OpenLine(0), OpenLine(1)};
    // Numbers of six digits or fewer reach the dispatcher as sent.
    auto message = [](const wchar_t* uuid, const wchar_t* extension, const wchar_t* state, const wchar_t* caller,
                      const wchar_t* callee) {
        return std::wstring(L"{\"uuid\":\"") + uuid + L"\",\"extension\":\"" + extension + L"\",\"caller\":\"" + caller +
               L"\",\"callee\":\"" + callee + L"\",\"state\":\"" + state + L"\"}";
    };
    const struct {
        const char* pszName;
        std::wstring text;
        LONG lLinePos;
        const wchar_t* pszJudged;
        DWORD dwStateAfter;  // of the line's first call
        const wchar_t* pszConnectedID;
    } rows[] = {
        {"ring to the extension", message(L"in", L"21", L"ring", L"030123", L"21"), 0, L"inbound", LINECALLSTATE_OFFERING, nullptr},
        {"answer of the incoming call", message(L"in", L"21", L"answer", L"030123", L"21"), 0, L"inbound",
         LINECALLSTATE_CONNECTED, L"030123"},
        {"ring with a group as callee", message(L"grp", L"22", L"ring", L"030765", L"600"), 1, L"inbound",
         LINECALLSTATE_OFFERING, nullptr},
        {"answer with a group as callee goes by the call", message(L"grp", L"22", L"answer", L"030765", L"600"), 1, L"",
         LINECALLSTATE_CONNECTED, L"030765"},
        {"hangup of the incoming call", message(L"in", L"21", L"hangup", L"030123", L"21"), 0, L"inbound",
         LINECALLSTATE_IDLE, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pszName);
        CTraceCapture capture(5);
        CEventRecorder::Reset();
        ORVO_HandleMessage(row.text, L"17", false);
        EXPECT_TRUE(capture.Contains(std::wstring(L"Func.ORVO_HandleMessage.Info.No direction, judged \"") +
                                     row.pszJudged + L"\" (event id 17)"));
        EXPECT_FALSE(Messages(htLines[row.lLinePos]).empty()) << "the event was acted on";
        PhoneCall* pCall = Call(row.lLinePos, 0);
        ASSERT_NE(pCall, nullptr);
        EXPECT_EQ(pCall->m_dwLastState, row.dwStateAfter);
        if (row.pszConnectedID != nullptr) { EXPECT_EQ(Number(pCall, &LINECALLINFO::dwConnectedIDOffset), row.pszConnectedID); }
    }

    // An outgoing call from the phone of 22, which the ring left busy: judged outbound.
    Event(L"grp", L"22", L"hangup", L"inbound", L"030765", L"600");
    CloseAllCallsLeavesNone();
    CTraceCapture capture(5);
    ORVO_HandleMessage(message(L"out", L"22", L"caller-dial", L"22", L"0309999"), L"18", false);
    EXPECT_TRUE(capture.Contains(L"Func.ORVO_HandleMessage.Info.No direction, judged \"outbound\" (event id 18)"));
    ASSERT_NE(Call(1, 0), nullptr);
    EXPECT_EQ(Call(1, 0)->m_dwLastState, static_cast<DWORD>(LINECALLSTATE_DIALTONE));
}

// A message that is no JSON object is rejected with a trace line of its own,
// and the messages after it are read as usual.
TEST_F(CallEventDispatcherTest, BrokenMessageCostsOnlyItself) {
    HTAPILINE htLine = OpenLine(0);
    for (const wchar_t* pszBroken : {L"", L"{\"uuid\":\"x\",", L"{\"uuid\":\"x\"}{\"uuid\":\"y\"}", L"[1,2]"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(pszBroken)));
        CTraceCapture capture(2);
        ORVO_HandleMessage(pszBroken, L"41", false);
        EXPECT_TRUE(capture.Contains(std::wstring(L"Func.ORVO_HandleMessage.Warning.Rejected, not a JSON object (event id 41): ") +
                                     pszBroken));
    }
    ORVO_HandleMessage(L"{\"uuid\":\"ok\",\"extension\":\"21\",\"state\":\"ring\",\"direction\":\"inbound\"}", L"42", false);
    ASSERT_EQ(GetCallCount(0), 1u);
    EXPECT_EQ(Messages(htLine), kRing);
}

// PBX call numbers run on within their range: after the last one comes 1,
// never 0 and never an id of the range the provider invents ids in.
TEST_F(CallEventDispatcherTest, CallNumbersWrapWithinThePbxRange) {
    OpenLine(0);
    g_dwNextCallNumber = 0x7FFFFFFF;
    const std::vector<DWORD> expected{0x7FFFFFFF, 1, 2};
    for (size_t i = 0; i < expected.size(); ++i) {
        const std::wstring uuid = L"w" + std::to_wstring(i);
        Event(uuid.c_str(), L"21", L"ring", L"inbound");
        EXPECT_EQ(CallID(Call(0, 0)), expected[i]);
        EXPECT_EQ(g_mapCallUuid[expected[i]], uuid);
        Event(uuid.c_str(), L"21", L"hangup", L"inbound");
        CloseAllCallsLeavesNone();
    }
}

// One row per kind of refused event.
TEST_F(CallEventDispatcherTest, EventsThatChangeNothing) {
    OpenLine(0);
    Event(L"rung", L"21", L"ring", L"inbound");
    CEventRecorder::Reset();
    const struct { const wchar_t *uuid, *extension, *state, *direction, *abort; } cases[] = {
        {L"a", L"21", L"ring", L"outbound", L"Not inbound"},
        {L"rung", L"21", L"ring", L"inbound", L"Double Call"},
        // Extensions that are no line of ours are found so under the lock: a
        // re-initialisation may be adding their line at that moment.
        {L"a", L"4711", L"ring", L"inbound", L"Wrong line pos"},
        {L"a", L"21", L"Ring", L"inbound", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.state) + L" " + c.extension));
        CTraceCapture capture(6);
        const DWORD dwNext = g_dwNextCallNumber;
        Event(c.uuid, c.extension, c.state, c.direction);
        EXPECT_TRUE(Events().empty());
        EXPECT_EQ(g_dwNextCallNumber, dwNext);
        if (c.abort != nullptr) { EXPECT_TRUE(capture.Contains(L"CGenericTSPIManager::DispatchEvents.Abort." + std::wstring(c.abort))); }
        else EXPECT_TRUE(capture.Contains(L"CGenericTSPIManager::DispatchEvents.End"));
        if (std::wstring(c.extension) == L"4711") {
            const std::vector<std::wstring> m = capture.Messages();
            auto at = [&](const wchar_t* pszStart) {
                return std::find_if(m.begin(), m.end(), [&](const std::wstring& s) { return s.rfind(pszStart, 0) == 0; }) - m.begin();
            };
            const auto nAbort = at(L"CGenericTSPIManager::DispatchEvents.Abort.Wrong line pos");
            EXPECT_LT(at(L"CS_BEGIN 61 "), nAbort) << "the line is looked up before the lock is taken";
            EXPECT_LT(nAbort, at(L"CS_END 61 "));
            EXPECT_LT(at(L"CS_END 61 "), static_cast<std::ptrdiff_t>(m.size())) << "the lock is not left";
        }
    }
    EXPECT_EQ(GetCallCount(0), 1u);
}

// However a call ends, its call number goes once no line shows the PBX call:
// idled by presence or by a drop the PBX answered with 404 (both end it with
// SendIdleState), idled by its dial-tone closer, its line closed, its record
// taken away; and a number no call took is not kept either.
TEST_F(CallEventDispatcherTest, EveryEndOfACallLeavesNoCallNumberBehind) {
    struct Case { const char* pszName; std::function<void()> end; };
    const Case cases[] = {
        {"presence or drop 404", [] { CProviderLockGuard lock(LockOwner::ClearStaleCalls); SendIdleState(0, 0); }},
        {"dial-tone closer",
         [] {
             CProviderLockGuard lock(LockOwner::AsyncCloseUnknownDialtoneThread);
             RaiseCallMsg(0, 0, LINE_CALLSTATE, LINECALLSTATE_IDLE, 0, 0);
         }},
        {"line closed", [] { ASSERT_EQ(TSPI_lineClose(reinterpret_cast<HDRVLINE>(&g_PhoneLines[0])), 0); }},
        {"record taken away", [] { CProviderLockGuard lock(LockOwner::ReinitializeDevices); RemovePhoneCallSilent(g_PhoneLines[0].m_pPhoneCall[0]); }},
        {"no free call slot",
         [this] {
             RemoveAllCalls();
             for (int i = 0; i < kCallSlots; ++i) AddCall(0, LINECALLSTATE_CONNECTED);
             const DWORD dwCallID = CallID(Call(0, 0));
             Event(L"full", L"21", L"ring", L"inbound");
             ASSERT_EQ(CallID(Call(0, 0)), dwCallID);
         }},
    };
    int nCall = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        OpenLine(0);
        const std::wstring uuid = L"ended-" + std::to_wstring(++nCall);
        Event(uuid.c_str(), L"21", L"ring", L"inbound");
        Event(uuid.c_str(), L"21", L"answer", L"inbound");
        ASSERT_EQ(g_mapCallNumber.size(), 1u);
        c.end();
        EXPECT_TRUE(g_mapCallNumber.empty());
        EXPECT_TRUE(g_mapCallUuid.empty());
        EXPECT_TRUE(g_mapCallLines.empty());
        RemoveAllCalls();
    }
}

// Rings are remembered (a replayed one offers no second call), the latest of them only.
TEST_F(CallEventDispatcherTest, OnlyTheLatestRingsAreRemembered) {
    for (int i = 0; i < 100000; ++i) ASSERT_TRUE(MarkRingSeen(L"r" + std::to_wstring(i), L"21"));
    EXPECT_EQ(g_RingsSeen.Size(), CRingsSeen::kRingsRemembered);
    EXPECT_FALSE(MarkRingSeen(L"r99999", L"21"));
    EXPECT_FALSE(MarkRingSeen(std::to_wstring(100000 - CRingsSeen::kRingsRemembered).insert(0, L"r"), L"21"));
    EXPECT_TRUE(MarkRingSeen(L"r0", L"21"));
}

// Silence while the stream was down is no evidence that a call never went
// on: its events may have gone with the stream. The closer idles a call left
// in dial tone after its wait only when the stream stayed up all along.
TEST_F(CallEventDispatcherTest, DialtoneCloserIdlesACallLeftInDialtoneOnlyWhenTheStreamStayedUp) {
    HTAPILINE htLine = OpenLine(0);
    Event(L"d1", L"21", L"caller-dial", L"outbound", L"21", L"");
    enum class Down { During, DuringAndBack, AtStartAndBack, Never };  // Never ends the call: last
    for (Down down : {Down::During, Down::DuringAndBack, Down::AtStartAndBack, Down::Never}) {
        SCOPED_TRACE(static_cast<int>(down));
        CTraceCapture capture(5);
        NoteStreamOpened();
        if (down == Down::AtStartAndBack) NoteStreamDown();
        CEventRecorder::Reset();
        {
            CProviderLockGuard lock(LockOwner::lineMakeCall);
            StartDialtoneCloseRequest(0, 300);
            EXPECT_EQ(GetCallState(0, 0), static_cast<DWORD>(LINECALLSTATE_DIALTONE)) << "idled before its wait";
        }
        if (down == Down::During || down == Down::DuringAndBack) NoteStreamDown();
        if (down == Down::DuringAndBack || down == Down::AtStartAndBack) NoteStreamOpened();
        WaitForCloser(capture);
        EXPECT_EQ(Messages(htLine), down == Down::Never ? kIdled : Msgs{});
        EXPECT_EQ(GetCallState(0, 0), static_cast<DWORD>(down == Down::Never ? LINECALLSTATE_IDLE : LINECALLSTATE_DIALTONE));
    }
    CloseAllCallsLeavesNone();
    ResetServiceState();
}

// A closer still waiting at shutdown belongs to the stopped provider: it is
// dropped and never acts (a later load may reuse the library).
TEST_F(CallEventDispatcherTest, ShutdownDropsAWaitingDialtoneCloser) {
    CTraceCapture capture(5);
    HTAPILINE htLine = OpenLine(0);
    Event(L"d2", L"21", L"caller-dial", L"outbound", L"21", L"");
    CEventRecorder::Reset();
    {
        CProviderLockGuard lock(LockOwner::lineMakeCall);
        StartDialtoneCloseRequest(0, 300);
    }
    EndRequestThreads();
    // A request of the next run, due after the dropped closer would have been.
    const UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_EQ(QueueRequest(800, [&] { SetEvent(done.get()); }), RequestQueued::Yes);
    ASSERT_EQ(WaitForSingleObject(done.get(), 10000), WAIT_OBJECT_0);
    EXPECT_FALSE(capture.Contains(L"AsyncCloseUnknownDialtoneThread"));
    EXPECT_TRUE(Messages(htLine).empty());
    EXPECT_EQ(GetCallState(0, 0), static_cast<DWORD>(LINECALLSTATE_DIALTONE));
}

}  // namespace
