// Where the PBX's call events are carried out, so that the events of
// different lines do not wait for each other.
//
// An event is a list of steps. Each step runs under the ProviderLock; the
// pause after a step (the time an application gets to show a state) is
// waited with the lock free. One delivery thread serves every event: it keeps
// the running events ordered by the time their next step is due and runs each
// step when it is due, so that one line's pauses never hold up another line's
// events nor a TAPI request.
//
// Order: an event starts only once every event posted before it for the same
// line or the same PBX call (uuid) has run its last step and pause. The
// messages of one call therefore keep their order and pauses, and an answer
// at one extension comes after the ring at every other extension it idles.
//
// Lock order: the ProviderLock, then the scheduler's own lock, which is held
// only to take or queue an event and never while waiting.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <string>

// The steps of one event. The first step decides what the event does and
// appends the rest.
class CEventSteps {
public:
    using Step = std::function<void(CEventSteps&)>;

    // Runs after everything appended so far, under the ProviderLock.
    void Then(Step step) { m_entries.push_back(Entry{0, std::move(step)}); }
    // Waits dwMs with the lock free before what is appended next; a pause at
    // the end keeps the event's line and call waiting that long too.
    void Pause(DWORD dwMs) { m_entries.push_back(Entry{dwMs, nullptr}); }
    // Drops what is still to come (the call the event is about is gone).
    void Abandon() { m_entries.clear(); }

    bool Empty() const { return m_entries.empty(); }
    // The pause in front, 0 when a step is next.
    DWORD PauseInFront() const { return m_entries.empty() ? 0 : m_entries.front().dwPauseMs; }
    // Takes the next entry: its step (empty for a pause).
    Step TakeFront();

private:
    struct Entry {
        DWORD dwPauseMs;
        Step step;
    };
    std::deque<Entry> m_entries;
};

// Events not yet over, at most: three times a burst of 10,000 lines with
// three events each. A poster finding that many waits for room (the event
// stream is then read more slowly, nothing is lost); one that holds the
// ProviderLock cannot wait for the delivery thread and goes over it.
constexpr size_t kMaxCallEvents = 3 * 10000 * 3;
size_t CallEventsNotOver();

// Queues an event for a line and a PBX call; returns at once, unless it waits for room.
void PostCallEvent(LONG lLinePos, const std::wstring& uuid, CEventSteps::Step first);
// Queues it and returns when its last step and pause are over (or the
// provider shut down meanwhile).
void RunCallEvent(LONG lLinePos, const std::wstring& uuid, CEventSteps::Step first);

// Provider shutdown: the events not yet carried out are dropped and the
// delivery thread ends before this returns. The next event starts it again.
void StopCallEventScheduler();

// The scheduler's clock in milliseconds. A test may hold time still to catch
// an event inside its pause; null brings back the steady clock.
using CallEventClock = ULONGLONG (*)();
void SetCallEventClock(CallEventClock pfnNow);
