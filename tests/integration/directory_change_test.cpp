// The built provider follows the PBX directory while it runs: a failed
// directory read changes nothing, and many re-initialisations during call
// traffic, each adding or removing a line, lose and double no event. (Which
// lines a directory change keeps, makes and removes is the device set's unit
// test.)
// ctest-lock: registry
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include "support/ProviderRuntimeFixture.h"

namespace {

constexpr DWORD kReinitWaitMs = 30000;  // far beyond a login and a directory read: a deadlock, not a slow PBX
const wchar_t kReinitMarker[] = L"(test: re-initialisation requested)";

class DirectoryChangeTest : public ProviderRuntimeFixture {
protected:
    // Asks for a re-initialisation as the configuration dialog does and waits
    // until it has run: its login state replaces a marker put there first.
    // The state it recorded; empty when it did not finish in time.
    std::wstring Reinitialize() const {
        EXPECT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, TestedProviderKey(), L"LastLoginState", kReinitMarker));
        RequestReinitialization();
        std::wstring state;
        const bool bDone = WaitUntil(
            [&] {
                return ReadRegString(HKEY_LOCAL_MACHINE, TestedProviderKey(), L"LastLoginState", &state) &&
                       !state.empty() && state != kReinitMarker;
            },
            kReinitWaitMs);
        return bDone ? state : L"";
    }

    // The device ID lineGetID gives for a line handle; 0xFFFFFFFF when refused.
    DWORD DeviceIDOf(HDRVLINE hdLine) {
        std::vector<BYTE> record;
        if (m_host.GetLineID(hdLine, nullptr, LINECALLSELECT_LINE, L"tapi/line", 64, &record) != 0) return 0xFFFFFFFF;
        DWORD dwDeviceID = 0;
        std::memcpy(&dwDeviceID, record.data() + sizeof(VARSTRING), sizeof(dwDeviceID));
        return dwDeviceID;
    }
};

TEST_F(DirectoryChangeTest, FailedDirectoryReadChangesNothing) {
    ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
    const std::wstring call23 = Ring(L"[\"23\"]", L"4930123456");
    ASSERT_TRUE(WaitForState(2, LINECALLSTATE_OFFERING));
    const std::wstring names[] = {LineName(0), LineName(1), LineName(2)};
    m_host.ClearEvents();
    m_sim.ClearRequests();

    // Read, this directory would remove 21 and 23.
    ASSERT_NO_FATAL_FAILURE(SetDirectory({{L"22", L"Reception"}}));
    ASSERT_TRUE(m_sim.AddFault(L"{\"path\":\"/v1/extensions/phone/data\",\"status\":500,\"count\":1000}"));
    EXPECT_EQ(Reinitialize(), Localized(L"Login successful", L"Anmelden erfolgreich"));
    const std::vector<SimRequest> reads = RequestsTo(L"GET", L"/v1/extensions/phone/data");
    ASSERT_FALSE(reads.empty());
    for (const SimRequest& read : reads) EXPECT_EQ(read.nStatus, 500);
    ASSERT_TRUE(m_sim.ClearFaults());

    EXPECT_EQ(CountMessages(LINE_REMOVE), 0u);
    EXPECT_EQ(CountMessages(LINE_CREATE), 0u);
    for (DWORD dwLine = 0; dwLine < 3; ++dwLine) {
        EXPECT_EQ(LineName(dwLine), names[dwLine]);
        EXPECT_EQ(DeviceIDOf(m_lines[dwLine]), dwLine);
    }
    // The lines work on: the call on 23 is answered, 21 rings.
    Answer(call23, L"23");
    ASSERT_TRUE(WaitForState(2, LINECALLSTATE_CONNECTED));
    Ring(L"[\"21\"]", L"4930777");
    ASSERT_TRUE(WaitForState(0, LINECALLSTATE_OFFERING));
    EXPECT_EQ(CallStates(2), std::vector<DWORD>{LINECALLSTATE_CONNECTED});
}

// 20 re-initialisations, every other one adding line 24 and the next removing
// it again, while calls ring on 21, 22 and 23 and are answered on each in
// turn, and another thread reads every line's records. The provider must not
// hang (every re-initialisation finishes well within its deadline) or crash,
// and on the lines that stay TAPI sees every call state exactly once.
TEST_F(DirectoryChangeTest, ReinitializationsDuringCallsAndStatusReadsLoseAndDoubleNoEvent) {
    constexpr int kReinitializations = 20;
    ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
    m_host.ClearEvents();
    std::atomic<bool> bStop{false};
    std::mutex failuresMutex;
    std::vector<std::string> failures;
    auto fail = [&](const std::string& text) {
        std::lock_guard<std::mutex> lock(failuresMutex);
        failures.push_back(text);
        bStop = true;
    };

    // Calls: one ring on all three lines, answered on 21, 22, 23 in turn, then hung up.
    const wchar_t* const kExtensions[] = {L"21", L"22", L"23"};
    std::vector<DWORD> answeredOn;  // line answered in each finished cycle
    std::thread caller([&] {
        for (DWORD dwCycle = 0; !bStop; ++dwCycle) {
            const DWORD dwAnswering = dwCycle % 3;
            // A message of the line, with that first parameter unless it is ~0.
            auto is = [](DWORD dwLine, DWORD dwMsg, DWORD dwParam1) {
                return [=](const HostEvent& e) {
                    return e.kind == HostEvent::LineEvent && e.dwMsg == dwMsg && e.htLine == LineHandle(dwLine) &&
                           (dwParam1 == ~0u || e.dwParam1 == dwParam1);
                };
            };
            auto newCalls = [&](DWORD dwLine) { return m_host.CountEvents(is(dwLine, LINE_NEWCALL, ~0u)); };
            auto stateCount = [&](DWORD dwLine, DWORD dwState) {
                return m_host.CountEvents(is(dwLine, LINE_CALLSTATE, dwState));
            };
            auto waitStates = [&](DWORD dwLine, DWORD dwState, size_t nCount) {
                return m_host.WaitForCount(is(dwLine, LINE_CALLSTATE, dwState), nCount, kReinitWaitMs);
            };
            const size_t nOffered = stateCount(0, LINECALLSTATE_OFFERING);
            const std::wstring uuid = Ring(L"[\"21\",\"22\",\"23\"]", L"4930123456");
            if (uuid.empty()) return fail("ring refused in cycle " + std::to_string(dwCycle));
            for (DWORD dwLine = 0; dwLine < 3; ++dwLine)
                if (!waitStates(dwLine, LINECALLSTATE_OFFERING, nOffered + 1) || newCalls(dwLine) != nOffered + 1)
                    return fail("no offering in cycle " + std::to_string(dwCycle));
            const size_t nConnected = stateCount(dwAnswering, LINECALLSTATE_CONNECTED);
            const size_t nIdle = stateCount(dwAnswering, LINECALLSTATE_IDLE);
            Answer(uuid, kExtensions[dwAnswering]);
            if (!waitStates(dwAnswering, LINECALLSTATE_CONNECTED, nConnected + 1))
                return fail("not connected in cycle " + std::to_string(dwCycle));
            Hangup(uuid);
            if (!waitStates(dwAnswering, LINECALLSTATE_IDLE, nIdle + 1))
                return fail("not ended in cycle " + std::to_string(dwCycle));
            // The copies on the other lines went idle with the answer.
            for (DWORD dwLine = 0; dwLine < 3; ++dwLine)
                if (!waitStates(dwLine, LINECALLSTATE_IDLE, nOffered + 1))
                    return fail("copy not idle in cycle " + std::to_string(dwCycle));
            // The application lets go of the idle calls, as TAPI applications do: a line holds three.
            for (DWORD dwLine = 0; dwLine < 3; ++dwLine) {
                HDRVCALL hdCall = nullptr;
                for (const HostEvent& e : m_host.LineEvents())
                    if (e.dwMsg == LINE_NEWCALL && e.htLine == LineHandle(dwLine))
                        hdCall = reinterpret_cast<HDRVCALL>(e.dwParam1);
                if (m_host.CloseCall(hdCall) != 0) return fail("call not closed in cycle " + std::to_string(dwCycle));
            }
            answeredOn.push_back(dwAnswering);
        }
    });

    // Readers of every line's records, the created lines' too.
    std::atomic<unsigned> nReads{0};
    std::thread reader([&] {
        std::vector<BYTE> record;
        while (!bStop) {
            for (DWORD dwLine = 0; dwLine < 3; ++dwLine) {
                const LONG results[] = {m_host.GetDevCaps(dwLine, 4096, &record),
                                        m_host.GetLineDevStatus(m_lines[dwLine], 4096, &record),
                                        m_host.GetAddressStatus(m_lines[dwLine], 0, 4096, &record)};
                for (LONG lResult : results)
                    if (lResult != 0) return fail("reading line " + std::to_string(dwLine) + ": " + std::to_string(lResult));
            }
            for (DWORD dwDeviceID : m_host.CreatedDevices()) {
                const LONG lResult = m_host.GetDevCaps(dwDeviceID, 4096, &record);
                if (lResult != 0 && lResult != LINEERR_NODEVICE)
                    return fail("reading created line " + std::to_string(dwDeviceID) + ": " + std::to_string(lResult));
            }
            ++nReads;
            // A reader, not a flood: the provider logs every request, and a
            // re-initialisation (a keep-alive tick) still sees several rounds.
            Sleep(20);
        }
    });

    int nDone = 0;
    for (; nDone < kReinitializations && !bStop; ++nDone) {
        if (nDone % 2 == 0)
            SetDirectory({{L"21", L"Office"}, {L"22", L"Reception"}, {L"23", L"Lab"}, {L"24", L"Store"}});
        else
            SetDirectory({{L"21", L"Office"}, {L"22", L"Reception"}, {L"23", L"Lab"}});
        if (Reinitialize().empty()) {
            fail("re-initialisation " + std::to_string(nDone) + " did not finish: the provider hangs");
            break;
        }
    }
    bStop = true;
    caller.join();
    reader.join();
    for (const std::string& failure : failures) ADD_FAILURE() << failure;
    ASSERT_EQ(nDone, kReinitializations);
    EXPECT_GT(nReads.load(), 0u);
    // Every line answered at least once.
    ASSERT_GE(answeredOn.size(), 3u);

    // Line 24 came and went ten times; TAPI numbered each coming and heard each going once.
    ASSERT_TRUE(m_host.WaitForCount([](const HostEvent& e) { return e.kind == HostEvent::DeviceCreated; },
                                    kReinitializations / 2, kEventWaitMs));
    EXPECT_EQ(CountMessages(LINE_CREATE), static_cast<size_t>(kReinitializations / 2));
    EXPECT_EQ(CountMessages(LINE_REMOVE), static_cast<size_t>(kReinitializations / 2));
    EXPECT_EQ(m_host.RemovedDevices(), m_host.CreatedDevices());

    // Each call on the lines that stay, in order: exactly its states, each once.
    for (DWORD dwLine = 0; dwLine < 3; ++dwLine) {
        SCOPED_TRACE(dwLine);
        std::vector<HTAPICALL> calls;
        std::vector<std::vector<DWORD>> states;
        for (const HostEvent& e : m_host.LineEvents()) {
            if (e.htLine != LineHandle(dwLine)) continue;
            if (e.dwMsg == LINE_NEWCALL) {
                calls.push_back(e.htCall);
                states.emplace_back();
            } else if (e.dwMsg == LINE_CALLSTATE) {
                size_t i = 0;
                while (i < calls.size() && calls[i] != e.htCall) ++i;
                ASSERT_LT(i, calls.size()) << "a state for a call TAPI never heard of";
                states[i].push_back(static_cast<DWORD>(e.dwParam1));
            }
        }
        // The last cycle may have been cut short by the end of the re-initialisations.
        ASSERT_GE(calls.size(), answeredOn.size());
        for (size_t i = 0; i < answeredOn.size(); ++i) {
            SCOPED_TRACE(i);
            const std::vector<DWORD> expected =
                answeredOn[i] == dwLine
                    ? std::vector<DWORD>{LINECALLSTATE_OFFERING, LINECALLSTATE_CONNECTED, LINECALLSTATE_DISCONNECTED,
                                         LINECALLSTATE_IDLE}
                    : std::vector<DWORD>{LINECALLSTATE_OFFERING, LINECALLSTATE_IDLE};
            EXPECT_EQ(states[i], expected);
        }
    }
}

}  // namespace
