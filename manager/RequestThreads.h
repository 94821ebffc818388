// The provider's one request thread. It serves every request that outlives
// the export that made it, in the order they fall due: the delayed
// completions of TAPI requests with their PBX commands (DelayedReply.h), and
// the dial-tone closers (DialtoneCloser.h). One thread for all of them, so
// that a burst of calls starts no thread per call. It is started with the
// first request of a run and ended by the provider's shutdown, its queue
// dropped: nothing queued acts after the shutdown. Like every thread of the
// provider it has a control block of its own (ThreadRun.h) and holds a
// reference to the library while it runs.
#pragma once

#include <windows.h>

#include <functional>

enum class RequestQueued { Yes, NoMemory, NoThread, Stopping };

// Runs action on the request thread, dwDelayMs from now at the earliest,
// with no lock held. Anything but Yes: the action is dropped (Stopping: the
// provider stops, or the caller's own run is over).
RequestQueued QueueRequest(DWORD dwDelayMs, std::function<void()> action);

// At provider shutdown: drops what is queued, asks the request thread to stop
// and gives it up to a second to end (a PBX command it runs gives up at once).
void EndRequestThreads();
