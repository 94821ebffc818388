#include <winsock2.h>

#include "support/PbxSim.h"

#include <winhttp.h>

#include <algorithm>

#include "common/BoundedString.h"
#include "json/CJsonParserBase.h"
#include "pbx/Base64.h"

namespace {

constexpr DWORD StartTimeoutMs = 60000;
constexpr DWORD ControlTimeoutMs = 70000;  // the simulator's "wait" may take up to 60 s

std::wstring QuotedUnixPath(const std::wstring& dosPath) {
    return L" \"" + FromUtf8(UnixPath(dosPath)) + L"\"";
}

// Waits for the socket to become readable until the deadline.
bool WaitReadable(SOCKET s, ULONGLONG qwDeadline) {
    WSAPOLLFD poll = {s, POLLRDNORM, 0};
    const ULONGLONG qwNow = GetTickCount64();
    return qwNow < qwDeadline && WSAPoll(&poll, 1, static_cast<INT>(qwDeadline - qwNow)) == 1;
}

template <JsonValue::Kind K>
auto MemberAs(const JsonValue& object, const wchar_t* pszKey) -> decltype(object.GetIf<K>()) {
    const auto* members = object.GetIf<JsonValue::Object>();
    if (members == nullptr) return nullptr;
    auto it = members->find(pszKey);
    return it == members->end() ? nullptr : it->second->template GetIf<K>();
}

std::wstring StringMember(const JsonValue& object, const wchar_t* pszKey) {
    const std::wstring* text = MemberAs<JsonValue::String>(object, pszKey);
    return text != nullptr ? *text : std::wstring();
}

struct InternetHandle {
    HINTERNET h = nullptr;
    ~InternetHandle() {
        if (h != nullptr) WinHttpCloseHandle(h);
    }
};

void CloseLink(UINT_PTR& link) {
    if (link == static_cast<UINT_PTR>(INVALID_SOCKET)) return;
    // The simulator stops when its connection closes; the
    // orderly shutdown makes sure it sees the end at once.
    shutdown(static_cast<SOCKET>(link), SD_BOTH);
    closesocket(static_cast<SOCKET>(link));
    link = static_cast<UINT_PTR>(INVALID_SOCKET);
}

// A simulator a test is done with, running and idle.
struct IdleSimulator {
    bool bHttps;
    std::string account;
    UINT_PTR link;
    WORD wPort;
    std::unique_ptr<CTempDir> certDir;
    std::string certificateDer;
};
constexpr size_t kMostIdleSimulators = 3;

std::vector<IdleSimulator>& IdleSimulators() {
    static std::vector<IdleSimulator> idle;
    return idle;
}

}  // namespace

std::vector<std::wstring> SimRequest::HeaderValues(const wchar_t* pszName) const {
    std::vector<std::wstring> values;
    for (const auto& [name, value] : headers)
        if (_wcsicmp(name.c_str(), pszName) == 0) values.push_back(value);
    return values;
}

PbxSim::~PbxSim() { Release(); }

void PbxSim::Release() {
    if (m_link == static_cast<UINT_PTR>(INVALID_SOCKET)) return;
    std::vector<IdleSimulator>& idle = IdleSimulators();
    if (idle.size() == kMostIdleSimulators) {
        CloseLink(idle.front().link);
        idle.erase(idle.begin());
    }
    idle.push_back({m_options.bHttps, m_account, m_link, m_wPort, std::move(m_certDir), m_certificateDer});
    m_link = static_cast<UINT_PTR>(INVALID_SOCKET);
}

// One that answers its reset; one that does not (shut down, or its port
// closed for a while) is stopped.
bool PbxSim::TakeIdle() {
    std::vector<IdleSimulator>& idle = IdleSimulators();
    const auto it = std::find_if(idle.begin(), idle.end(), [this](const IdleSimulator& sim) {
        return sim.bHttps == m_options.bHttps && sim.account == m_account;
    });
    if (it == idle.end()) return false;
    m_link = it->link;
    m_wPort = it->wPort;
    m_certDir = std::move(it->certDir);
    m_certificateDer = it->certificateDer;
    idle.erase(it);
    if (Control(L"POST", L"reset").dwStatus == 200) return true;
    CloseLink(m_link);
    return false;
}

bool PbxSim::Start(const PbxSimOptions& options) {
    Release();
    m_options = options;
    m_account = options.sAccountFile.empty() ? std::string() : ReadFileBytes(options.sAccountFile);
    if (TakeIdle()) return true;
    auto fail = [this](const std::wstring& text) {
        CloseLink(m_link);
        m_error = text;
        return false;
    };

    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{AF_INET, 0, {}};
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int cbAddress = sizeof(address);
    if (listener == INVALID_SOCKET || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener, 1) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &cbAddress) != 0) {
        if (listener != INVALID_SOCKET) closesocket(listener);
        return fail(L"cannot listen on loopback for the simulator");
    }

    const std::wstring sourceDir = GetEnv(L"ORVO_SOURCE_DIR"), python = GetEnv(L"ORVO_PYTHON");
    const std::wstring pythonDos = DosPath(ToUtf8(python.empty() ? L"/usr/bin/python3" : python));
    std::wstring command = L"\"" + pythonDos + L"\" \"" + sourceDir + L"/tools/pbxsim\" --quiet --report-to " +
                           std::to_wstring(ntohs(address.sin_port));
    m_certDir = std::make_unique<CTempDir>(L"pbxsim");
    if (options.bHttps) command += L" --https --cert-der-out" + QuotedUnixPath(m_certDir->File(L"server.der"));
    if (!options.sAccountFile.empty()) command += L" --account" + QuotedUnixPath(options.sAccountFile);

    // Wine runs a Linux program without giving back a process handle; the
    // simulator's connection stands in for one.
    STARTUPINFOW startup{sizeof(startup)};
    PROCESS_INFORMATION process{};
    SOCKET link = INVALID_SOCKET;
    const ULONGLONG qwDeadline = GetTickCount64() + StartTimeoutMs;
    if (!sourceDir.empty() && !pythonDos.empty() &&
        CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        if (WaitReadable(listener, qwDeadline)) link = accept(listener, nullptr, nullptr);
    }
    closesocket(listener);
    if (link == INVALID_SOCKET) return fail(L"the simulator did not call back (ORVO_SOURCE_DIR?): " + command);
    m_link = link;

    std::string line;
    char ch = 0;
    while (line.size() < 4096 && WaitReadable(link, qwDeadline) && recv(link, &ch, 1, 0) == 1 && ch != '\n')
        line.push_back(ch);
    if (line.rfind("PBXSIM_PORT ", 0) != 0) return fail(L"the simulator did not start: " + FromUtf8(line));
    m_wPort = static_cast<WORD>(std::stoi(line.substr(12)));
    if (options.bHttps && (m_certificateDer = ReadFileBytes(m_certDir->File(L"server.der"))).empty())
        return fail(L"no certificate");
    return true;
}

std::wstring PbxSim::BaseUrl() const {
    return (m_options.bHttps ? L"https://localhost:" : L"http://127.0.0.1:") + std::to_wstring(m_wPort);
}

SimReply PbxSim::Control(const wchar_t* pszVerb, const wchar_t* pszName, const std::wstring& jsonBody) const {
    SimReply reply;
    InternetHandle session, connection, request;
    session.h = WinHttpOpen(L"orvo-tests", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                            WINHTTP_NO_PROXY_BYPASS, 0);
    if (session.h == nullptr) return reply;
    WinHttpSetTimeouts(session.h, ControlTimeoutMs, ControlTimeoutMs, ControlTimeoutMs, ControlTimeoutMs);
    connection.h = WinHttpConnect(session.h, m_options.bHttps ? L"localhost" : L"127.0.0.1", m_wPort, 0);
    const std::wstring path = std::wstring(L"/_control/") + pszName;
    if (connection.h != nullptr) {
        request.h = WinHttpOpenRequest(connection.h, pszVerb, path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                       WINHTTP_DEFAULT_ACCEPT_TYPES, m_options.bHttps ? WINHTTP_FLAG_SECURE : 0);
    }
    if (request.h == nullptr) return reply;
    if (m_options.bHttps) {
        // Control traffic is not what the tests check the certificate on.
        DWORD dwFlags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                        SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
        WinHttpSetOption(request.h, WINHTTP_OPTION_SECURITY_FLAGS, &dwFlags, sizeof(dwFlags));
    }
    std::string body = ToUtf8(jsonBody);
    // Wine's WinHTTP shares open connections between the sessions of a
    // process; a control connection, made without certificate checks, must
    // not be handed on to the client under test.
    const wchar_t* pszHeaders = body.empty() ? L"Connection: close" : L"Connection: close\r\nContent-Type: application/json";
    if (!WinHttpSendRequest(request.h, pszHeaders, static_cast<DWORD>(-1),
                            body.empty() ? WINHTTP_NO_REQUEST_DATA : body.data(), static_cast<DWORD>(body.size()),
                            static_cast<DWORD>(body.size()), 0) ||
        !WinHttpReceiveResponse(request.h, nullptr)) {
        return reply;
    }
    DWORD dwStatus = 0, cbStatus = sizeof(dwStatus);
    WinHttpQueryHeaders(request.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &dwStatus, &cbStatus, WINHTTP_NO_HEADER_INDEX);
    std::string answer;
    for (;;) {
        DWORD cbAvailable = 0;
        if (!WinHttpQueryDataAvailable(request.h, &cbAvailable) || cbAvailable == 0) break;
        std::string chunk(cbAvailable, '\0');
        DWORD cbRead = 0;
        if (!WinHttpReadData(request.h, chunk.data(), cbAvailable, &cbRead)) break;
        answer.append(chunk.data(), cbRead);
    }
    reply.dwStatus = dwStatus;
    reply.sBody = FromUtf8(answer);
    return reply;
}

std::vector<SimRequest> PbxSim::Requests() const {
    std::vector<SimRequest> requests;
    std::unique_ptr<JsonValue> root = CJsonParserBase::ParseText(Control(L"GET", L"requests").sBody.c_str());
    const auto* items = root ? MemberAs<JsonValue::Array>(*root, L"requests") : nullptr;
    if (items == nullptr) return requests;
    for (const auto& item : *items) {
        SimRequest request;
        request.sMethod = StringMember(*item, L"method");
        request.sPath = StringMember(*item, L"path");
        request.sTarget = StringMember(*item, L"target");
        if (const bool* pb = MemberAs<JsonValue::Bool>(*item, L"proxied")) request.bProxied = *pb;
        const std::wstring base64 = StringMember(*item, L"body_base64");
        Base64Decode(base64.c_str(), base64.size(), request.body);
        if (const auto* pd = MemberAs<JsonValue::Number>(*item, L"status")) request.nStatus = static_cast<int>(*pd);
        if (const auto* pairs = MemberAs<JsonValue::Array>(*item, L"headers")) {
            for (const auto& pair : *pairs) {
                const auto* parts = pair->GetIf<JsonValue::Array>();
                const auto* name = parts && parts->size() == 2 ? (*parts)[0]->GetIf<JsonValue::String>() : nullptr;
                const auto* value = name ? (*parts)[1]->GetIf<JsonValue::String>() : nullptr;
                if (value != nullptr) request.headers.emplace_back(*name, *value);
            }
        }
        requests.push_back(std::move(request));
    }
    return requests;
}

std::vector<SimRequest> PbxSim::Requests(const wchar_t* pszMethod, const std::wstring& path) const {
    std::vector<SimRequest> matching;
    for (SimRequest& request : Requests())
        if ((pszMethod == nullptr || request.sMethod == pszMethod) && (path.empty() || request.sPath == path))
            matching.push_back(std::move(request));
    return matching;
}

std::wstring JsonQuote(const std::wstring& text) {
    std::wstring quoted = L"\"";
    for (wchar_t ch : text) {
        wchar_t szEscape[8] = {L'\\', ch, 0};
        if (ch < 0x20) StrFormat(szEscape, L"\\u%04x", static_cast<unsigned>(ch));
        quoted += (ch == L'"' || ch == L'\\' || ch < 0x20) ? szEscape : std::wstring(1, ch);
    }
    return quoted + L"\"";
}
