// A call is ended only on evidence that it ended: its own hangup (live or
// replayed), the PBX answering 404 or 410 to the drop of it, the directory's
// presence "idle" or "offline" for its extension, or the dial-tone closer of
// that very call. Never because a stream said nothing of it.
//
// The ends found here go the way of the call's own hangup: a "hangup" queued
// to the dispatcher, so that it keeps its place among the call's other
// events and ends the call as the PBX would (disconnected, then idle).
#pragma once

#include <string>
#include <vector>

#include "pbx/ExtensionDirectory.h"

// A PBX call shown on a line, as it was when looked at.
struct ShownCall {
    std::wstring uuid;
    std::wstring extension;
    DWORD dwState;
};

// Which calls a look takes.
enum class ShownCalls {
    All,
    // Only those of which the current event stream has said nothing.
    NotHeardOf,
};

// Under the ProviderLock: the PBX calls the lines show, not idle.
std::vector<ShownCall> FindShownCalls(ShownCalls which);

// Without any lock: ends each call of before (looked at before the directory
// was read) whose extension the directory shows "idle" or "offline" and that
// is still shown as it was. Any other presence, or none, keeps the call. The
// number of calls ended.
size_t EndCallsShownWithoutCall(const std::vector<ShownCall>& before, const std::vector<ExtensionInfo>& directory,
                                ShownCalls which);

// Without any lock: the PBX knows the call no more (404 or 410 to its drop):
// it ends on every line that shows it. Returns once the lines have shown it.
void EndCallUnknownToPbx(const std::wstring& uuid);
