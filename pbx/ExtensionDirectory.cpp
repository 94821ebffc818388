#include "pbx/ExtensionDirectory.h"

#include <mutex>

#include "http/CHTTPContactLog.h"
#include "json/CJsonParserBase.h"
#include "pbx/Session.h"

namespace {
// A directory record is read on its own from its "{" to its first "}".
constexpr size_t kRecordChars = 1022;
constexpr int kNameBytes = 254;

// The answer was widened byte by byte through the ANSI code page; going back
// to those bytes and decoding them as UTF-8 gives the name the PBX sent.
std::wstring RedecodeName(const std::wstring& name) {
    char szBytes[kNameBytes + 1] = {};
    int cbBytes = WideCharToMultiByte(CP_ACP, 0, name.c_str(), static_cast<int>(name.size()), szBytes, kNameBytes,
                                      nullptr, nullptr);
    wchar_t szName[kNameBytes + 1] = {};
    int cchName = MultiByteToWideChar(CP_UTF8, 0, szBytes, cbBytes, szName, kNameBytes);
    return std::wstring(szName, cchName > 0 ? cchName : 0);
}

void AddRecordAt(const std::wstring& answer, size_t nPos, std::vector<ExtensionInfo>& extensions) {
    std::wstring record = answer.substr(nPos, kRecordChars);
    const size_t nClose = record.find(L'}');
    if (nClose != std::wstring::npos) record.resize(nClose + 1);
    CJsonParserBase parser;
    if (!parser.Parse(record.c_str())) return;
    ExtensionInfo info;
    info.extension_number = parser.GetString(L"extension_number");
    // An object without a number is no extension: the answer's wrapper when
    // the account has none, or something nested inside a record.
    if (info.extension_number.empty()) return;
    info.uuid = parser.GetString(L"uuid");
    info.name = RedecodeName(parser.GetString(L"name"));
    extensions.push_back(info);
    g_ExtensionMap[info.extension_number] = info;
}
}  // namespace

bool ReadExtensionDirectory(std::vector<ExtensionInfo>& extensions) {
    ORVO_CheckAccessToken();
    CSessionGuard session(SessionMutex());
    const std::wstring url = g_sBaseURL + L"/extensions/phone/data";
    g_SessionClient.SetURLDirect(url.c_str());
    g_SessionClient.SetSData(nullptr);
    g_SessionClient.SetSHeader(L"Accept:*.*\r\nContent-Type: application/json\r\nAuthorization: Bearer %s\r\n\r\n",
                               g_sAccessToken.c_str());
    BOOL bResult = g_SessionClient.IsSuccessful(g_SessionClient.RunQuery(L"GET", 3, 10000, TRUE, TRUE));
    if (g_bSaveSequence) g_SessionClient.SaveSequence(L"ReadExtensions", 0, nullptr);

    if (!bResult || g_SessionClient.m_pszAnswer == nullptr) return false;
    const std::wstring answer = g_SessionClient.m_pszAnswer;
    std::vector<ExtensionInfo> read;
    for (size_t nPos = answer.find(L'{'); nPos != std::wstring::npos; nPos = answer.find(L'{', nPos + 1))
        AddRecordAt(answer, nPos, read);
    extensions.swap(read);
    return true;
}

DWORD IsExtensionOffline(const wchar_t* pszExtensionNumber) {
    CSessionGuard directory(SessionMutex());
    const ExtensionInfo& entry = g_ExtensionMap[pszExtensionNumber != nullptr ? pszExtensionNumber : L""];
    return entry.presence == L"offline" || entry.presence == L"idle" ? 1 : 0;
}
