// The built provider in a TAPI host against the PBX simulator, for the
// integration tests: the demo account with a second user in the simulator
// (a fixture may start the simulator with another account), the provider's
// settings pointing at it, and the host's view of the lines.
// Tests that use it hold the registry lock ("// ctest-lock: registry"), or
// load a copy of the provider of their own (tests/CMakeLists.txt).
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "config/ProviderSettings.h"
#include "json/CJsonParserBase.h"
#include "support/PbxSim.h"
#include "support/ProviderFolders.h"
#include "support/RegistryFixture.h"
#include "support/TestFiles.h"
#include "support/TestTimers.h"
#include "tools/tapihost/ProviderSetup.h"
#include "tools/tapihost/TapiHost.h"

// The demo account with a second user, whom the dialog may enter.
extern const char kRuntimeAccount[];
// A watchdog, not a promise: a wait returns as soon as its event is there,
// and a loaded machine running the suite in parallel may take seconds.
constexpr DWORD kEventWaitMs = 20000;
// A watchdog for the provider's start: its event stream may take a while on a loaded machine.
constexpr DWORD kStartWatchdogMs = 30000;
constexpr LONG kNoCompletion = 0x7FFFFFFF;

// The host's handle of the line with that device ID.
inline HTAPILINE LineHandle(DWORD dwLine) { return reinterpret_cast<HTAPILINE>(static_cast<ULONG_PTR>(dwLine + 1)); }

// The provider's shared settings record as the configuration dialog's process sees it.

class CSharedSettingsView {
public:
    CSharedSettingsView();
    ~CSharedSettingsView();
    CSharedSettingsView(const CSharedSettingsView&) = delete;
    CSharedSettingsView& operator=(const CSharedSettingsView&) = delete;
    // Null when the provider has not mapped its record.
    ProviderSettings* operator->() const { return m_pSettings; }
    ProviderSettings* Get() const { return m_pSettings; }

private:
    HANDLE m_hMapping = nullptr;
    ProviderSettings* m_pSettings = nullptr;
};

// Public: a table of cases plays each row through the fixture's helpers.
class ProviderRuntimeFixture : public testing::Test {
public:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(StartSimulator());
        ASSERT_TRUE(WriteStringSetting(TestedProviderKey(), L"ApiBaseUrl", m_sim.ApiBaseUrl()));
        ASSERT_TRUE(ApplyTestTimeDivisor(TestedProviderKey()));
        ASSERT_TRUE(WriteStringSetting(TestedProviderKey(), L"NumberFormat", L"0"));
        // Login, directory, threads and every PBX event: enough to show a
        // failure's course, and exchange files too. The files test writes
        // the fullest log.
        ASSERT_TRUE(WriteStringSetting(TestedProviderKey(), L"DebugLevel", L"2"));
        ASSERT_TRUE(WriteProtectedSetting(TestedProviderKey(), L"Name", L"lena.muster"));
        ASSERT_TRUE(WriteProtectedSetting(TestedProviderKey(), L"Password", L"Demo-Pass-2024"));
    }
    void TearDown() override {
        if (m_bStarted) m_host.Shutdown();
        m_host.Unload();
    }

    // The simulator the provider is pointed at: the runtime account.
    virtual void StartSimulator() {
        ASSERT_TRUE(WriteFileBytes(m_dir.File(L"account.json"), kRuntimeAccount));
        ASSERT_TRUE(m_sim.Start({false, m_dir.File(L"account.json")})) << ToUtf8(m_sim.Error());
    }

    void StartProvider(DWORD dwExpectedLines) {
        ASSERT_TRUE(m_host.Load(GetEnv(L"ORVO_TSP_PATH")));
        DWORD dwLines = 99;
        ASSERT_EQ(m_host.Start(&dwLines), 0);
        m_bStarted = true;
        ASSERT_EQ(dwLines, dwExpectedLines);
    }

    void StopProvider() {
        EXPECT_EQ(m_host.Shutdown(), 0);
        m_bStarted = false;
        m_host.Unload();
    }

    // The lines (the runtime account's three by default) started, opened and
    // watched by the event stream.
    // The start's own stream is waited for: one of an earlier start in this
    // process may still be held open (Wine's WinHTTP keeps the socket of an
    // abandoned read), and a ring sent before the new one is there would be lost.
    void StartAndOpenLines(DWORD dwLines = 3) {
        const int nOpenedBefore = StreamsOpened();
        ASSERT_NO_FATAL_FAILURE(StartProvider(dwLines));
        ASSERT_NO_FATAL_FAILURE(OpenLines(0, dwLines));
        ASSERT_TRUE(WaitForStreamsOpened(nOpenedBefore + 1, kStartWatchdogMs));
    }

    // Opens the lines with these device IDs; their handles are added to m_lines.
    void OpenLines(DWORD dwFirstDeviceID, DWORD dwCount) {
        for (DWORD dwID = dwFirstDeviceID; dwID < dwFirstDeviceID + dwCount; ++dwID) {
            HDRVLINE hdLine = nullptr;
            ASSERT_EQ(m_host.OpenLine(dwID, LineHandle(dwID), &hdLine), 0) << dwID;
            m_lines.push_back(hdLine);
        }
    }

    static std::wstring Localized(const wchar_t* pszEnglish, const wchar_t* pszGerman) {
        return GetUserDefaultUILanguage() == 1031 ? pszGerman : pszEnglish;
    }

    // How many event streams the simulator has ever opened; -1 when it did not answer.
    int StreamsOpened() const {
        CJsonParserBase answer;
        return answer.Parse(m_sim.Control(L"POST", L"wait", L"{\"timeout_ms\":0}").sBody.c_str())
                   ? static_cast<int>(answer.GetInt(L"opened"))
                   : -1;
    }
    // Waits until the simulator has opened at least nOpened streams, one of them still open.
    bool WaitForStreamsOpened(int nOpened, DWORD dwTimeoutMs = kEventWaitMs) const {
        return SimWait(L"\"streams\":1,\"opened\":" + std::to_wstring(nOpened), dwTimeoutMs);
    }
    // Waits until the simulator holds at least nStreams event streams.
    bool WaitForStreams(int nStreams, DWORD dwTimeoutMs = kEventWaitMs) const {
        return SimWait(L"\"streams\":" + std::to_wstring(nStreams), dwTimeoutMs);
    }
    // Waits until the simulator has seen nCount requests of the method to the
    // path and holds at least nStreams event streams.
    bool WaitForRequests(const wchar_t* pszMethod, const wchar_t* pszPath, int nCount, int nStreams = 0,
                         DWORD dwTimeoutMs = 20000) const {
        return SimWait(L"\"requests\":" + std::to_wstring(nCount) + L",\"method\":" + JsonQuote(pszMethod) +
                           L",\"path\":" + JsonQuote(pszPath) + L",\"streams\":" + std::to_wstring(nStreams),
                       dwTimeoutMs);
    }
    // The simulator's wait for the conditions (JSON members).
    bool SimWait(const std::wstring& conditions, DWORD dwTimeoutMs) const {
        CJsonParserBase answer;
        const std::wstring body = L"{" + conditions + L",\"timeout_ms\":" + std::to_wstring(dwTimeoutMs) + L"}";
        return answer.Parse(m_sim.Control(L"POST", L"wait", body).sBody.c_str()) && answer.GetBool(L"ok");
    }

    // Polls a condition until it holds or the watchdog runs out.
    static bool WaitUntil(const std::function<bool()>& condition, DWORD dwTimeoutMs = kEventWaitMs) {
        const ULONGLONG qwDeadline = GetTickCount64() + dwTimeoutMs;
        for (;;) {
            if (condition()) return true;
            if (GetTickCount64() >= qwDeadline) return false;
            Sleep(50);
        }
    }

    // The production lengths of the timers for this test, whatever the run's
    // divisor: a stop that waited out a hanging request or a 30 s timer then
    // overruns a watchdog that the shortened timers would let it meet.
    static void UseProductionTimers() {
        const LSTATUS lStatus = RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, TestedProviderKey(), L"TestTimeDivisor");
        ASSERT_TRUE(lStatus == ERROR_SUCCESS || lStatus == ERROR_FILE_NOT_FOUND) << lStatus;
        SetTimerDivisor(1);
    }

    // What the configuration dialog does to have the service log in again.
    static void RequestReinitialization() {
        CSharedSettingsView shared;
        ASSERT_NE(shared.Get(), nullptr);
        shared->ReinitRequested = 1;
    }

    // The simulator's directory replaced: number, name and, when not null, uuid of each extension.
    struct DirectoryEntry {
        const wchar_t* pszNumber;
        const wchar_t* pszName;
        const wchar_t* pszUuid = nullptr;
    };
    void SetDirectory(const std::vector<DirectoryEntry>& extensions) const {
        std::wstring body = L"{\"extensions\":[";
        for (const DirectoryEntry& e : extensions) {
            body += body.back() == L'[' ? L"{" : L",{";
            if (e.pszUuid != nullptr) body += L"\"uuid\":" + JsonQuote(e.pszUuid) + L",";
            body += L"\"extension_number\":" + JsonQuote(e.pszNumber) + L",\"name\":" + JsonQuote(e.pszName) + L"}";
        }
        ASSERT_EQ(m_sim.Control(L"POST", L"extensions", body + L"]}").dwStatus, 200u);
    }

    // The call answered (at the extension, when given) or hung up at the PBX; false when refused.
    bool Answer(const std::wstring& uuid, const wchar_t* pszExtension = nullptr) const {
        const std::wstring at = pszExtension != nullptr ? L",\"extension\":" + JsonQuote(pszExtension) : L"";
        return m_sim.Control(L"POST", L"answer", L"{\"uuid\":" + JsonQuote(uuid) + at + L"}").dwStatus == 200;
    }
    bool Hangup(const std::wstring& uuid) const {
        return m_sim.Control(L"POST", L"hangup", L"{\"uuid\":" + JsonQuote(uuid) + L"}").dwStatus == 200;
    }

    // How many line messages (LINE_CREATE included) of the kind the host has.
    size_t CountMessages(DWORD dwMsg) const {
        return m_host.CountEvents([&](const HostEvent& e) {
            return (e.kind == HostEvent::LineEvent || e.kind == HostEvent::LineCreate) && e.dwMsg == dwMsg;
        });
    }

    // Rings the extensions (a JSON array); the call's uuid.
    std::wstring Ring(const std::wstring& extensionsJson, const wchar_t* pszCaller) const {
        CJsonParserBase answer;
        const std::wstring body = L"{\"extensions\":" + extensionsJson + L",\"caller\":" + JsonQuote(pszCaller) + L"}";
        return answer.Parse(m_sim.Control(L"POST", L"ring", body).sBody.c_str()) ? answer.GetString(L"uuid") : L"";
    }

    // The call states the line has seen, in order.
    std::vector<DWORD> CallStates(DWORD dwLine) const {
        std::vector<DWORD> states;
        for (const HostEvent& event : m_host.LineEvents())
            if (event.htLine == LineHandle(dwLine) && event.dwMsg == LINE_CALLSTATE)
                states.push_back(static_cast<DWORD>(event.dwParam1));
        return states;
    }

    bool WaitForState(DWORD dwLine, DWORD dwState, DWORD dwTimeoutMs = kEventWaitMs) const {
        return m_host.WaitForEvent(
            [&](const HostEvent& event) {
                return event.htLine == LineHandle(dwLine) && event.dwMsg == LINE_CALLSTATE && event.dwParam1 == dwState;
            },
            dwTimeoutMs);
    }

    // The completion of a request; its result is kNoCompletion when none came.
    HostEvent WaitForCompletion(DWORD dwRequestID) const {
        HostEvent found{};
        found.lResult = kNoCompletion;
        m_host.WaitForEvent(
            [&](const HostEvent& e) {
                return e.kind == HostEvent::Completion && e.dwRequestID == dwRequestID && (found = e, true);
            },
            kEventWaitMs);
        return found;
    }

    // The caller id of the first call TAPI was told about on the line.
    std::wstring CallerIDOfNewCall(DWORD dwLine) {
        std::vector<BYTE> info;
        for (const HostEvent& event : m_host.LineEvents()) {
            if (event.htLine != LineHandle(dwLine) || event.dwMsg != LINE_NEWCALL) continue;
            if (m_host.GetCallInfo(reinterpret_cast<HDRVCALL>(event.dwParam1), 4096, &info) != 0) break;
            const auto* pInfo = reinterpret_cast<const LINECALLINFO*>(info.data());
            return RecordText(info, pInfo->dwCallerIDSize, pInfo->dwCallerIDOffset);
        }
        return L"(no call info)";
    }

    std::wstring LineName(DWORD dwLine) {
        std::vector<BYTE> caps;
        if (m_host.GetDevCaps(dwLine, 4096, &caps) != 0) return L"(no caps)";
        const auto* pCaps = reinterpret_cast<const LINEDEVCAPS*>(caps.data());
        return RecordText(caps, pCaps->dwLineNameSize, pCaps->dwLineNameOffset);
    }

    std::vector<SimRequest> RequestsTo(const wchar_t* pszMethod, const std::wstring& path) const {
        return m_sim.Requests(pszMethod, path);
    }

    // The log files this program's provider wrote (each start begins a new set).
    static std::vector<std::wstring> ProviderLogs() {
        const std::wstring folder = OrvoLogFolder();
        const std::wstring pattern = L"ORVOTSP" + ExeBaseName() + L"_*.LOG";
        std::vector<std::wstring> paths;
        for (const std::wstring& name : ListFiles(folder, pattern.c_str())) paths.push_back(folder + L"\\" + name);
        return paths;
    }
    // Waits until a log of the provider holds the text (UTF-8).
    static bool WaitForLogText(const std::string& text, DWORD dwTimeoutMs = kEventWaitMs) {
        return WaitUntil(
            [&] {
                for (const std::wstring& path : ProviderLogs())
                    if (ReadFileBytes(path).find(text) != std::string::npos) return true;
                return false;
            },
            dwTimeoutMs);
    }

    std::wstring LastLoginState() const {
        std::wstring text = L"(missing)";
        ReadRegString(HKEY_LOCAL_MACHINE, TestedProviderKey(), L"LastLoginState", &text);
        return text;
    }

    CTempDir m_dir{L"runtime"};
    PbxSim m_sim;
    CRegistrySnapshot m_snapshot{HKEY_LOCAL_MACHINE, TestedProviderKey()};
    CTapiHost m_host;
    bool m_bStarted = false;
    std::vector<HDRVLINE> m_lines;
};
