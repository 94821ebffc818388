#include <winsock2.h>
#include <ws2tcpip.h>

#include "support/PbxSim.h"

#include <winhttp.h>

#include "common/BoundedString.h"
#include "json/CJsonParserBase.h"
#include "pbx/Base64.h"
#include "support/TestFiles.h"

namespace {

constexpr DWORD StartTimeoutMs = 60000;
constexpr DWORD ControlTimeoutMs = 70000;  // the simulator's "wait" may take up to 60 s

// Wine's own path conversions between the Windows and the Linux view.
std::string UnixPath(const std::wstring& dosPath) {
    using ToUnix = char*(CDECL*)(LPCWSTR);
    auto pfn = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (pfn == nullptr) return {};
    char* psz = pfn(dosPath.c_str());
    if (psz == nullptr) return {};
    std::string path(psz);
    HeapFree(GetProcessHeap(), 0, psz);
    return path;
}

std::wstring DosPath(const std::string& unixPath) {
    using ToDos = WCHAR*(CDECL*)(LPCSTR);
    auto pfn = reinterpret_cast<ToDos>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (pfn == nullptr) return {};
    WCHAR* psz = pfn(unixPath.c_str());
    if (psz == nullptr) return {};
    std::wstring path(psz);
    HeapFree(GetProcessHeap(), 0, psz);
    return path;
}

std::wstring Quoted(const std::wstring& argument) {
    return L"\"" + argument + L"\"";
}

// Waits for the socket to become readable until the deadline.
bool WaitReadable(SOCKET s, ULONGLONG qwDeadline) {
    const ULONGLONG qwNow = GetTickCount64();
    if (qwNow >= qwDeadline) return false;
    const ULONGLONG qwLeft = qwDeadline - qwNow;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval timeout{static_cast<long>(qwLeft / 1000), static_cast<long>((qwLeft % 1000) * 1000)};
    return select(0, &readable, nullptr, nullptr, &timeout) == 1;
}

const JsonValue* Member(const JsonValue& object, const wchar_t* pszKey) {
    const auto* members = object.GetIf<JsonValue::Object>();
    if (members == nullptr) return nullptr;
    auto it = members->find(pszKey);
    return it == members->end() ? nullptr : it->second.get();
}

std::wstring StringMember(const JsonValue& object, const wchar_t* pszKey) {
    const JsonValue* value = Member(object, pszKey);
    const std::wstring* text = value != nullptr ? value->GetIf<JsonValue::String>() : nullptr;
    return text != nullptr ? *text : std::wstring();
}

struct InternetHandle {
    HINTERNET h = nullptr;
    ~InternetHandle() {
        if (h != nullptr) WinHttpCloseHandle(h);
    }
};

}  // namespace

std::vector<std::wstring> SimRequest::HeaderValues(const wchar_t* pszName) const {
    std::vector<std::wstring> values;
    for (const auto& [name, value] : headers) {
        if (_wcsicmp(name.c_str(), pszName) == 0) values.push_back(value);
    }
    return values;
}

PbxSim::~PbxSim() {
    Stop();
}

bool PbxSim::Start(const PbxSimOptions& options) {
    Stop();
    m_options = options;
    m_error.clear();
    auto fail = [this](const std::wstring& text) {
        m_error = text;
        Stop();
        return false;
    };

    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int cbAddress = sizeof(address);
    if (listener == INVALID_SOCKET || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener, 1) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &cbAddress) != 0) {
        if (listener != INVALID_SOCKET) closesocket(listener);
        return fail(L"cannot listen on loopback for the launcher");
    }

    const std::wstring sourceDir = GetEnv(L"ORVO_SOURCE_DIR");
    std::wstring python = GetEnv(L"ORVO_PYTHON");
    if (python.empty()) python = L"/usr/bin/python3";
    const std::wstring pythonDos = DosPath(ToUtf8(python));
    if (sourceDir.empty() || pythonDos.empty()) {
        closesocket(listener);
        return fail(L"ORVO_SOURCE_DIR is not set or this is not Wine");
    }
    std::wstring command = Quoted(pythonDos) + L" " + Quoted(sourceDir + L"/tests/support/pbxsim_launch.py") + L" " +
                           std::to_wstring(ntohs(address.sin_port));
    std::wstring certFile;
    if (options.bHttps) {
        m_certDir = std::make_unique<CTempDir>(L"pbxsim");
        certFile = m_certDir->File(L"server.der");
        command += L" --https --cert-der-out " + Quoted(FromUtf8(UnixPath(certFile)));
    }
    if (options.bChunked) command += L" --chunked";
    if (!options.sAccountFile.empty()) command += L" --account " + Quoted(FromUtf8(UnixPath(options.sAccountFile)));
    for (const std::wstring& argument : options.extraArgs) command += L" " + Quoted(argument);

    // Wine runs a Linux program without giving back a process handle; the
    // launcher's connection stands in for one.
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        closesocket(listener);
        return fail(L"cannot start " + command);
    }
    if (process.hProcess != nullptr) CloseHandle(process.hProcess);
    if (process.hThread != nullptr) CloseHandle(process.hThread);

    const ULONGLONG qwDeadline = GetTickCount64() + StartTimeoutMs;
    SOCKET link = WaitReadable(listener, qwDeadline) ? accept(listener, nullptr, nullptr) : INVALID_SOCKET;
    closesocket(listener);
    if (link == INVALID_SOCKET) return fail(L"the simulator launcher did not call back: " + command);
    m_link = link;

    std::string line;
    char ch = 0;
    while (line.size() < 4096 && WaitReadable(link, qwDeadline) && recv(link, &ch, 1, 0) == 1 && ch != '\n') {
        line.push_back(ch);
    }
    if (line.rfind("PBXSIM_PORT ", 0) != 0) return fail(L"the simulator did not start: " + FromUtf8(line));
    m_wPort = static_cast<WORD>(std::stoi(line.substr(12)));
    if (options.bHttps) {
        m_certificateDer = ReadFileBytes(certFile);
        if (m_certificateDer.empty()) return fail(L"no certificate in " + certFile);
    }
    return true;
}

void PbxSim::Stop() {
    if (m_link != static_cast<UINT_PTR>(INVALID_SOCKET)) {
        // The launcher stops the simulator when its connection closes; the
        // orderly shutdown makes sure it sees the end at once.
        shutdown(static_cast<SOCKET>(m_link), SD_BOTH);
        closesocket(static_cast<SOCKET>(m_link));
        m_link = static_cast<UINT_PTR>(INVALID_SOCKET);
    }
    m_wPort = 0;
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

bool PbxSim::AddFault(const std::wstring& faultJson) const {
    return Control(L"POST", L"faults", faultJson).dwStatus == 200;
}

bool PbxSim::ClearFaults() const {
    return Control(L"DELETE", L"faults").dwStatus == 200;
}

bool PbxSim::ClearRequests() const {
    return Control(L"DELETE", L"requests").dwStatus == 200;
}

std::vector<SimRequest> PbxSim::Requests() const {
    std::vector<SimRequest> requests;
    const SimReply reply = Control(L"GET", L"requests");
    std::unique_ptr<JsonValue> root = CJsonParserBase::ParseText(reply.sBody.c_str());
    const JsonValue* list = root ? Member(*root, L"requests") : nullptr;
    const auto* items = list != nullptr ? list->GetIf<JsonValue::Array>() : nullptr;
    if (items == nullptr) return requests;
    for (const auto& item : *items) {
        SimRequest request;
        request.sMethod = StringMember(*item, L"method");
        request.sPath = StringMember(*item, L"path");
        const std::wstring base64 = StringMember(*item, L"body_base64");
        Base64Decode(base64.c_str(), base64.size(), request.body);
        if (const JsonValue* status = Member(*item, L"status")) {
            if (const double* pd = status->GetIf<JsonValue::Number>()) request.nStatus = static_cast<int>(*pd);
        }
        if (const JsonValue* fault = Member(*item, L"fault")) {
            if (const bool* pb = fault->GetIf<JsonValue::Bool>()) request.bFault = *pb;
        }
        const JsonValue* headers = Member(*item, L"headers");
        if (const auto* pairs = headers != nullptr ? headers->GetIf<JsonValue::Array>() : nullptr) {
            for (const auto& pair : *pairs) {
                const auto* parts = pair->GetIf<JsonValue::Array>();
                if (parts == nullptr || parts->size() != 2) continue;
                const std::wstring* name = (*parts)[0]->GetIf<JsonValue::String>();
                const std::wstring* value = (*parts)[1]->GetIf<JsonValue::String>();
                if (name != nullptr && value != nullptr) request.headers.emplace_back(*name, *value);
            }
        }
        requests.push_back(std::move(request));
    }
    return requests;
}

std::wstring JsonQuote(const std::wstring& text) {
    std::wstring quoted = L"\"";
    for (wchar_t ch : text) {
        switch (ch) {
        case L'"': quoted += L"\\\""; break;
        case L'\\': quoted += L"\\\\"; break;
        case L'\n': quoted += L"\\n"; break;
        case L'\r': quoted += L"\\r"; break;
        case L'\t': quoted += L"\\t"; break;
        default:
            if (ch < 0x20) {
                wchar_t szEscape[8];
                StrFormat(szEscape, L"\\u%04x", static_cast<unsigned>(ch));
                quoted += szEscape;
            } else {
                quoted += ch;
            }
        }
    }
    return quoted + L"\"";
}
