#include "pbx/ExtensionDirectory.h"

#include <memory>
#include <mutex>
#include <new>

#include "common/TextBoundary.h"
#include "http/CHTTPContactLog.h"
#include "json/CJsonParserBase.h"
#include "pbx/PbxRequest.h"
#include "pbx/Session.h"

namespace {
// Names are kept to this many UTF-8 bytes, cut between two characters.
constexpr size_t kNameBytes = 254;

// The answer was widened byte by byte through the ANSI code page; going back
// to those bytes and decoding them as UTF-8 gives the name the PBX sent.
std::wstring RedecodeName(const std::wstring& name) {
    if (name.empty()) return name;
    const int cbAll = WideCharToMultiByte(CP_ACP, 0, name.c_str(), static_cast<int>(name.size()), nullptr, 0, nullptr,
                                          nullptr);
    if (cbAll <= 0) return std::wstring();
    std::string bytes(static_cast<size_t>(cbAll), '\0');
    WideCharToMultiByte(CP_ACP, 0, name.c_str(), static_cast<int>(name.size()), bytes.data(), cbAll, nullptr, nullptr);
    bytes.resize(Utf8CutLength(bytes.data(), bytes.size(), kNameBytes));
    if (bytes.empty()) return std::wstring();
    const int cch = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (cch <= 0) return std::wstring();
    std::wstring decoded(static_cast<size_t>(cch), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), decoded.data(), cch);
    return decoded;
}

// The end of the JSON object that starts at p, or null when none starts there.
const wchar_t* ObjectEnd(const wchar_t* p) {
    const wchar_t* pEnd = p;
    try {
        std::unique_ptr<JsonValue> value = CJsonParserBase::ParseValue(pEnd, 0);
        return value != nullptr && value->GetKind() == JsonValue::Object ? pEnd : nullptr;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// The record in the object text, when the object is one: it has a number.
bool ReadRecord(const std::wstring& objectText, ExtensionInfo& info) {
    CJsonParserBase parser;
    if (!parser.Parse(objectText.c_str())) return false;
    info.extension_number = parser.GetString(L"extension_number");
    if (info.extension_number.empty()) return false;
    info.uuid = parser.GetString(L"uuid");
    info.name = RedecodeName(parser.GetString(L"name"));
    info.presence = parser.GetString(L"presence");
    return true;
}
}  // namespace

std::vector<ExtensionInfo> ParseExtensionDirectory(const wchar_t* pszAnswer) {
    std::vector<ExtensionInfo> records;
    if (pszAnswer == nullptr) return records;
    // Objects are looked for outside string values only, so a brace in a
    // name is just a character. An object with a number is a record, taken
    // whole with whatever it nests; any other object is a wrapper, looked
    // into for records.
    bool bInString = false;
    for (const wchar_t* p = pszAnswer; *p != L'\0';) {
        if (bInString) {
            if (*p == L'\\' && p[1] != L'\0') {
                p += 2;
                continue;
            }
            bInString = *p != L'"';
            ++p;
            continue;
        }
        if (*p == L'"') {
            bInString = true;
        } else if (*p == L'{') {
            const wchar_t* pEnd = ObjectEnd(p);
            ExtensionInfo info;
            if (pEnd != nullptr && ReadRecord(std::wstring(p, pEnd), info)) {
                records.push_back(std::move(info));
                p = pEnd;
                continue;
            }
        }
        ++p;
    }
    return records;
}

bool ReadExtensionDirectory(std::vector<ExtensionInfo>& extensions) {
    ORVO_CheckAccessToken();
    CSessionGuard session(SessionMutex());
    // Read after a login or a token check, on the session as that set it up.
    PbxRequest request{L"ReadExtensionDirectory", L"GET", L"/extensions/phone/data", L"", PbxCredential::AccessToken,
                       kSessionAttempts, kSessionTimeoutMs, L"ReadExtensions"};
    request.setUp = PbxClientSetUp::AsLoggedIn;
    const int nResult = RunPbxRequest(g_SessionClient, request);
    if (nResult == 0 || g_SessionClient.m_pszAnswer == nullptr) return false;
    extensions = ParseExtensionDirectory(g_SessionClient.m_pszAnswer);
    return true;
}

bool ShowsNoCall(const std::wstring& presence) { return presence == L"idle" || presence == L"offline"; }
