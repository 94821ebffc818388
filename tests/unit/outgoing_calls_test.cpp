// Calls placed and dropped through TAPI against the simulator: a drop only
// ever ends the call it was asked for, and ends a call the PBX no longer has.
#include <gtest/gtest.h>
#include <windows.h>

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

// TAPI's completion of the request; false when none came within the watchdog.
bool WaitForCompletion(DWORD dwRequestID, LONG& lResult) {
    return WaitUntil([&] {
        std::lock_guard<std::recursive_mutex> guard(CEventRecorder::s_mutex);
        for (const auto& [dwID, lValue] : CEventRecorder::s_completions)
            if (dwID == dwRequestID) return lResult = lValue, true;
        return false;
    });
}

class OutgoingCallsTest : public SuiteSimulatorFixture<LineModelFixture> {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SuiteSimulatorFixture::SetUp());
        ASSERT_GT(Login(), 0);
        // Make-calls produce no events: the tests play the PBX's events themselves.
        ASSERT_EQ(s_sim->Control(L"POST", L"settings", L"{\"make_call\":{\"outcome\":\"silent\"}}").dwStatus, 200u);
        ASSERT_TRUE(s_sim->ClearRequests());
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
        EXPECT_TRUE(WaitForCompletion(dwRequestID, lResult)) << "no completion";
        EXPECT_EQ(lResult, 0);
        return hdCall;
    }

    // Drops the call; the call paths of the drop requests the simulator got.
    std::vector<std::wstring> Drop(DWORD dwRequestID, HDRVCALL hdCall) {
        EXPECT_TRUE(s_sim->ClearRequests());
        EXPECT_EQ(TSPI_lineDrop(dwRequestID, hdCall, nullptr, 0), static_cast<LONG>(dwRequestID));
        LONG lResult = -1;
        EXPECT_TRUE(WaitForCompletion(dwRequestID, lResult)) << "no completion";
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
        ASSERT_TRUE(WaitForCompletion(dwRequestID, lResult)) << "no completion";
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

}  // namespace
