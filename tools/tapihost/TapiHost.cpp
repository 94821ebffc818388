#include "tools/tapihost/TapiHost.h"

namespace {
CTapiHost* g_pCurrentHost = nullptr;

using NegotiateFn = LONG(WINAPI*)(DWORD, DWORD, DWORD, LPDWORD);
using EnumDevicesFn = LONG(WINAPI*)(DWORD, LPDWORD, LPDWORD, HPROVIDER, LINEEVENT, PHONEEVENT);
using InitFn = LONG(WINAPI*)(DWORD, DWORD, DWORD, DWORD, DWORD_PTR, DWORD_PTR, ASYNC_COMPLETION, LPDWORD);
using ShutdownFn = LONG(WINAPI*)(DWORD, DWORD);

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
    if (m_hProvider != nullptr) FreeLibrary(m_hProvider);
    m_hProvider = nullptr;
}

FARPROC CTapiHost::Export(const char* pszName) const {
    return m_hProvider != nullptr ? GetProcAddress(m_hProvider, pszName) : nullptr;
}

LONG CTapiHost::NegotiateTSPIVersion(DWORD dwDeviceID, DWORD dwLow, DWORD dwHigh, DWORD* pdwVersion) {
    auto negotiate = ExportAs<NegotiateFn>("TSPI_lineNegotiateTSPIVersion");
    if (negotiate == nullptr) return kMissingExport;
    LONG lResult = negotiate(dwDeviceID, dwLow, dwHigh, pdwVersion);
    if (lResult == 0 && pdwVersion != nullptr) m_dwVersion = *pdwVersion;
    return lResult;
}

LONG CTapiHost::EnumDevices(DWORD* pdwNumLines, DWORD* pdwNumPhones) {
    auto enumDevices = ExportAs<EnumDevicesFn>("TSPI_providerEnumDevices");
    if (enumDevices == nullptr) return kMissingExport;
    return enumDevices(kPermanentProviderID, pdwNumLines, pdwNumPhones, reinterpret_cast<HPROVIDER>(this),
                       &OnLineCreate, &OnPhoneCreate);
}

LONG CTapiHost::Init(DWORD dwNumLines, DWORD* pdwTSPIOptions) {
    auto init = ExportAs<InitFn>("TSPI_providerInit");
    if (init == nullptr) return kMissingExport;
    return init(m_dwVersion, kPermanentProviderID, kLineDeviceIDBase, 0, dwNumLines, 0, &OnCompletion,
                pdwTSPIOptions);
}

LONG CTapiHost::Shutdown() {
    auto shutdown = ExportAs<ShutdownFn>("TSPI_providerShutdown");
    if (shutdown == nullptr) return kMissingExport;
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

std::vector<HostEvent> CTapiHost::Events() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
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

void CTapiHost::Record(HostEvent event) {
    event.time = std::chrono::steady_clock::now();
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
    g_pCurrentHost->Record(event);
}

void CALLBACK CTapiHost::OnLineCreate(HTAPILINE htLine, HTAPICALL htCall, DWORD dwMsg, DWORD_PTR dwParam1,
                                      DWORD_PTR dwParam2, DWORD_PTR dwParam3) {
    if (g_pCurrentHost == nullptr) return;
    HostEvent event{};
    event.kind = HostEvent::LineCreate;
    event.dwMsg = dwMsg;
    event.dwParam1 = dwParam1;
    event.dwParam2 = dwParam2;
    event.dwParam3 = dwParam3;
    g_pCurrentHost->Record(event);
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
        case LINE_NEWCALL: return L"LINE_NEWCALL";
        default: return L"LINE_?";
    }
}
