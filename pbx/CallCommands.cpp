#include "pbx/CallCommands.h"

#include <mutex>

#include "http/CHTTPContactLog.h"
#include "json/JsonEscape.h"
#include "pbx/Session.h"

namespace {
const wchar_t kBearerHeader[] = L"Accept:*.*\r\nContent-Type: application/json\r\nAuthorization: Bearer %s\r\n\r\n";

// Make-call and drop share the command client; one at a time, and the
// summary of a command is read before the next one starts. Held across the
// PBX request: first in the lock order (model/ProviderLock.h).
std::mutex& CommandMutex() {
    static std::mutex mutex;
    return mutex;
}

int RunCommand(const wchar_t* pszVerb, const std::wstring& url, const std::wstring& body, const wchar_t* pszLabel) {
    PreparePbxClient(g_CommandClient, TRUE);
    g_CommandClient.SetURLDirect(url.c_str());
    g_CommandClient.SetSData(body.c_str());
    g_CommandClient.SetSHeader(kBearerHeader, CurrentAccessToken().c_str());
    int nResult = g_CommandClient.IsSuccessful(g_CommandClient.RunQuery(pszVerb, 1, 5000, TRUE, TRUE));
    // A success status with an error member is still a refusal.
    if (g_CommandClient.m_pszAnswer != nullptr && wcsstr(g_CommandClient.m_pszAnswer, L"\"error\":") != nullptr)
        nResult = 0;
    if (g_bSaveSequence) g_CommandClient.SaveSequence(pszLabel, 0, nullptr);
    return nResult;
}
}  // namespace

int ORVO_DoMakeCall(std::wstring extension, std::wstring callee) {
    std::lock_guard<std::mutex> command(CommandMutex());
    const std::wstring customer = JsonEscape(CurrentCustomer());
    const std::wstring caller = JsonEscape(extension);
    const std::wstring body = L"{\"caller\":\"" + caller + L"\", \"caller_context\":\"" + customer +
                              L"\", \"callee\":\"" + JsonEscape(callee) + L"\", \"callee_context\":\"" + customer +
                              L"\", \"extension\":\"" + caller + L"\"}";
    return RunCommand(L"POST", g_sBaseURL + L"/extensions/phone/calls", body, L"ORVO_DoMakeCall");
}

int ORVO_DoDrop(std::wstring callId) {
    std::lock_guard<std::mutex> command(CommandMutex());
    return RunCommand(L"DELETE", g_sBaseURL + L"/extensions/phone/calls/" + callId, L"", L"ORVO_DoDrop");
}

std::wstring LastCommandSummary() {
    std::lock_guard<std::mutex> command(CommandMutex());
    std::wstring summary = L"> ";
    summary += g_CommandClient.m_szVerb;
    summary += L" ";
    summary += g_CommandClient.m_szURL;
    summary += L" -> ";
    if (g_CommandClient.m_pszAnswer != nullptr) summary += g_CommandClient.m_pszAnswer;
    return summary;
}
