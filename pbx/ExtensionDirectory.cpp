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

constexpr const wchar_t* kNumberKey = L"extension_number";

// The member's text as CJsonParserBase::GetString gives it: empty unless it
// is a string, cut at the reader's bound.
std::wstring MemberText(const JsonValue::ObjectMembers& members, const wchar_t* pszKey) {
    const auto found = members.find(pszKey);
    const std::wstring* psText = found != members.end() ? found->second->GetIf<JsonValue::String>() : nullptr;
    if (psText == nullptr) return std::wstring();
    return psText->substr(0, Utf16CutLength(psText->data(), psText->size(), CJsonParserBase::MaxStringLength));
}

// Whether the object that starts at p has a member of that name at its own
// level, not inside one of its values. A look ahead without building
// anything, so that the object wrapped around the whole directory is not
// parsed as a whole; exact for a well-formed object (a malformed one is no
// record anyway).
bool NamesMemberAtTop(const wchar_t* p, const wchar_t* pszKey) {
    int nDepth = 0;
    bool bKeyNext = false;
    for (; *p != L'\0'; ++p) {
        if (*p == L'"') {
            const wchar_t* q = p + 1;
            if (nDepth == 1 && bKeyNext) {
                std::wstring key;
                if (!CJsonParserBase::ParseString(q, key)) return false;
                if (key == pszKey) return true;
            } else {
                while (*q != L'"' && *q != L'\0') q += q[0] == L'\\' && q[1] != L'\0' ? 2 : 1;
                if (*q == L'\0') return false;
                ++q;
            }
            bKeyNext = false;
            p = q - 1;
        } else if (*p == L'{' || *p == L'[') {
            bKeyNext = ++nDepth == 1;
        } else if (*p == L'}' || *p == L']') {
            if (--nDepth == 0) return false;
        } else if (*p == L',') {
            bKeyNext = nDepth == 1;
        }
    }
    return false;
}

// The record of the object that starts at p, when the object is one (it has
// a number); p is then past it. Each record is parsed once, in place.
bool ReadRecordAt(const wchar_t*& p, ExtensionInfo& info) {
    const wchar_t* pEnd = p;
    std::unique_ptr<JsonValue> object;
    try {
        object = CJsonParserBase::ParseValue(pEnd, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const JsonValue::ObjectMembers* pMembers = object != nullptr ? object->GetIf<JsonValue::Object>() : nullptr;
    if (pMembers == nullptr) return false;
    info.extension_number = MemberText(*pMembers, kNumberKey);
    if (info.extension_number.empty()) return false;
    info.uuid = MemberText(*pMembers, L"uuid");
    info.name = CutName(MemberText(*pMembers, L"name"));
    info.presence = MemberText(*pMembers, L"presence");
    p = pEnd;
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
        } else if (*p == L'{' && NamesMemberAtTop(p, kNumberKey)) {
            ExtensionInfo info;
            if (ReadRecordAt(p, info)) {
                records.push_back(std::move(info));
                continue;
            }
        }
        ++p;
    }
    // Kept for the whole run as the lines' directory: no room to spare.
    records.shrink_to_fit();
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
    // Thousands of extensions make megabytes of text, not needed any more.
    g_SessionClient.ReleaseAnswer();
    return true;
}

bool ShowsNoCall(const std::wstring& presence) { return presence == L"idle" || presence == L"offline"; }
