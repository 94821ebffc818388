// Calls placed and dropped through TAPI against the simulator: a drop only
// ever ends the call it was asked for, and a call handle is not given to a
// new call while TAPI may still use the old one.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "common/CallIdRanges.h"
#include "config/Settings.h"
#include "json/CJsonParserBase.h"
#include "manager/CGenericTSPIManager.h"
#include "manager/CallNumbers.h"
#include "manager/RequestThreads.h"
#include "model/EventDelivery.h"
#include "model/ProviderState.h"
#include "pbx/Session.h"
#include "provider/TspiExports.h"
#include "support/LineModelFixture.h"
#include "support/PbxSim.h"
#include "support/SuiteSimulatorFixture.h"

namespace {

constexpr DWORD kWaitMs = 10000;  // watchdog only

// The completions TAPI receives, from the request threads.
class CCompletions {
public:
    static void CALLBACK Record(DRV_REQUESTID dwRequestID, LONG lResult) {
        std::lock_guard<std::mutex> lock(s_mutex);
        s_results.emplace_back(dwRequestID, lResult);
        s_arrived.notify_all();
    }
    // Waits for the request's completion; false when none came in time.
    static bool WaitFor(DWORD dwRequestID, LONG& lResult) {
        std::unique_lock<std::mutex> lock(s_mutex);
        return s_arrived.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] {
            for (const auto& [dwID, lValue] : s_results)
                if (dwID == dwRequestID) return lResult = lValue, true;
            return false;
        });
    }
    static void Clear() {
        std::lock_guard<std::mutex> lock(s_mutex);
        s_results.clear();
    }

private:
    static std::mutex s_mutex;
    static std::condition_variable s_arrived;
    static std::vector<std::pair<DWORD, LONG>> s_results;
};
std::mutex CCompletions::s_mutex;
std::condition_variable CCompletions::s_arrived;
std::vector<std::pair<DWORD, LONG>> CCompletions::s_results;

class OutgoingCallsTest : public SuiteSimulatorFixture<LineModelFixture> {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SuiteSimulatorFixture::SetUp());
        ASSERT_GT(Login(), 0);
        // Make-calls produce no events: the tests play the PBX's events themselves.
        ASSERT_EQ(s_sim->Control(L"POST", L"settings", L"{\"make_call\":{\"outcome\":\"silent\"}}").dwStatus, 200u);
        ASSERT_TRUE(s_sim->ClearRequests());
        g_pfnAsyncCompletion = &CCompletions::Record;
        CCompletions::Clear();
        g_mapCallNumber.clear();
        g_mapCallUuid.clear();
        g_RingsSeen.Clear();
    }
    void TearDown() override {
        // The make-call's dial-tone closer would wait half a minute.
        EndRequestThreads();
        s_sim->Control(L"POST", L"reset");
        LineModelFixture::TearDown();
    }

    static void Event(const wchar_t* uuid, const wchar_t* extension, const wchar_t* state, const wchar_t* direction,
                      const wchar_t* caller, const wchar_t* callee) {
        g_Manager.DispatchEvents(uuid, extension, caller, callee, state, direction);
    }

    HDRVCALL MakeCall(DWORD dwRequestID, LONG lLinePos, const wchar_t* pszNumber) {
        HDRVCALL hdCall = nullptr;
        const HTAPICALL htCall = reinterpret_cast<HTAPICALL>(static_cast<ULONG_PTR>(0x7000 + dwRequestID));
        EXPECT_EQ(TSPI_lineMakeCall(dwRequestID, reinterpret_cast<HDRVLINE>(&Line(lLinePos)), htCall, &hdCall, pszNumber,
                                    0, nullptr),
                  static_cast<LONG>(dwRequestID));
        LONG lResult = -1;
        EXPECT_TRUE(CCompletions::WaitFor(dwRequestID, lResult)) << "no completion";
        EXPECT_EQ(lResult, 0);
        return hdCall;
    }

    // Drops the call; the call paths of the drop requests the simulator got.
    std::vector<std::wstring> Drop(DWORD dwRequestID, HDRVCALL hdCall) {
        EXPECT_TRUE(s_sim->ClearRequests());
        EXPECT_EQ(TSPI_lineDrop(dwRequestID, hdCall, nullptr, 0), static_cast<LONG>(dwRequestID));
        LONG lResult = -1;
        EXPECT_TRUE(CCompletions::WaitFor(dwRequestID, lResult)) << "no completion";
        EXPECT_EQ(lResult, 0);
        std::vector<std::wstring> paths;
        for (const SimRequest& request : s_sim->Requests())
            if (request.sMethod == L"DELETE") paths.push_back(request.sPath);
        return paths;
    }

    // The simulator's uuid of its active call whose caller is this number.
    static std::wstring SimCallFrom(const wchar_t* pszCaller) {
        std::unique_ptr<JsonValue> state = CJsonParserBase::ParseText(s_sim->Control(L"GET", L"state").sBody.c_str());
        const auto* members = state ? state->GetIf<JsonValue::Object>() : nullptr;
        if (members == nullptr || members->count(L"calls") == 0) return {};
        const auto* calls = members->at(L"calls")->GetIf<JsonValue::Array>();
        if (calls == nullptr) return {};
        for (const auto& call : *calls) {
            const auto* fields = call->GetIf<JsonValue::Object>();
            if (fields == nullptr || fields->count(L"caller") == 0 || fields->count(L"uuid") == 0) continue;
            const std::wstring* caller = fields->at(L"caller")->GetIf<JsonValue::String>();
            const std::wstring* uuid = fields->at(L"uuid")->GetIf<JsonValue::String>();
            if (caller != nullptr && uuid != nullptr && *caller == pszCaller) return *uuid;
        }
        return {};
    }
};

// Before the PBX names a call placed through TAPI, a drop of it sends
// nothing, even while a PBX call rings whose number the old shared counter
// would have given it; once named, the drop ends that PBX call alone.
TEST_F(OutgoingCallsTest, DropReachesOnlyThePbxCallOfItsOwnCall) {
    g_dwNextCallNumber = 1;
    g_dwNextCallID = 0;
    OpenLine(0);
    OpenLine(1);
    ASSERT_EQ(s_sim->Control(L"POST", L"ring", L"{\"extensions\":[\"22\"],\"caller\":\"0301234567\",\"uuid\":\"ringing-22\"}")
                  .dwStatus,
              200u);
    Event(L"ringing-22", L"22", L"ring", L"inbound", L"0301234567", L"22");
    const DWORD dwRingingNumber = Call(1, 0)->m_pLineCallInfo->dwCallID;
    ASSERT_EQ(g_mapCallUuid[dwRingingNumber], L"ringing-22");

    const HDRVCALL hdCall = MakeCall(7, 0, L"0309876543");
    ASSERT_NE(hdCall, nullptr);
    auto* pCall = reinterpret_cast<PhoneCall*>(hdCall);
    const DWORD dwLocalId = pCall->m_pLineCallInfo->dwCallID;
    EXPECT_FALSE(IsPbxCallNumber(dwLocalId)) << std::hex << dwLocalId;
    EXPECT_NE(dwLocalId, dwRingingNumber);

    EXPECT_TRUE(Drop(8, hdCall).empty()) << "no PBX call is known for the TAPI call yet";
    EXPECT_EQ(Call(1, 0)->m_dwLastState, static_cast<DWORD>(LINECALLSTATE_OFFERING));

    // The PBX reports the placed call: it takes over the TAPI call.
    const std::wstring placed = SimCallFrom(L"21");
    ASSERT_FALSE(placed.empty());
    Event(placed.c_str(), L"21", L"caller-dial", L"outbound", L"21", L"0309876543");
    ASSERT_EQ(Call(0, 0), pCall);
    EXPECT_TRUE(IsPbxCallNumber(pCall->m_pLineCallInfo->dwCallID));
    EXPECT_EQ(Drop(9, hdCall), std::vector<std::wstring>{L"/v1/extensions/phone/calls/" + placed});
    EXPECT_EQ(SimCallFrom(L"0301234567"), L"ringing-22") << "the ringing call is still there";
}

// A drop the PBX answers 404 or 410 is of a call whose hangup was missed: the
// drop succeeds, and the call ends (disconnected, idle) before its completion.
// Any other refusal fails the drop and leaves the call as it is.
TEST_F(OutgoingCallsTest, DropOfACallThePbxNoLongerHasEndsIt) {
    const struct {
        const char* pszName;
        const wchar_t* pszFault;  // null: the simulator's own answer (it knows no such call: 404)
        LONG lResult;
        std::vector<DWORD> states;
    } cases[] = {
        {"404", nullptr, 0, {LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}},
        {"410", L"{\"path\":\"/v1/extensions/phone/calls/*\",\"method\":\"DELETE\",\"status\":410}", 0,
         {LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}},
        {"500", L"{\"path\":\"/v1/extensions/phone/calls/*\",\"method\":\"DELETE\",\"status\":500}",
         LINEERR_OPERATIONFAILED, {}},
    };
    OpenLine(0);
    DWORD dwRequestID = 40;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        const std::wstring uuid = std::wstring(L"missed-") + FromUtf8(c.pszName);
        Event(uuid.c_str(), L"21", L"ring", L"inbound", L"0301234567", L"21");
        Event(uuid.c_str(), L"21", L"answer", L"inbound", L"0301234567", L"21");
        ASSERT_EQ(Call(0, 0)->m_dwLastState, static_cast<DWORD>(LINECALLSTATE_CONNECTED));
        if (c.pszFault != nullptr) ASSERT_TRUE(s_sim->AddFault(c.pszFault));
        CEventRecorder::Reset();
        ++dwRequestID;
        ASSERT_EQ(TSPI_lineDrop(dwRequestID, reinterpret_cast<HDRVCALL>(Call(0, 0)), nullptr, 0),
                  static_cast<LONG>(dwRequestID));
        LONG lResult = -1;
        ASSERT_TRUE(CCompletions::WaitFor(dwRequestID, lResult)) << "no completion";
        EXPECT_EQ(lResult, c.lResult);
        std::vector<DWORD> states;
        for (const RecordedEvent& event : EventsOf(LINE_CALLSTATE)) states.push_back(static_cast<DWORD>(event.dwParam1));
        EXPECT_EQ(states, c.states);
        // The call is over either way before the next one.
        Event(uuid.c_str(), L"21", L"hangup", L"inbound", L"0301234567", L"21");
        RemoveAllCalls();
        ASSERT_TRUE(s_sim->ClearFaults());
    }
}

// The dead-call test clears a finished call TAPI has not closed yet, and the
// make-call that ran it gets a new call; TAPI's late close of the old handle
// leaves the new call in place, round after round. (Whether a freed record
// is handed out again at once depends on the heap; the line table's own test
// forces that case.)
TEST_F(OutgoingCallsTest, LateCloseOfACallClearedByTheDeadCallTestLeavesTheNewCall) {
    OpenLine(0);
    for (DWORD dwRound = 0; dwRound < 4; ++dwRound) {
        SCOPED_TRACE("round " + std::to_string(dwRound));
        const std::wstring uuid = L"over-" + std::to_wstring(dwRound);
        Event(uuid.c_str(), L"21", L"ring", L"inbound", L"0301234567", L"21");
        Event(uuid.c_str(), L"21", L"hangup", L"inbound", L"0301234567", L"21");
        ASSERT_EQ(GetCallCount(0), 1u);
        const HDRVCALL hdOld = reinterpret_cast<HDRVCALL>(Call(0, 0));
        ASSERT_EQ(Call(0, 0)->m_dwLastState, static_cast<DWORD>(LINECALLSTATE_IDLE));

        const HDRVCALL hdNew = MakeCall(100 + dwRound, 0, L"0309876543");
        ASSERT_NE(hdNew, nullptr);
        EXPECT_NE(hdNew, hdOld) << "the handle TAPI still holds was given to the new call";
        ASSERT_EQ(GetCallCount(0), 1u);
        ASSERT_EQ(Call(0, 0), reinterpret_cast<PhoneCall*>(hdNew));

        EXPECT_EQ(TSPI_lineCloseCall(hdOld), 0);
        ASSERT_EQ(GetCallCount(0), 1u) << "the late close removed the new call";
        EXPECT_EQ(Call(0, 0), reinterpret_cast<PhoneCall*>(hdNew));
        LINECALLSTATUS status{};
        status.dwTotalSize = sizeof(status);
        EXPECT_EQ(TSPI_lineGetCallStatus(hdNew, &status), 0);
        EXPECT_EQ(status.dwCallState, static_cast<DWORD>(LINECALLSTATE_UNKNOWN));

        // The make-call ends before the next round; TAPI closes it.
        SendIdleState(0, 0);
        EXPECT_EQ(TSPI_lineCloseCall(hdNew), 0);
        ASSERT_EQ(GetCallCount(0), 0u);
    }
}

}  // namespace
