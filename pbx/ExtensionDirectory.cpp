#include "pbx/ExtensionDirectory.h"

#include <memory>
#include <mutex>
#include <new>

#include "http/CHTTPContactLog.h"
#include "json/CJsonParserBase.h"
#include "pbx/PbxRequest.h"
#include "pbx/Session.h"

namespace {
// Names are kept to this many UTF-8 bytes, cut between two characters.
constexpr size_t kNameBytes = 254;

// The name as the JSON gives it (the answer is decoded as UTF-8), kept to
// kNameBytes bytes of UTF-8, cut between two characters.
std::wstring CutName(const std::wstring& name) {
    size_t cb = 0;
    for (size_t i = 0; i < name.size(); ++i) {
        const wchar_t c = name[i];
        const bool bPair = c >= 0xD800 && c <= 0xDBFF && i + 1 < name.size();
        cb += bPair ? 4 : c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
        if (cb > kNameBytes) return name.substr(0, i);
        if (bPair) ++i;
    }
    return name;
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
    info.name = CutName(parser.GetString(L"name"));
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
