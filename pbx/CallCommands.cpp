#include "pbx/CallCommands.h"

#include <mutex>

#include "common/SlimLock.h"
#include "http/CHTTPContactLog.h"
#include "json/JsonEscape.h"
#include "pbx/PbxRequest.h"
#include "pbx/RequestLock.h"
#include "pbx/Session.h"

namespace {
// A drop answered with one of these is of a call the PBX does not have (any more).
constexpr int kNotFound = 404;
constexpr int kGone = 410;

// Make-call and drop share the command client; one at a time, and the
// summary of a command is read before the next one starts. Held across the
// PBX request: first in the lock order (model/ProviderLock.h).
SlimMutex& CommandMutex() {
    static SlimMutex mutex;
    return mutex;
}

// A success status with an error member is still a refusal.
int RunCommand(const wchar_t* pszOperation, const wchar_t* pszVerb, const std::wstring& path,
               const std::wstring& body) {
    PbxRequest request{pszOperation, pszVerb, path, body, PbxCredential::AccessToken, kCommandAttempts,
                       kCommandTimeoutMs, pszOperation};
    request.bErrorMemberFails = true;
    request.bEmptyAnswerCounts = true;
    return RunPbxRequest(g_CommandClient, request);
}
}  // namespace

int ORVO_DoMakeCall(std::wstring extension, std::wstring callee) {
    CRequestLockGuard<SlimMutex> command(CommandMutex());
    const std::wstring customer = JsonEscape(CurrentCustomer());
    const std::wstring caller = JsonEscape(extension);
    const std::wstring body = L"{\"caller\":\"" + caller + L"\", \"caller_context\":\"" + customer +
                              L"\", \"callee\":\"" + JsonEscape(callee) + L"\", \"callee_context\":\"" + customer +
                              L"\", \"extension\":\"" + caller + L"\"}";
    return RunCommand(L"ORVO_DoMakeCall", L"POST", L"/extensions/phone/calls", body);
}

DropAnswer ORVO_DoDrop(std::wstring callId) {
    CRequestLockGuard<SlimMutex> command(CommandMutex());
    if (RunCommand(L"ORVO_DoDrop", L"DELETE", L"/extensions/phone/calls/" + callId, L"") != 0)
        return DropAnswer::Accepted;
    const int nStatus = g_CommandClient.LastStatusCode();
    return nStatus == kNotFound || nStatus == kGone ? DropAnswer::NoSuchCall : DropAnswer::Failed;
}

std::wstring LastCommandSummary() {
    CRequestLockGuard<SlimMutex> command(CommandMutex());
    std::wstring summary = L"> ";
    summary += g_CommandClient.m_szVerb;
    summary += L" ";
    summary += g_CommandClient.m_szURL;
    summary += L" -> ";
    if (g_CommandClient.m_pszAnswer != nullptr) summary += g_CommandClient.m_pszAnswer;
    return summary;
}
