// Calls dropped through TAPI against the simulator: a drop ends a call the
// PBX no longer has, and fails where the PBX refuses it.
#include <gtest/gtest.h>
#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "pbx/Session.h"
#include "provider/TspiExports.h"
#include "support/LineModelFixture.h"
#include "support/PbxSim.h"
#include "support/SuiteSimulatorFixture.h"

namespace {

class OutgoingCallsTest : public SuiteSimulatorFixture<LineModelFixture> {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SuiteSimulatorFixture::SetUp());
        ASSERT_GT(Login(), 0);
    }
    void TearDown() override {
        s_sim->Control(L"POST", L"reset");
        LineModelFixture::TearDown();
    }
};

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
        Event(uuid.c_str(), L"21", L"ring", L"inbound");
        Event(uuid.c_str(), L"21", L"answer", L"inbound");
        ASSERT_EQ(Call(0, 0)->m_dwLastState, static_cast<DWORD>(LINECALLSTATE_CONNECTED));
        if (c.pszFault != nullptr) ASSERT_TRUE(s_sim->AddFault(c.pszFault));
        CEventRecorder::Reset();
        ++dwRequestID;
        ASSERT_EQ(TSPI_lineDrop(dwRequestID, reinterpret_cast<HDRVCALL>(Call(0, 0)), nullptr, 0),
                  static_cast<LONG>(dwRequestID));
        ASSERT_TRUE(WaitUntil([&] {
            std::lock_guard<std::recursive_mutex> guard(CEventRecorder::s_mutex);
            return !CEventRecorder::s_completions.empty();
        })) << "no completion";
        EXPECT_EQ(CEventRecorder::s_completions,
                  (std::vector<std::pair<DWORD, LONG>>{{dwRequestID, c.lResult}}));
        std::vector<DWORD> states;
        for (const RecordedEvent& event : EventsOf(LINE_CALLSTATE)) states.push_back(static_cast<DWORD>(event.dwParam1));
        EXPECT_EQ(states, c.states);
        // The call is over either way before the next one.
        Event(uuid.c_str(), L"21", L"hangup", L"inbound");
        RemoveAllCalls();
        ASSERT_TRUE(s_sim->ClearFaults());
    }
}

}  // namespace
