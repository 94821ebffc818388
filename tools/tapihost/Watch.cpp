// Commands, one per line on standard input:
//   call <line> <number>   place a call on the line (lines count from 0)
//   drop <line>            drop the line's last placed or offered call
//   wait <ms>              pause
//   quit                   shut the provider down and end
#include "tools/tapihost/Watch.h"

#include <cstdarg>
#include <cstdio>
#include <iostream>
#include <map>
#include <sstream>
#include <thread>

#include "tools/tapihost/TapiHost.h"

namespace {
constexpr DWORD kFirstRequestID = 1000;

struct CallNames {
    DWORD dwState;
    const wchar_t* pszName;
};

const wchar_t* CallStateName(DWORD dwState) {
    static const CallNames kNames[] = {
        {LINECALLSTATE_IDLE, L"idle"},           {LINECALLSTATE_OFFERING, L"offering"},
        {LINECALLSTATE_ACCEPTED, L"accepted"},   {LINECALLSTATE_DIALTONE, L"dial tone"},
        {LINECALLSTATE_DIALING, L"dialing"},     {LINECALLSTATE_RINGBACK, L"ringback"},
        {LINECALLSTATE_BUSY, L"busy"},           {LINECALLSTATE_CONNECTED, L"connected"},
        {LINECALLSTATE_PROCEEDING, L"proceeding"}, {LINECALLSTATE_ONHOLD, L"on hold"},
        {LINECALLSTATE_DISCONNECTED, L"disconnected"}, {LINECALLSTATE_UNKNOWN, L"unknown"},
    };
    for (const CallNames& name : kNames)
        if (name.dwState == dwState) return name.pszName;
    return L"?";
}

class CWatch {
public:
    explicit CWatch(CTapiHost& host) : m_host(host) {}

    bool Start(DWORD dwLines) {
        for (DWORD dwLine = 0; dwLine < dwLines; ++dwLine) {
            std::vector<BYTE> caps;
            m_host.GetDevCaps(dwLine, 4096, &caps);
            const auto* pCaps = reinterpret_cast<const LINEDEVCAPS*>(caps.data());
            HDRVLINE hdLine = nullptr;
            LONG lResult = m_host.OpenLine(dwLine, LineHandle(dwLine), &hdLine);
            Print(L"line %lu: \"%ls\" open: 0x%08lX", static_cast<unsigned long>(dwLine),
                  RecordText(caps, pCaps->dwLineNameSize, pCaps->dwLineNameOffset).c_str(),
                  static_cast<unsigned long>(lResult));
            if (lResult != 0) return false;
            m_lines.push_back(hdLine);
        }
        m_printer = std::thread([this] { PrintEvents(); });
        return true;
    }

    void Run() {
        std::string line;
        while (std::getline(std::cin, line)) {
            std::istringstream words(line);
            std::string command;
            words >> command;
            if (command == "quit") break;
            if (command == "wait") {
                DWORD dwMs = 0;
                words >> dwMs;
                Sleep(dwMs);
            } else if (command == "call") {
                DWORD dwLine = 0;
                std::string number;
                words >> dwLine >> number;
                PlaceCall(dwLine, std::wstring(number.begin(), number.end()));
            } else if (command == "drop") {
                DWORD dwLine = 0;
                words >> dwLine;
                DropCall(dwLine);
            } else if (!command.empty()) {
                Print(L"tapihost: unknown command %hs", command.c_str());
            }
        }
    }

    void Stop() {
        Sleep(300);  // the last completions and events
        m_bStopping = true;
        if (m_printer.joinable()) m_printer.join();
        for (HDRVLINE hdLine : m_lines) m_host.CloseLine(hdLine);
    }

private:
    static HTAPILINE LineHandle(DWORD dwLine) { return reinterpret_cast<HTAPILINE>(static_cast<ULONG_PTR>(dwLine + 1)); }
    static DWORD LineIndex(HTAPILINE htLine) { return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(htLine)) - 1; }

    void PlaceCall(DWORD dwLine, const std::wstring& number) {
        if (dwLine >= m_lines.size()) return Print(L"tapihost: no line %lu", static_cast<unsigned long>(dwLine));
        HTAPICALL htCall = reinterpret_cast<HTAPICALL>(static_cast<ULONG_PTR>(0x900 + m_dwNextRequest));
        HDRVCALL hdCall = nullptr;
        const DWORD dwRequest = m_dwNextRequest++;
        LONG lResult = m_host.MakeCall(dwRequest, m_lines[dwLine], htCall, &hdCall, number.c_str());
        Print(L"line %lu: make call to %ls: request %ld", static_cast<unsigned long>(dwLine), number.c_str(), lResult);
        if (lResult > 0) Remember(htCall, hdCall, dwLine);
    }

    void DropCall(DWORD dwLine) {
        HDRVCALL hdCall = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            auto last = m_lastCallOfLine.find(dwLine);
            if (last != m_lastCallOfLine.end()) hdCall = last->second;
        }
        if (hdCall == nullptr) return Print(L"tapihost: no call on line %lu", static_cast<unsigned long>(dwLine));
        LONG lResult = m_host.Drop(m_dwNextRequest++, hdCall);
        Print(L"line %lu: drop: request %ld", static_cast<unsigned long>(dwLine), lResult);
    }

    void Remember(HTAPICALL htCall, HDRVCALL hdCall, DWORD dwLine) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls[htCall] = hdCall;
        m_lastCallOfLine[dwLine] = hdCall;
    }

    HDRVCALL DriverCall(HTAPICALL htCall) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto call = m_calls.find(htCall);
        return call != m_calls.end() ? call->second : nullptr;
    }

    void PrintEvents() {
        size_t nPrinted = 0;
        while (!m_bStopping) {
            m_host.WaitForEventCount(nPrinted + 1, 200);
            const std::vector<HostEvent> events = m_host.Events();
            for (; nPrinted < events.size(); ++nPrinted) PrintEvent(events[nPrinted]);
        }
    }

    void PrintEvent(const HostEvent& event) {
        if (event.kind == HostEvent::Completion) {
            Print(L"request %lu completed: 0x%08lX", static_cast<unsigned long>(event.dwRequestID),
                  static_cast<unsigned long>(event.lResult));
            return;
        }
        if (event.kind == HostEvent::DeviceCreated) {
            const DWORD dwLine = static_cast<DWORD>(event.dwParam2);
            std::vector<BYTE> caps;
            std::wstring name;
            if (event.lResult == 0 && m_host.GetDevCaps(dwLine, 4096, &caps) == 0) {
                const auto* pCaps = reinterpret_cast<const LINEDEVCAPS*>(caps.data());
                name = L" \"" + RecordText(caps, pCaps->dwLineNameSize, pCaps->dwLineNameOffset) + L"\"";
            }
            Print(L"line %lu:%ls created: 0x%08lX", static_cast<unsigned long>(dwLine), name.c_str(),
                  static_cast<unsigned long>(event.lResult));
            return;
        }
        if (event.dwMsg == LINE_REMOVE && (event.kind == HostEvent::LineEvent || event.kind == HostEvent::LineCreate)) {
            Print(L"line %lu: removed", static_cast<unsigned long>(event.dwParam1));
            return;
        }
        if (event.kind != HostEvent::LineEvent) return;
        const DWORD dwLine = LineIndex(event.htLine);
        if (event.dwMsg == LINE_NEWCALL) {
            Remember(event.htCall, reinterpret_cast<HDRVCALL>(event.dwParam1), dwLine);
            Print(L"line %lu: new call", static_cast<unsigned long>(dwLine));
        } else if (event.dwMsg == LINE_CALLSTATE) {
            PrintCall(dwLine, event.htCall, static_cast<DWORD>(event.dwParam1));
        }
    }

    void PrintCall(DWORD dwLine, HTAPICALL htCall, DWORD dwState) {
        std::vector<BYTE> info;
        HDRVCALL hdCall = DriverCall(htCall);
        std::wstring numbers;
        if (hdCall != nullptr && dwState != LINECALLSTATE_IDLE && m_host.GetCallInfo(hdCall, 4096, &info) == 0) {
            const auto* pInfo = reinterpret_cast<const LINECALLINFO*>(info.data());
            numbers = L"  caller " + RecordText(info, pInfo->dwCallerIDSize, pInfo->dwCallerIDOffset) +
                      L"  called " + RecordText(info, pInfo->dwCalledIDSize, pInfo->dwCalledIDOffset) +
                      L"  connected " + RecordText(info, pInfo->dwConnectedIDSize, pInfo->dwConnectedIDOffset);
        }
        Print(L"line %lu: call %ls%ls", static_cast<unsigned long>(dwLine), CallStateName(dwState), numbers.c_str());
    }

    CTapiHost& m_host;
    std::vector<HDRVLINE> m_lines;
    std::thread m_printer;
    volatile bool m_bStopping = false;
    DWORD m_dwNextRequest = kFirstRequestID;
    std::mutex m_mutex;
    std::map<HTAPICALL, HDRVCALL> m_calls;
    std::map<DWORD, HDRVCALL> m_lastCallOfLine;
};
}  // namespace

void Print(const wchar_t* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    wchar_t szLine[1024];
    _vsnwprintf(szLine, 1023, pszFormat, args);
    szLine[1023] = L'\0';
    va_end(args);
    // The console may be a pipe: print UTF-8.
    char szUtf8[4096];
    int cb = WideCharToMultiByte(CP_UTF8, 0, szLine, -1, szUtf8, sizeof(szUtf8), nullptr, nullptr);
    if (cb > 0) fputs(szUtf8, stdout);
    fputs("\n", stdout);
    fflush(stdout);
}

int RunWatch(const std::wstring& providerPath) {
    CTapiHost host;
    if (!host.Load(providerPath)) {
        Print(L"tapihost: cannot load %ls (error %lu)", providerPath.c_str(), GetLastError());
        return 2;
    }
    DWORD dwLines = 0;
    LONG lResult = host.Start(&dwLines);
    Print(L"tapihost: provider started: 0x%08lX, %lu lines", static_cast<unsigned long>(lResult),
          static_cast<unsigned long>(dwLines));
    int nExit = 1;
    if (lResult == 0) {
        CWatch watch(host);
        if (watch.Start(dwLines)) {
            watch.Run();
            nExit = 0;
        }
        watch.Stop();
    }
    Print(L"tapihost: shut down: 0x%08lX", static_cast<unsigned long>(host.Shutdown()));
    host.Unload();
    return nExit;
}
