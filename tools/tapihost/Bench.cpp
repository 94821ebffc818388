// Commands, one per line on standard input; each is answered by one JSON
// object on one line of standard output:
//   start                  negotiate, enumerate, initialise
//                          {"result", "lines", "enumerate_ms", "initialise_ms"}
//   forget-ids             removes the permanent line IDs the provider
//                          remembered, so that the next start gives every
//                          extension a new one {"removed"}
//   caps                   every line's device and address capabilities
//                          {"caps_ms", "failed", "addresses": [address of line 0, ...]}
//   open                   open every line {"open_ms", "failed"}
//   memory                 the process's memory, in bytes: its counters and the
//                          bytes in use in all its heaps
//                          {"working_set", "peak_working_set", "private", "heap"}
//   clock                  {"now"}: the wall clock, Unix seconds (WallClock.h)
//   wait <state> <n> <ms>  until n call-state events of that state arrived in
//                          all, or ms passed {"reached", "count"}
//   events                 the new-call and call-state events since the last
//                          "events": {"events": [[line, call, state, time]...]},
//                          state 0 for the new call's announcement
//   close                  closes every call that went idle {"closed", "failed"}
//   quit                   closes the lines and shuts the provider down {"shutdown"}
#include "tools/tapihost/Bench.h"

#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include "tools/tapihost/JsonAnswer.h"
#include "tools/tapihost/ProviderSetup.h"
#include "tools/tapihost/TapiHost.h"
#include "tools/tapihost/WallClock.h"

namespace {
constexpr DWORD kRecordSize = 4096;
constexpr DWORD kPollMs = 5;

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point started) {
    return std::chrono::duration<double, std::milli>(Clock::now() - started).count();
}

std::string Number(double value, int nDecimals) {
    char szText[64];
    snprintf(szText, sizeof(szText), "%.*f", nDecimals, value);
    return szText;
}

std::string Number(ULONGLONG value) { return std::to_string(value); }

class CBench {
public:
    explicit CBench(CTapiHost& host) : m_host(host) {}

    // False once the input asks to end.
    bool Run(const std::string& line) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        if (command == "start") Start();
        else if (command == "forget-ids") ForgetPermanentLineIDs();
        else if (command == "caps") Caps();
        else if (command == "open") Open();
        else if (command == "memory") Memory();
        else if (command == "clock") CAnswer().Add("now", Number(UnixSeconds(WallClockTicks()), 7)).Print();
        else if (command == "wait") Wait(words);
        else if (command == "events") Events();
        else if (command == "close") Close();
        else if (command == "quit") return false;
        else if (!command.empty()) CAnswer().Add("error", JsonString(L"unknown command")).Print();
        return true;
    }

    void Quit() {
        for (HDRVLINE hdLine : m_lines) m_host.CloseLine(hdLine);
        m_lines.clear();
        const LONG lResult = m_bStarted ? m_host.Shutdown() : 0;
        m_bStarted = false;
        CAnswer().Add("shutdown", std::to_string(lResult)).Print();
    }

private:
    static HTAPILINE LineHandle(DWORD dwLine) { return reinterpret_cast<HTAPILINE>(static_cast<ULONG_PTR>(dwLine + 1)); }
    static LONGLONG LineIndex(HTAPILINE htLine) { return static_cast<LONGLONG>(reinterpret_cast<ULONG_PTR>(htLine)) - 1; }

    void Start() {
        DWORD dwVersion = 0, dwPhones = 0, dwOptions = 0;
        LONG lResult = m_host.NegotiateTSPIVersion(INITIALIZE_NEGOTIATION, 0x00020000, 0x00020002, &dwVersion);
        auto started = Clock::now();
        if (lResult == 0) lResult = m_host.EnumDevices(&m_dwLines, &dwPhones);
        const double enumerateMs = MillisecondsSince(started);
        started = Clock::now();
        if (lResult == 0) lResult = m_host.Init(m_dwLines, &dwOptions);
        const double initialiseMs = MillisecondsSince(started);
        m_bStarted = lResult == 0;
        CAnswer()
            .Add("result", std::to_string(lResult))
            .Add("lines", Number(m_dwLines))
            .Add("enumerate_ms", Number(enumerateMs, 3))
            .Add("initialise_ms", Number(initialiseMs, 3))
            .Print();
    }

    // The table of today and the subkey of earlier versions alike.
    static void ForgetPermanentLineIDs() {
        const LONG lValue = RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kProviderSettingsKey, L"PermanentLineIDs");
        const std::wstring oldKey = std::wstring(kProviderSettingsKey) + L"\\PermanentLineIDs";
        const LONG lKey = RegDeleteTreeW(HKEY_LOCAL_MACHINE, oldKey.c_str());
        CAnswer().Add("removed", lValue == ERROR_SUCCESS || lKey == ERROR_SUCCESS ? "true" : "false").Print();
    }

    void Caps() {
        std::vector<std::wstring> addresses(m_dwLines);
        DWORD dwFailed = 0;
        std::vector<BYTE> devCaps, addressCaps;
        const auto started = Clock::now();
        for (DWORD dwLine = 0; dwLine < m_dwLines; ++dwLine) {
            const bool bRead = m_host.GetDevCaps(dwLine, kRecordSize, &devCaps) == 0 &&
                               m_host.GetAddressCaps(dwLine, 0, kRecordSize, &addressCaps) == 0;
            if (!bRead) {
                ++dwFailed;
                continue;
            }
            const auto* pDev = reinterpret_cast<const LINEDEVCAPS*>(devCaps.data());
            const auto* pAddress = reinterpret_cast<const LINEADDRESSCAPS*>(addressCaps.data());
            addresses[dwLine] = RecordText(addressCaps, pAddress->dwAddressSize, pAddress->dwAddressOffset);
            // A line TAPI could not name or dial from is no line to a user.
            if (addresses[dwLine].empty() || RecordText(devCaps, pDev->dwLineNameSize, pDev->dwLineNameOffset).empty())
                ++dwFailed;
        }
        const double capsMs = MillisecondsSince(started);
        std::string list = "[";
        for (const std::wstring& address : addresses) list += (list.size() > 1 ? "," : "") + JsonString(address);
        CAnswer().Add("caps_ms", Number(capsMs, 3)).Add("failed", Number(dwFailed)).Add("addresses", list + "]").Print();
    }

    void Open() {
        DWORD dwFailed = 0;
        const auto started = Clock::now();
        for (DWORD dwLine = 0; dwLine < m_dwLines; ++dwLine) {
            HDRVLINE hdLine = nullptr;
            if (m_host.OpenLine(dwLine, LineHandle(dwLine), &hdLine) == 0)
                m_lines.push_back(hdLine);
            else
                ++dwFailed;
        }
        CAnswer().Add("open_ms", Number(MillisecondsSince(started), 3)).Add("failed", Number(dwFailed)).Print();
    }

    static void Memory() {
        PROCESS_MEMORY_COUNTERS counters = {sizeof(counters)};
        GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
        CAnswer()
            .Add("working_set", Number(counters.WorkingSetSize))
            .Add("peak_working_set", Number(counters.PeakWorkingSetSize))
            .Add("private", Number(counters.PagefileUsage))
            .Add("heap", Number(HeapBytesInUse()))
            .Print();
    }

    // Takes in the events that arrived since the last look: states counted,
    // calls and their last state remembered for closing.
    void Scan() {
        const std::vector<HostEvent> events = m_host.EventsFrom(m_nScanned);
        m_nScanned += events.size();
        for (const HostEvent& event : events) {
            if (event.kind != HostEvent::LineEvent) continue;
            if (event.dwMsg == LINE_NEWCALL) m_calls[event.htCall] = reinterpret_cast<HDRVCALL>(event.dwParam1);
            if (event.dwMsg != LINE_CALLSTATE) continue;
            ++m_stateCounts[static_cast<DWORD>(event.dwParam1)];
            m_lastStates[event.htCall] = static_cast<DWORD>(event.dwParam1);
        }
    }

    void Wait(std::istringstream& words) {
        DWORD dwState = 0, dwTimeoutMs = 0;
        size_t nCount = 0;
        words >> dwState >> nCount >> dwTimeoutMs;
        const auto deadline = Clock::now() + std::chrono::milliseconds(dwTimeoutMs);
        // Polled, not woken per event: a waiter woken by each of thousands of
        // events would compete with the provider for the processor.
        Scan();
        while (m_stateCounts[dwState] < nCount && Clock::now() < deadline) {
            Sleep(kPollMs);
            Scan();
        }
        CAnswer()
            .Add("reached", m_stateCounts[dwState] >= nCount ? "true" : "false")
            .Add("count", Number(m_stateCounts[dwState]))
            .Print();
    }

    void Events() {
        const std::vector<HostEvent> events = m_host.EventsFrom(m_nReported);
        m_nReported += events.size();
        std::string list = "[";
        for (const HostEvent& event : events) {
            if (event.kind != HostEvent::LineEvent || (event.dwMsg != LINE_NEWCALL && event.dwMsg != LINE_CALLSTATE))
                continue;
            const DWORD dwState = event.dwMsg == LINE_CALLSTATE ? static_cast<DWORD>(event.dwParam1) : 0;
            list += (list.size() > 1 ? ",[" : "[") + std::to_string(LineIndex(event.htLine)) + "," +
                    Number(reinterpret_cast<ULONG_PTR>(event.htCall)) + "," + Number(dwState) + "," +
                    Number(UnixSeconds(event.qwWallTime), 7) + "]";
        }
        CAnswer().Add("events", list + "]").Print();
    }

    void Close() {
        Scan();
        DWORD dwClosed = 0, dwFailed = 0;
        for (const auto& [htCall, dwState] : m_lastStates) {
            if (dwState != LINECALLSTATE_IDLE || m_closed.count(htCall) != 0) continue;
            auto call = m_calls.find(htCall);
            if (call == m_calls.end() || m_host.CloseCall(call->second) != 0) {
                ++dwFailed;
                continue;
            }
            m_closed.insert(htCall);
            ++dwClosed;
        }
        CAnswer().Add("closed", Number(dwClosed)).Add("failed", Number(dwFailed)).Print();
    }

    CTapiHost& m_host;
    DWORD m_dwLines = 0;
    bool m_bStarted = false;
    std::vector<HDRVLINE> m_lines;
    size_t m_nScanned = 0;
    size_t m_nReported = 0;
    std::map<DWORD, size_t> m_stateCounts;
    std::map<HTAPICALL, HDRVCALL> m_calls;
    std::map<HTAPICALL, DWORD> m_lastStates;
    std::set<HTAPICALL> m_closed;
};
}  // namespace

int RunBench(const std::wstring& providerPath) {
    CTapiHost host;
    if (!host.Load(providerPath)) {
        CAnswer().Add("error", JsonString(L"cannot load " + providerPath)).Print();
        return 2;
    }
    CBench bench(host);
    std::string line;
    while (std::getline(std::cin, line) && bench.Run(line)) {
    }
    bench.Quit();
    host.Unload();
    return 0;
}
