#include "pbx/EventStream.h"

#include <mutex>
#include <set>

#include "common/SlimLock.h"
#include "common/StageClock.h"
#include "http/CHTTPContactEvent.h"
#include "json/CJsonParserBase.h"
#include "log/Trace.h"
#include "pbx/CallEventSink.h"
#include "pbx/DeliveredEvents.h"
#include "pbx/PbxRequest.h"
#include "pbx/Session.h"

namespace {
// Numbers longer than this, unless they start with "#" (a service code), are
// shown in the user's number format.
constexpr size_t kShortNumberChars = 6;
constexpr size_t kMaxResumeIdChars = 256;
constexpr DWORD kStreamAttempts = 1;

std::wstring FormatEventNumber(const std::wstring& number) {
    if (number.size() > kShortNumberChars && number[0] != L'#') return g_CallEventSink.pfnFormatNumber(number);
    return number;
}

// Calls heard of on the current stream. Written by the event monitor, read by
// the keep-alive thread's stale-call check; a leaf lock, held only around the
// set. Bounded: once full, every call counts as heard of, so that nothing is
// taken for stale on a guess.
constexpr size_t kMaxCallsHeard = 4096;
SlimMutex g_CallsHeardLock;
std::set<std::wstring> g_CallsHeard;
bool g_bCallsHeardFull = false;

void ForgetCallsHeard() {
    std::lock_guard<SlimMutex> guard(g_CallsHeardLock);
    g_CallsHeard.clear();
    g_bCallsHeardFull = false;
}

void NoteCallHeard(const std::wstring& uuid) {
    std::lock_guard<SlimMutex> guard(g_CallsHeardLock);
    if (g_bCallsHeardFull) return;
    if (g_CallsHeard.size() >= kMaxCallsHeard) {
        g_bCallsHeardFull = true;
        g_CallsHeard.clear();
        return;
    }
    g_CallsHeard.insert(uuid);
}

// Only the event monitor thread delivers events.
CDeliveredEvents g_Delivered;
}  // namespace

bool CallHeardOnCurrentStream(const std::wstring& uuid) {
    std::lock_guard<SlimMutex> guard(g_CallsHeardLock);
    return g_bCallsHeardFull || g_CallsHeard.count(uuid) != 0;
}

void ForgetEventHistory() {
    g_EventClient.ForgetLastEventId();
    g_Delivered.Forget();
}

int ORVO_ActivateCallMonitoring(const std::function<void()>& onOpened) {
    g_EventClient.m_bStreaming = TRUE;
    g_EventClient.SetMessageHandler(&ORVO_QueueMessage);
    g_EventClient.SetOpenedHandler([&onOpened] {
        ForgetCallsHeard();
        if (onOpened) onOpened();
    });
    g_EventClient.BeginStream();
    // The stream goes through the proxy like every other request.
    PbxRequest request{L"ORVO_ActivateCallMonitoring", L"GET", L"/extensions/phone/calls", L"",
                       PbxCredential::AccessToken, kStreamAttempts, kNoTimeLimit, L"ActivateCallMonitoring"};
    request.pszAcceptLine = L"Accept: text/event-stream";
    // A reconnection names the last event it has, so that the PBX can send
    // what came meanwhile. Framing ends an id at a line end, so it cannot
    // break out of its header line.
    // An id too long for the header buffer is not sent: it would push the
    // authorisation out of the request.
    const std::wstring lastEventId = g_EventClient.LastEventId();
    if (!lastEventId.empty() && lastEventId.size() <= kMaxResumeIdChars)
        request.sExtraHeaderLines = L"Last-Event-ID: " + lastEventId + L"\r\n";
    request.bRefusalForgetsToken = true;
    const int nResult = RunPbxRequest(g_EventClient, request);
    g_EventClient.SetOpenedHandler(nullptr);
    return nResult;
}

bool ReadCallEvent(const std::wstring& text, CallEvent& event) {
    CJsonParserBase parser;
    if (!parser.Parse(text.c_str())) return false;
    event.uuid = parser.GetString(L"uuid");
    event.extension = parser.GetString(L"extension");
    event.caller = parser.GetString(L"caller");
    event.callee = parser.GetString(L"callee");
    event.state = parser.GetString(L"state");
    event.direction = parser.GetString(L"direction");
    return true;
}

namespace {
// Parses, judges and formats one message; false (traced) when it is no call
// event or one already delivered: a replay may start before the last event
// this provider has, and an event with an id of its own (bOwnId) that was
// delivered is passed over.
bool PrepareCallEvent(const CFuncTrace& trace, const std::wstring& text, const std::wstring& eventId, bool bOwnId,
                      CallEvent& event) {
    if (bOwnId && !g_Delivered.FirstDelivery(eventId)) {
        trace.Info(L"Event id %s already delivered, dropped", eventId.c_str());
        return false;
    }
    // Framing hands over whole events, so a message that does not parse is
    // broken in itself: it alone is lost.
    if (!ReadCallEvent(text, event)) {
        trace.Warning(L"Rejected, not a JSON object (event id %s): %s", eventId.c_str(), text.c_str());
        return false;
    }
    if (event.direction.empty()) {
        // Judged before the numbers are formatted: the extension is compared with them as sent.
        event.direction = JudgeDirection(event);
        trace.Info(L"No direction, judged \"%s\" (event id %s)", event.direction.c_str(), eventId.c_str());
    }
    NoteCallHeard(event.uuid);
    event.caller = FormatEventNumber(event.caller);
    event.callee = FormatEventNumber(event.callee);
    return true;
}

// Parses the message and hands the event to the sink's step given.
void HandOn(const std::wstring& text, const std::wstring& eventId, bool bOwnId,
            void (*pfnHandOn)(const CallEvent& event)) {
    CFuncTrace trace(2, L"ORVO_HandleMessage", TracePrefix::Func, false);
    CallEvent event;
    if (!PrepareCallEvent(trace, text, eventId, bOwnId, event)) return;
    MarkStage(Stage::Parsed);
    pfnHandOn(event);
    Trace(2, L"Func.CGenericTSPIManager::APICALL < %s", text.c_str());
}
}  // namespace

void ORVO_HandleMessage(const std::wstring& text, const std::wstring& eventId, bool bOwnId) {
    HandOn(text, eventId, bOwnId, g_CallEventSink.pfnDispatch);
}

void ORVO_QueueMessage(const std::wstring& text, const std::wstring& eventId, bool bOwnId) {
    HandOn(text, eventId, bOwnId, g_CallEventSink.pfnPost);
}
