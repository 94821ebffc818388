// tapihost soak: the telephony service of the soak run (tools/soak). It keeps
// every line open, lines the provider creates included, closes each call as
// soon as it goes idle, as tapisrv does once the applications let go (on a
// thread of its own, so that a burst never finds slots held by idle calls
// nobody closed), and answers each command on standard input with one JSON line:
//   start                   negotiate, enumerate, initialise, open every line {"result", "lines"}
//   lines                   the open lines and their calls that are not idle:
//                           {"lines": [{"line", "address", "name", "in_service",
//                                       "calls": [[call, state, caller ID, called ID]...]}], "drops_failed"}
//   call <line> <number>    lineMakeCall {"call", "result"}
//   drop <call>             lineDrop {"result"} (its completion counts in "drops_failed")
//   events                  the call states since the last "events":
//                           {"events": [[line, call, state, time]...]}
//   sample                  {"handles", "threads", "private", "heap", "tables": [ORVO_GetTableSizes]}
//   account <name> <pw>     the dialog's OK: settings and shared record written, re-initialisation asked
//   reload                  lines closed, shut down, unloaded, loaded, started and opened again
//   quit                    lines closed, shut down {"shutdown"}
#include "tools/tapihost/Soak.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "config/ProviderSettings.h"
#include "tools/tapihost/JsonAnswer.h"
#include "tools/tapihost/ProviderSetup.h"
#include "tools/tapihost/TapiHost.h"
#include "tools/tapihost/WallClock.h"

namespace {
constexpr DWORD kRecordSize = 4096;
constexpr ULONG_PTR kFirstPlacedCall = 0x40000000;
constexpr wchar_t kSharedSection[] = L"Global\\SharedMemORVOAPITSPORVOTSP";
using TableSizesFn = DWORD(WINAPI*)(DWORD*, DWORD);

std::string Number(ULONGLONG value) { return std::to_string(value); }

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    const int cch = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                        static_cast<int>(wide.size()));
    wide.resize(cch > 0 ? static_cast<size_t>(cch) : 0);
    return wide;
}

// Wine answers GetProcessHandleCount with 0: the handles are counted by
// probing the values handles take (multiples of 4, from the bottom).
DWORD HandleCount() {
    DWORD dwCount = 0, dwFlags = 0;
    for (ULONG_PTR value = 4; value < 0x8000; value += 4)
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &dwFlags)) ++dwCount;
    return dwCount;
}

DWORD ThreadCount() {
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE) return 0;
    DWORD dwCount = 0;
    THREADENTRY32 entry = {sizeof(entry)};
    for (BOOL bMore = Thread32First(hSnapshot, &entry); bMore; bMore = Thread32Next(hSnapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++dwCount;
    CloseHandle(hSnapshot);
    return dwCount;
}

// What the configuration dialog does on OK: the account into the settings
// and into the record shared with the service, then the request to log in again.
bool RequestReinitialization(const std::wstring& name, const std::wstring& password) {
    if (!WriteProtectedSetting(kProviderSettingsKey, L"Name", name) ||
        !WriteProtectedSetting(kProviderSettingsKey, L"Password", password))
        return false;
    HANDLE hMapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, kSharedSection);
    if (hMapping == nullptr) return false;
    auto* pShared = static_cast<ProviderSettings*>(MapViewOfFile(hMapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(ProviderSettings)));
    if (pShared != nullptr) {
        lstrcpynW(pShared->Name, name.c_str(), ARRAYSIZE(pShared->Name));
        lstrcpynW(pShared->Password, password.c_str(), ARRAYSIZE(pShared->Password));
        pShared->ReinitRequested = 1;
        UnmapViewOfFile(pShared);
    }
    CloseHandle(hMapping);
    return pShared != nullptr;
}

class CSoak {
public:
    CSoak(CTapiHost& host, std::wstring providerPath)
        : m_host(host), m_providerPath(std::move(providerPath)), m_closer([this] { CloseIdleCalls(); }) {}
    ~CSoak() { StopCloser(); }

    // False once the input asks to end.
    bool Run(const std::string& line) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        if (command == "lines") return Lines(), true;  // long: takes the lock per line, see Lines
        std::lock_guard<std::mutex> lock(m_mutex);
        Scan();
        if (command == "start") Start();
        else if (command == "call") Call(words);
        else if (command == "drop") Drop(words);
        else if (command == "events") Events();
        else if (command == "sample") Sample();
        else if (command == "account") Account(words);
        else if (command == "reload") Reload();
        else if (command == "quit") return false;
        else CAnswer().Add("error", JsonString(L"unknown command")).Print();
        return true;
    }

    void Quit() {
        StopCloser();
        std::lock_guard<std::mutex> lock(m_mutex);
        CAnswer().Add("shutdown", std::to_string(Stop())).Print();
    }

private:
    struct Line {
        HDRVLINE hdLine;
    };
    struct KnownCall {
        DWORD dwLine;
        HDRVCALL hdCall;
        DWORD dwState;
    };

    static HTAPILINE LineHandle(DWORD dwLine) { return reinterpret_cast<HTAPILINE>(static_cast<ULONG_PTR>(dwLine + 1)); }
    static DWORD LineIndex(HTAPILINE htLine) { return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(htLine)) - 1; }

    void OpenLine(DWORD dwLine) {
        HDRVLINE hdLine = nullptr;
        if (m_host.OpenLine(dwLine, LineHandle(dwLine), &hdLine) == 0) m_lines[dwLine] = Line{hdLine};
    }

    void Start() {
        DWORD dwLines = 0;
        const LONG lResult = m_host.Start(&dwLines);
        m_bStarted = lResult == 0;
        for (DWORD dwLine = 0; m_bStarted && dwLine < dwLines; ++dwLine) OpenLine(dwLine);
        CAnswer().Add("result", std::to_string(lResult)).Add("lines", Number(m_lines.size())).Print();
    }

    LONG Stop() {
        Scan();
        for (const auto& entry : m_lines) m_host.CloseLine(entry.second.hdLine);
        m_lines.clear();
        m_calls.clear();
        m_placing.clear();
        const LONG lResult = m_bStarted ? m_host.Shutdown() : 0;
        m_bStarted = false;
        m_host.TakeEvents();
        return lResult;
    }

    void Reload() {
        Stop();
        m_host.Unload();
        if (!m_host.Load(m_providerPath)) {
            CAnswer().Add("error", JsonString(L"cannot load the provider again")).Print();
            return;
        }
        Start();
    }

    // Takes in what the provider reported: calls and their states, lines
    // created (opened, as an application watching every line does) and
    // removed (the host closed them), drops that failed.
    void Scan() {
        for (const HostEvent& event : m_host.TakeEvents()) {
            if (event.kind == HostEvent::DeviceCreated && event.lResult == 0) OpenLine(static_cast<DWORD>(event.dwParam2));
            if (event.kind == HostEvent::DeviceClosed) ForgetLine(static_cast<DWORD>(event.dwParam1));
            if (event.kind == HostEvent::Completion && m_drops.erase(event.dwRequestID) != 0 && event.lResult != 0)
                ++m_dwDropsFailed;
            // A placed call whose request failed is closed by tapisrv at once: it never was a call.
            if (event.kind == HostEvent::Completion) {
                auto placed = m_placing.find(event.dwRequestID);
                auto call = placed != m_placing.end() ? m_calls.find(placed->second) : m_calls.end();
                if (call != m_calls.end() && event.lResult != 0) {
                    m_host.CloseCall(call->second.hdCall);
                    m_calls.erase(call);
                }
                if (placed != m_placing.end()) m_placing.erase(placed);
            }
            if (event.kind != HostEvent::LineEvent) continue;
            if (event.dwMsg == LINE_NEWCALL)
                m_calls[event.htCall] = KnownCall{LineIndex(event.htLine), reinterpret_cast<HDRVCALL>(event.dwParam1), 0};
            if (event.dwMsg != LINE_CALLSTATE) continue;
            const DWORD dwState = static_cast<DWORD>(event.dwParam1);
            m_states.push_back("[" + Number(LineIndex(event.htLine)) + "," +
                               Number(reinterpret_cast<ULONG_PTR>(event.htCall)) + "," + Number(dwState) + "," +
                               std::to_string(UnixSeconds(event.qwWallTime)) + "]");
            auto call = m_calls.find(event.htCall);
            if (call != m_calls.end()) call->second.dwState = dwState;
        }
        // tapisrv closes a call once every application let go of it.
        for (auto call = m_calls.begin(); call != m_calls.end();) {
            if (call->second.dwState == LINECALLSTATE_IDLE) {
                m_host.CloseCall(call->second.hdCall);
                call = m_calls.erase(call);
            } else {
                ++call;
            }
        }
    }

    // The closer thread: takes in the provider's reports as they come, so an
    // idle call is closed moments after its IDLE, not at the next command.
    void CloseIdleCalls() {
        while (!m_bStop) {
            if (!m_host.WaitForEventCount(1, 100)) continue;
            std::lock_guard<std::mutex> lock(m_mutex);
            Scan();
        }
    }

    void StopCloser() {
        m_bStop = true;
        if (m_closer.joinable()) m_closer.join();
    }

    void ForgetLine(DWORD dwLine) {
        m_lines.erase(dwLine);
        for (auto call = m_calls.begin(); call != m_calls.end();)
            call = call->second.dwLine == dwLine ? m_calls.erase(call) : std::next(call);
    }

    // Under m_mutex, so that no call is closed while its record is read.
    std::string CallsOf(DWORD dwLine) {
        std::lock_guard<std::mutex> lock(m_mutex);
        Scan();
        std::string list = "[";
        std::vector<BYTE> info;
        for (const auto& [htCall, call] : m_calls) {
            if (call.dwLine != dwLine) continue;
            std::wstring caller, called;
            if (m_host.GetCallInfo(call.hdCall, kRecordSize, &info) == 0) {
                const auto* pInfo = reinterpret_cast<const LINECALLINFO*>(info.data());
                caller = RecordText(info, pInfo->dwCallerIDSize, pInfo->dwCallerIDOffset);
                called = RecordText(info, pInfo->dwCalledIDSize, pInfo->dwCalledIDOffset);
            }
            list += (list.size() > 1 ? ",[" : "[") + Number(reinterpret_cast<ULONG_PTR>(htCall)) + "," +
                    Number(call.dwState) + "," + JsonString(caller) + "," + JsonString(called) + "]";
        }
        return list + "]";
    }

    // The lines' records are read without m_mutex (the device thread closes
    // removed lines on its own anyway): the closer thread must not wait for a
    // whole pass over every line while a burst fills the call slots.
    void Lines() {
        std::map<DWORD, Line> lines;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            Scan();
            lines = m_lines;
        }
        std::string list = "[";
        std::vector<BYTE> caps, address, status;
        for (const auto& [dwLine, line] : lines) {
            std::wstring name, number;
            if (m_host.GetDevCaps(dwLine, kRecordSize, &caps) == 0) {
                const auto* pCaps = reinterpret_cast<const LINEDEVCAPS*>(caps.data());
                name = RecordText(caps, pCaps->dwLineNameSize, pCaps->dwLineNameOffset);
            }
            if (m_host.GetAddressCaps(dwLine, 0, kRecordSize, &address) == 0) {
                const auto* pAddress = reinterpret_cast<const LINEADDRESSCAPS*>(address.data());
                number = RecordText(address, pAddress->dwAddressSize, pAddress->dwAddressOffset);
            }
            bool bInService = false;
            if (m_host.GetLineDevStatus(line.hdLine, kRecordSize, &status) == 0)
                bInService = (reinterpret_cast<const LINEDEVSTATUS*>(status.data())->dwDevStatusFlags &
                              LINEDEVSTATUSFLAGS_INSERVICE) != 0;
            list += std::string(list.size() > 1 ? "," : "") + "{\"line\":" + Number(dwLine) +
                    ",\"address\":" + JsonString(number) + ",\"name\":" + JsonString(name) +
                    ",\"in_service\":" + (bInService ? "true" : "false") + ",\"calls\":" + CallsOf(dwLine) + "}";
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        CAnswer().Add("lines", list + "]").Add("drops_failed", Number(m_dwDropsFailed)).Print();
    }

    void Call(std::istringstream& words) {
        DWORD dwLine = 0;
        std::string number;
        words >> dwLine >> number;
        auto line = m_lines.find(dwLine);
        const HTAPICALL htCall = reinterpret_cast<HTAPICALL>(kFirstPlacedCall + ++m_nPlaced);
        HDRVCALL hdCall = nullptr;
        LONG lResult = LINEERR_BADDEVICEID;
        if (line != m_lines.end())
            lResult = m_host.MakeCall(m_dwNextRequest++, line->second.hdLine, htCall, &hdCall, Wide(number).c_str());
        if (lResult > 0 && hdCall != nullptr) {
            m_calls[htCall] = KnownCall{dwLine, hdCall, 0};
            m_placing[static_cast<DWORD>(lResult)] = htCall;
        }
        CAnswer().Add("call", Number(reinterpret_cast<ULONG_PTR>(htCall))).Add("result", std::to_string(lResult)).Print();
    }

    void Drop(std::istringstream& words) {
        ULONGLONG qwCall = 0;
        words >> qwCall;
        auto call = m_calls.find(reinterpret_cast<HTAPICALL>(static_cast<ULONG_PTR>(qwCall)));
        LONG lResult = LINEERR_INVALCALLHANDLE;
        if (call != m_calls.end()) {
            const DWORD dwRequest = m_dwNextRequest++;
            lResult = m_host.Drop(dwRequest, call->second.hdCall);
            if (lResult > 0) m_drops.insert(dwRequest);
        }
        CAnswer().Add("result", std::to_string(lResult)).Print();
    }

    void Events() {
        std::string list = "[";
        for (const std::string& state : m_states) list += (list.size() > 1 ? "," : "") + state;
        m_states.clear();
        CAnswer().Add("events", list + "]").Print();
    }

    void Sample() {
        PROCESS_MEMORY_COUNTERS counters = {sizeof(counters)};
        GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
        std::string tables = "[";
        auto tableSizes = m_host.ExportAs<TableSizesFn>("ORVO_GetTableSizes");
        DWORD sizes[16] = {};
        const DWORD dwSizes = tableSizes != nullptr ? tableSizes(sizes, ARRAYSIZE(sizes)) : 0;
        for (DWORD i = 0; i < dwSizes && i < ARRAYSIZE(sizes); ++i) tables += (i ? "," : "") + Number(sizes[i]);
        CAnswer()
            .Add("handles", Number(HandleCount()))
            .Add("threads", Number(ThreadCount()))
            .Add("private", Number(counters.PagefileUsage))
            .Add("heap", Number(HeapBytesInUse()))
            .Add("tables", tables + "]")
            .Print();
    }

    void Account(std::istringstream& words) {
        std::string name, password;
        words >> name >> password;
        CAnswer().Add("written", RequestReinitialization(Wide(name), Wide(password)) ? "true" : "false").Print();
    }

    CTapiHost& m_host;
    const std::wstring m_providerPath;
    bool m_bStarted = false;
    std::map<DWORD, Line> m_lines;
    std::map<HTAPICALL, KnownCall> m_calls;
    std::vector<std::string> m_states;
    std::set<DWORD> m_drops;  // drop requests whose completion is awaited
    std::map<DWORD, HTAPICALL> m_placing;  // make-call requests whose completion is awaited
    DWORD m_dwDropsFailed = 0;
    DWORD m_dwNextRequest = 1;
    size_t m_nPlaced = 0;
    std::mutex m_mutex;  // one command or one scan at a time; taken before the host's own locks
    std::atomic<bool> m_bStop{false};
    std::thread m_closer;  // last: started once everything it uses exists
};
}  // namespace

int RunSoak(const std::wstring& providerPath) {
    CTapiHost host;
    if (!host.Load(providerPath)) {
        CAnswer().Add("error", JsonString(L"cannot load " + providerPath)).Print();
        return 2;
    }
    CSoak soak(host, providerPath);
    std::string line;
    while (std::getline(std::cin, line) && soak.Run(line)) {
    }
    soak.Quit();
    host.Unload();
    return 0;
}
