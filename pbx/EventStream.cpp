#include "pbx/EventStream.h"

#include "http/CHTTPContactEvent.h"
#include "json/CJsonParserBase.h"
#include "log/Trace.h"
#include "manager/CGenericTSPIManager.h"
#include "pbx/Session.h"

namespace {
// Numbers longer than this, unless they start with "#" (a service code), are
// shown in the user's number format.
constexpr size_t kShortNumberChars = 6;

std::wstring FormatEventNumber(const std::wstring& number) {
    if (number.size() > kShortNumberChars && number[0] != L'#') return g_Manager.CreateFormattedNumber(number);
    return number;
}
}  // namespace

int ORVO_ActivateCallMonitoring() {
    // The stream goes through the proxy like every other request.
    PreparePbxClient(g_EventClient, TRUE);
    g_EventClient.m_bStreaming = TRUE;
    g_EventClient.SetMessageHandler(&ORVO_HandleMessage);
    const std::wstring url = g_sBaseURL + L"/extensions/phone/calls";
    g_EventClient.SetURLDirect(url.c_str());
    g_EventClient.SetSData(nullptr);
    g_EventClient.SetSHeader(
        L"Accept: text/event-stream\r\nContent-Type: application/json\r\nAuthorization: Bearer %s\r\n\r\n",
        CurrentAccessToken().c_str());
    int nResult = g_EventClient.IsSuccessful(g_EventClient.RunQuery(L"GET", 1, 0xFFFFFFFF, TRUE, TRUE));
    if (g_bSaveSequence) g_EventClient.SaveSequence(L"ActivateCallMonitoring", 0, nullptr);
    return nResult;
}

void AbortCallMonitoring() { g_EventClient.CloseRequest(); }

void ORVO_HandleMessage(const std::wstring& text) {
    std::wstring message = text;
    // The next event's "id:" line may follow in the same pass.
    const size_t nIdPos = message.find(L"id: ");
    if (nIdPos != std::wstring::npos && nIdPos > 0) message.resize(nIdPos);

    std::wstring uuid, extension, caller, callee, state, direction;
    {
        CJsonParserBase parser;
        if (!parser.Parse(message.c_str())) return;
        uuid = parser.GetString(L"uuid");
        extension = parser.GetString(L"extension");
        caller = parser.GetString(L"caller");
        callee = parser.GetString(L"callee");
        state = parser.GetString(L"state");
        direction = parser.GetString(L"direction");
    }
    caller = FormatEventNumber(caller);
    callee = FormatEventNumber(callee);
    g_Manager.DispatchEvents(uuid, extension, caller, callee, state, direction);
    Trace(2, L"Func.CGenericTSPIManager::APICALL < %s", message.c_str());
}
