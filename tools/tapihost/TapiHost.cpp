#include "tools/tapihost/TapiHost.h"

#include <cstring>

#include "tools/tapihost/WallClock.h"

namespace {
CTapiHost* g_pCurrentHost = nullptr;

using NegotiateFn = LONG(WINAPI*)(DWORD, DWORD, DWORD, LPDWORD);
using EnumDevicesFn = LONG(WINAPI*)(DWORD, LPDWORD, LPDWORD, HPROVIDER, LINEEVENT, PHONEEVENT);
using InitFn = LONG(WINAPI*)(DWORD, DWORD, DWORD, DWORD, DWORD_PTR, DWORD_PTR, ASYNC_COMPLETION, LPDWORD);
using ShutdownFn = LONG(WINAPI*)(DWORD, DWORD);
using LineOpenFn = LONG(WINAPI*)(DWORD, HTAPILINE, HDRVLINE*, DWORD, LINEEVENT);
using LineCloseFn = LONG(WINAPI*)(HDRVLINE);
using GetDevCapsFn = LONG(WINAPI*)(DWORD, DWORD, DWORD, void*);
using GetAddressCapsFn = LONG(WINAPI*)(DWORD, DWORD, DWORD, DWORD, void*);
using GetLineDevStatusFn = LONG(WINAPI*)(HDRVLINE, void*);
using GetAddressStatusFn = LONG(WINAPI*)(HDRVLINE, DWORD, void*);
using GetIDFn = LONG(WINAPI*)(HDRVLINE, DWORD, HDRVCALL, DWORD, void*, LPCWSTR, HANDLE);
using MakeCallFn = LONG(WINAPI*)(DRV_REQUESTID, HDRVLINE, HTAPICALL, HDRVCALL*, LPCWSTR, DWORD, LINECALLPARAMS*);
using DropFn = LONG(WINAPI*)(DRV_REQUESTID, HDRVCALL, LPCSTR, DWORD);
using CloseCallFn = LONG(WINAPI*)(HDRVCALL);
using GetCallInfoFn = LONG(WINAPI*)(HDRVCALL, void*);
using CreateLineDeviceFn = LONG(WINAPI*)(DWORD_PTR, DWORD);

constexpr LONG kMissingExport = LINEERR_OPERATIONUNAVAIL;
}  // namespace

CTapiHost::CTapiHost() { g_pCurrentHost = this; }

CTapiHost::~CTapiHost() {
    Unload();
    if (g_pCurrentHost == this) g_pCurrentHost = nullptr;
}

CTapiHost* CTapiHost::Current() { return g_pCurrentHost; }

bool CTapiHost::Load(const std::wstring& path) {
    Unload();
    m_hProvider = LoadLibraryW(path.c_str());
    return m_hProvider != nullptr;
}

void CTapiHost::Unload() {
    StopDeviceThread();
    if (m_hProvider != nullptr) FreeLibrary(m_hProvider);
    m_hProvider = nullptr;
}

FARPROC CTapiHost::Export(const char* pszName) const {
    return m_hProvider != nullptr ? GetProcAddress(m_hProvider, pszName) : nullptr;
}

LONG CTapiHost::NegotiateTSPIVersion(DWORD dwDeviceID, DWORD dwLow, DWORD dwHigh, DWORD* pdwVersion) {
    auto negotiate = ExportAs<NegotiateFn>("TSPI_lineNegotiateTSPIVersion");
    if (negotiate == nullptr) return kMissingExport;
    std::lock_guard<std::recursive_mutex> call(m_callMutex);
    LONG lResult = negotiate(dwDeviceID, dwLow, dwHigh, pdwVersion);
    if (lResult == 0 && pdwVersion != nullptr) m_dwVersion = *pdwVersion;
    return lResult;
}

LONG CTapiHost::EnumDevices(DWORD* pdwNumLines, DWORD* pdwNumPhones) {
    auto enumDevices = ExportAs<EnumDevicesFn>("TSPI_providerEnumDevices");
    if (enumDevices == nullptr) return kMissingExport;
    StartDeviceThread();
    std::lock_guard<std::recursive_mutex> call(m_callMutex);
    return enumDevices(kPermanentProviderID, pdwNumLines, pdwNumPhones, reinterpret_cast<HPROVIDER>(this),
                       &OnLineCreate, &OnPhoneCreate);
}

LONG CTapiHost::Init(DWORD dwNumLines, DWORD* pdwTSPIOptions) {
    auto init = ExportAs<InitFn>("TSPI_providerInit");
    if (init == nullptr) return kMissingExport;
    {
        // Lines created from now on are numbered after the ones TAPI counted.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_dwNextDeviceID = kLineDeviceIDBase + dwNumLines;
        m_createdDevices.clear();
        m_removedDevices.clear();
        m_openLines.clear();
        m_calls.clear();
    }
    std::lock_guard<std::recursive_mutex> call(m_callMutex);
    return init(m_dwVersion, kPermanentProviderID, kLineDeviceIDBase, 0, dwNumLines, 0, &OnCompletion,
                pdwTSPIOptions);
}

LONG CTapiHost::Shutdown() {
    auto shutdown = ExportAs<ShutdownFn>("TSPI_providerShutdown");
    if (shutdown == nullptr) return kMissingExport;
    // Device messages not yet handled die with the provider, as in tapisrv.
    StopDeviceThread();
    std::lock_guard<std::recursive_mutex> call(m_callMutex);
    return shutdown(m_dwVersion, kPermanentProviderID);
}

LONG CTapiHost::Start(DWORD* pdwNumLines) {
    DWORD dwVersion = 0;
    LONG lResult = NegotiateTSPIVersion(INITIALIZE_NEGOTIATION, 0x00020000, 0x00020002, &dwVersion);
    DWORD dwLines = 0;
    DWORD dwPhones = 0;
    if (lResult == 0) lResult = EnumDevices(&dwLines, &dwPhones);
    DWORD dwOptions = 0;
    if (lResult == 0) lResult = Init(dwLines, &dwOptions);
    if (pdwNumLines != nullptr) *pdwNumLines = dwLines;
    return lResult;
}

LONG CTapiHost::OpenLine(DWORD dwDeviceID, HTAPILINE htLine, HDRVLINE* phdLine) {
    auto open = ExportAs<LineOpenFn>("TSPI_lineOpen");
    if (open == nullptr) return kMissingExport;
    std::lock_guard<std::recursive_mutex> call(m_callMutex);
    LONG lResult = open(dwDeviceID, htLine, phdLine, m_dwVersion, &OnLineEvent);
    if (lResult == 0 && phdLine != nullptr) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_openLines[dwDeviceID] = OpenLineEntry{*phdLine, htLine};
    }
    return lResult;
}

LONG CTapiHost::CloseLine(HDRVLINE hdLine) {
    auto close = ExportAs<LineCloseFn>("TSPI_lineClose");
    if (close == nullptr) return kMissingExport;
    std::lock_guard<std::recursive_mutex> call(m_callMutex);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto entry = m_openLines.begin(); entry != m_openLines.end(); ++entry) {
            if (entry->second.hdLine != hdLine) continue;
            m_openLines.erase(entry);
            break;
        }
    }
    return close(hdLine);
}

template <typename Read>
LONG CTapiHost::ReadRecord(DWORD dwTotalSize, DWORD cbFixed, std::vector<BYTE>* pRecord, Read read) {
    pRecord->assign(dwTotalSize > cbFixed ? dwTotalSize : cbFixed, 0);
    std::memcpy(pRecord->data(), &dwTotalSize, sizeof(dwTotalSize));
    std::lock_guard<std::recursive_mutex> call(m_callMutex);
    return read(pRecord->data());
}

LONG CTapiHost::GetDevCaps(DWORD dwDeviceID, DWORD dwTotalSize, std::vector<BYTE>* pRecord) {
    auto get = ExportAs<GetDevCapsFn>("TSPI_lineGetDevCaps");
    if (get == nullptr) return kMissingExport;
    return ReadRecord(dwTotalSize, sizeof(LINEDEVCAPS), pRecord,
                      [&](void* p) { return get(dwDeviceID, m_dwVersion, 0, p); });
}

LONG CTapiHost::GetAddressCaps(DWORD dwDeviceID, DWORD dwAddressID, DWORD dwTotalSize, std::vector<BYTE>* pRecord) {
    auto get = ExportAs<GetAddressCapsFn>("TSPI_lineGetAddressCaps");
    if (get == nullptr) return kMissingExport;
    return ReadRecord(dwTotalSize, sizeof(LINEADDRESSCAPS), pRecord,
                      [&](void* p) { return get(dwDeviceID, dwAddressID, m_dwVersion, 0, p); });
}

LONG CTapiHost::GetLineDevStatus(HDRVLINE hdLine, DWORD dwTotalSize, std::vector<BYTE>* pRecord) {
    auto get = ExportAs<GetLineDevStatusFn>("TSPI_lineGetLineDevStatus");
    if (get == nullptr) return kMissingExport;
    return ReadRecord(dwTotalSize, sizeof(LINEDEVSTATUS), pRecord, [&](void* p) { return get(hdLine, p); });
}

LONG CTapiHost::GetAddressStatus(HDRVLINE hdLine, DWORD dwAddressID, DWORD dwTotalSize, std::vector<BYTE>* pRecord) {
    auto get = ExportAs<GetAddressStatusFn>("TSPI_lineGetAddressStatus");
    if (get == nullptr) return kMissingExport;
    return ReadRecord(dwTotalSize, sizeof(LINEADDRESSSTATUS), pRecord,
                      [&](void* p) { return get(hdLine, dwAddressID, p); });
}

LONG CTapiHost::GetLineID(HDRVLINE hdLine, HDRVCALL hdCall, DWORD dwSelect, const wchar_t* pszDeviceClass,
                          DWORD dwTotalSize, std::vector<BYTE>* pRecord) {
    auto get = ExportAs<GetIDFn>("TSPI_lineGetID");
    if (get == nullptr) return kMissingExport;
    return ReadRecord(dwTotalSize, sizeof(VARSTRING), pRecord,
                      [&](void* p) { return get(hdLine, 0, hdCall, dwSelect, p, pszDeviceClass, nullptr); });
}

std::vector<HostEvent> CTapiHost::LineEvents() const {
    std::vector<HostEvent> lineEvents;
    for (const HostEvent& event : Events())
        if (event.kind == HostEvent::LineEvent) lineEvents.push_back(event);
    return lineEvents;
}

std::vector<HostEvent> CTapiHost::Events() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
}

std::vector<HostEvent> CTapiHost::EventsFrom(size_t nFirst) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (nFirst >= m_events.size()) return {};
    return std::vector<HostEvent>(m_events.begin() + static_cast<std::ptrdiff_t>(nFirst), m_events.end());
}

size_t CTapiHost::EventCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events.size();
}

std::vector<HostEvent> CTapiHost::TakeEvents() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<HostEvent> taken;
    taken.swap(m_events);
    return taken;
}

void CTapiHost::ClearEvents() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.clear();
}

bool CTapiHost::WaitForEvent(const std::function<bool(const HostEvent&)>& predicate, DWORD dwTimeoutMs) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    auto found = [&] {
        for (const HostEvent& event : m_events)
            if (predicate(event)) return true;
        return false;
    };
    return m_changed.wait_for(lock, std::chrono::milliseconds(dwTimeoutMs), found);
}

bool CTapiHost::WaitForEventCount(size_t nCount, DWORD dwTimeoutMs) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(dwTimeoutMs), [&] { return m_events.size() >= nCount; });
}

void CTapiHost::Record(HostEvent event) {
    event.time = std::chrono::steady_clock::now();
    event.qwWallTime = WallClockTicks();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(event);
    }
    m_changed.notify_all();
}

void CALLBACK CTapiHost::OnCompletion(DRV_REQUESTID dwRequestID, LONG lResult) {
    if (g_pCurrentHost == nullptr) return;
    HostEvent event{};
    event.kind = HostEvent::Completion;
    event.dwRequestID = dwRequestID;
    event.lResult = lResult;
    g_pCurrentHost->Record(event);
}

void CALLBACK CTapiHost::OnLineEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD dwMsg, DWORD_PTR dwParam1,
                                     DWORD_PTR dwParam2, DWORD_PTR dwParam3) {
    if (g_pCurrentHost == nullptr) return;
    HostEvent event{};
    event.kind = HostEvent::LineEvent;
    event.htLine = htLine;
    event.htCall = htCall;
    event.dwMsg = dwMsg;
    event.dwParam1 = dwParam1;
    event.dwParam2 = dwParam2;
    event.dwParam3 = dwParam3;
    // tapisrv learns a call the provider reports by writing its own handle for it.
    if (dwMsg == LINE_NEWCALL && dwParam2 != 0) {
        event.htCall = reinterpret_cast<HTAPICALL>(++g_pCurrentHost->m_nextCallHandle);
        *reinterpret_cast<HTAPICALL*>(dwParam2) = event.htCall;
        std::lock_guard<std::mutex> lock(g_pCurrentHost->m_mutex);
        g_pCurrentHost->m_calls[event.htCall] = KnownCall{reinterpret_cast<HDRVCALL>(dwParam1), htLine, 0};
    }
    if (dwMsg == LINE_CALLSTATE) {
        std::lock_guard<std::mutex> lock(g_pCurrentHost->m_mutex);
        auto known = g_pCurrentHost->m_calls.find(htCall);
        if (known != g_pCurrentHost->m_calls.end()) known->second.dwLastState = static_cast<DWORD>(dwParam1);
    }
    g_pCurrentHost->Record(event);
    if (dwMsg == LINE_REMOVE) g_pCurrentHost->QueueDeviceMessage(dwMsg, dwParam1);
}

void CALLBACK CTapiHost::OnLineCreate(HTAPILINE htLine, HTAPICALL htCall, DWORD dwMsg, DWORD_PTR dwParam1,
                                      DWORD_PTR dwParam2, DWORD_PTR dwParam3) {
    if (g_pCurrentHost == nullptr) return;
    HostEvent event{};
    event.kind = HostEvent::LineCreate;
    event.htLine = htLine;
    event.dwMsg = dwMsg;
    event.dwParam1 = dwParam1;
    event.dwParam2 = dwParam2;
    event.dwParam3 = dwParam3;
    g_pCurrentHost->Record(event);
    // A LINE_CREATE carries the provider handle and the temporary ID; a
    // LINE_REMOVE may come this way too (tapisrv takes both on either procedure).
    if (dwMsg == LINE_CREATE) g_pCurrentHost->QueueDeviceMessage(dwMsg, dwParam2);
    if (dwMsg == LINE_REMOVE) g_pCurrentHost->QueueDeviceMessage(dwMsg, dwParam1);
}

void CALLBACK CTapiHost::OnPhoneCreate(HTAPIPHONE, DWORD dwMsg, DWORD_PTR dwParam1, DWORD_PTR dwParam2,
                                       DWORD_PTR dwParam3) {
    if (g_pCurrentHost == nullptr) return;
    HostEvent event{};
    event.kind = HostEvent::PhoneCreate;
    event.dwMsg = dwMsg;
    event.dwParam1 = dwParam1;
    event.dwParam2 = dwParam2;
    event.dwParam3 = dwParam3;
    g_pCurrentHost->Record(event);
}

const wchar_t* LineMessageName(DWORD dwMsg) {
    switch (dwMsg) {
        case LINE_ADDRESSSTATE: return L"LINE_ADDRESSSTATE";
        case LINE_CALLINFO: return L"LINE_CALLINFO";
        case LINE_CALLSTATE: return L"LINE_CALLSTATE";
        case LINE_CLOSE: return L"LINE_CLOSE";
        case LINE_LINEDEVSTATE: return L"LINE_LINEDEVSTATE";
        case LINE_REPLY: return L"LINE_REPLY";
        case LINE_CREATE: return L"LINE_CREATE";
        case LINE_REMOVE: return L"LINE_REMOVE";
        case LINE_NEWCALL: return L"LINE_NEWCALL";
        default: return L"LINE_?";
    }
}

LONG CTapiHost::MakeCall(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, HTAPICALL htCall, HDRVCALL* phdCall,
                         const wchar_t* pszDestination) {
    auto make = ExportAs<MakeCallFn>("TSPI_lineMakeCall");
    if (make == nullptr) return kMissingExport;
    std::lock_guard<std::recursive_mutex> call(m_callMutex);
    LONG lResult = make(dwRequestID, hdLine, htCall, phdCall, pszDestination, 0, nullptr);
    if (lResult >= 0 && phdCall != nullptr && *phdCall != nullptr) {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& line : m_openLines)
            if (line.second.hdLine == hdLine) m_calls[htCall] = KnownCall{*phdCall, line.second.htLine, 0};
    }
    return lResult;
}

LONG CTapiHost::Drop(DRV_REQUESTID dwRequestID, HDRVCALL hdCall) {
    auto drop = ExportAs<DropFn>("TSPI_lineDrop");
    if (drop == nullptr) return kMissingExport;
    std::lock_guard<std::recursive_mutex> call(m_callMutex);
    return drop(dwRequestID, hdCall, nullptr, 0);
}

LONG CTapiHost::CloseCall(HDRVCALL hdCall) {
    auto closeCall = ExportAs<CloseCallFn>("TSPI_lineCloseCall");
    if (closeCall == nullptr) return kMissingExport;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto known = m_calls.begin(); known != m_calls.end(); ++known) {
            if (known->second.hdCall != hdCall) continue;
            m_calls.erase(known);
            break;
        }
    }
    std::lock_guard<std::recursive_mutex> call(m_callMutex);
    return closeCall(hdCall);
}

LONG CTapiHost::GetCallInfo(HDRVCALL hdCall, DWORD dwTotalSize, std::vector<BYTE>* pRecord) {
    auto get = ExportAs<GetCallInfoFn>("TSPI_lineGetCallInfo");
    if (get == nullptr) return kMissingExport;
    return ReadRecord(dwTotalSize, sizeof(LINECALLINFO), pRecord, [&](void* p) { return get(hdCall, p); });
}

size_t CTapiHost::CountEvents(const std::function<bool(const HostEvent&)>& predicate) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t nCount = 0;
    for (const HostEvent& event : m_events)
        if (predicate(event)) ++nCount;
    return nCount;
}

bool CTapiHost::WaitForCount(const std::function<bool(const HostEvent&)>& predicate, size_t nCount,
                             DWORD dwTimeoutMs) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    auto reached = [&] {
        size_t nFound = 0;
        for (const HostEvent& event : m_events)
            if (predicate(event) && ++nFound >= nCount) return true;
        return nCount == 0;
    };
    return m_changed.wait_for(lock, std::chrono::milliseconds(dwTimeoutMs), reached);
}

DWORD CTapiHost::DeviceCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dwNextDeviceID - kLineDeviceIDBase;
}

std::vector<DWORD> CTapiHost::RemovedDevices() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_removedDevices;
}

std::vector<DWORD> CTapiHost::CreatedDevices() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_createdDevices;
}

void CTapiHost::QueueDeviceMessage(DWORD dwMsg, DWORD_PTR dwParam) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (dwMsg == LINE_REMOVE) m_removedDevices.push_back(static_cast<DWORD>(dwParam));
        m_deviceMessages.emplace_back(dwMsg, dwParam);
    }
    m_changed.notify_all();
}

void CTapiHost::StartDeviceThread() {
    if (m_deviceThread.joinable()) return;
    m_bDeviceThreadStop = false;
    m_deviceThread = std::thread([this] { DeviceThread(); });
}

void CTapiHost::StopDeviceThread() {
    if (!m_deviceThread.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bDeviceThreadStop = true;
        m_deviceMessages.clear();
    }
    m_changed.notify_all();
    m_deviceThread.join();
}

// tapisrv queues the device messages and handles them after the provider's
// callback returned; so does the host, one at a time.
void CTapiHost::DeviceThread() {
    for (;;) {
        std::pair<DWORD, DWORD_PTR> message;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [&] { return m_bDeviceThreadStop || !m_deviceMessages.empty(); });
            if (m_bDeviceThreadStop) return;
            message = m_deviceMessages.front();
            m_deviceMessages.pop_front();
        }
        if (message.first == LINE_CREATE)
            CreateDevice(message.second);
        else
            CloseRemovedDevice(static_cast<DWORD>(message.second));
    }
}

void CTapiHost::CreateDevice(DWORD_PTR dwTempID) {
    auto create = ExportAs<CreateLineDeviceFn>("TSPI_providerCreateLineDevice");
    HostEvent event{};
    event.kind = HostEvent::DeviceCreated;
    event.dwParam1 = dwTempID;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        event.dwParam2 = m_dwNextDeviceID++;
        m_createdDevices.push_back(static_cast<DWORD>(event.dwParam2));
    }
    std::lock_guard<std::recursive_mutex> call(m_callMutex);
    event.lResult = create != nullptr ? create(dwTempID, static_cast<DWORD>(event.dwParam2)) : kMissingExport;
    Record(event);
}

std::vector<HDRVCALL> CTapiHost::ActiveCallsOf(HTAPILINE htLine) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<HDRVCALL> active;
    for (const auto& known : m_calls)
        if (known.second.htLine == htLine && known.second.dwLastState != LINECALLSTATE_IDLE)
            active.push_back(known.second.hdCall);
    return active;
}

// As tapisrv: the calls still active on the line are closed, then the line.
void CTapiHost::CloseRemovedDevice(DWORD dwDeviceID) {
    OpenLineEntry line{};
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto entry = m_openLines.find(dwDeviceID);
        if (entry == m_openLines.end()) return;
        line = entry->second;
    }
    std::lock_guard<std::recursive_mutex> call(m_callMutex);
    for (HDRVCALL hdCall : ActiveCallsOf(line.htLine)) CloseCall(hdCall);
    HostEvent event{};
    event.kind = HostEvent::DeviceClosed;
    event.htLine = line.htLine;
    event.dwParam1 = dwDeviceID;
    event.lResult = CloseLine(line.hdLine);
    Record(event);
}

std::wstring RecordText(const std::vector<BYTE>& record, DWORD dwSize, DWORD dwOffset) {
    if (dwSize < sizeof(wchar_t) || dwOffset > record.size() || dwSize > record.size() - dwOffset) return L"";
    std::wstring text(reinterpret_cast<const wchar_t*>(record.data() + dwOffset), dwSize / sizeof(wchar_t));
    return text.substr(0, text.find(L'\0'));
}
