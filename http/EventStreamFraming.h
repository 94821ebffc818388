// The framing of a text/event-stream body (server-sent events): lines end
// with LF, CR LF or CR; "data" lines of one event are joined with LF; an
// empty line delivers the event; "id" sets the last event id; comments
// (":...") and every other field are ignored. How the stream is cut into
// writes makes no difference to the events. Platform-free, so that it can
// be built natively for sanitizers and fuzzers.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "common/Types.h"

// One delivered event.
struct StreamEvent {
    std::wstring sData;  // its "data" lines joined with LF
    std::wstring sId;    // the last event id when it was delivered (empty when the server sent none)
    bool bOwnId = false; // the event carried an "id" line of its own (else sId is an earlier event's)
};

class CEventStreamFraming {
public:
    // A line or an event with more text than this is dropped whole, so that a
    // stream without line ends cannot make the buffers grow without limit.
    static constexpr size_t MaxEventUnits = 1u << 20;

    // A new connection: whatever line or event the previous one left
    // unfinished is dropped; the last event id stays.
    void BeginStream();
    // The next piece of the stream, as long as it is; the events it completes, in order.
    std::vector<StreamEvent> Feed(const WCHAR* pchText, size_t cch);

    // A new run of the provider: no earlier event id is sent to the PBX again.
    void ForgetLastEventId() { m_sLastEventId.clear(); m_sIdBuffer.clear(); }
    // The id of the last event delivered (the value a reconnection sends as Last-Event-ID).
    const std::wstring& LastEventId() const { return m_sLastEventId; }
    // Events dropped because they were longer than MaxEventUnits.
    DWORD OversizedEvents() const { return m_dwOversizedEvents; }

private:
    void EndLine(std::vector<StreamEvent>& events);
    void TakeField(const std::wstring& sName, const std::wstring& sValue);
    void DeliverEvent(std::vector<StreamEvent>& events);
    void DropEvent();

    std::wstring m_sLine;          // the line being received
    std::wstring m_sData;          // "data" values of the event being received, each followed by LF
    std::wstring m_sIdBuffer;      // the latest "id" value, taken over when its event is delivered
    std::wstring m_sLastEventId;
    bool m_bLineStarted = false;   // the line being received has text (kept or, when too long, dropped)
    bool m_bAfterCR = false;       // the previous unit was a CR: an LF right after it ends no second line
    bool m_bStreamStart = true;    // nothing of this connection seen yet (a byte-order mark is skipped)
    bool m_bIdInEvent = false;     // the event being received has an "id" line
    bool m_bOversized = false;     // the event being received grew too long; it is dropped at its end
    DWORD m_dwOversizedEvents = 0;
};
