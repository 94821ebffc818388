// Where the time of one PBX event goes on its way to TAPI, for the bench:
// the wall-clock moments (FILETIME ticks, the clock the PBX simulator's
// stamps are compared with) at which the event in flight passed each stage.
// Off unless the process was started with the environment variable
// ORVO_STAGE_CLOCK naming a file; then every call state delivered to TAPI
// adds one line to that file when the library unloads: the state and the
// moments read, framed, parsed, dispatched, handed to TAPI's callback and
// back from it. While off, a mark costs the test of one flag.
//
// The moments are those of the one event in flight, so the figures are
// sound for calls one at a time, not for a burst.
#pragma once

#include <windows.h>

enum class Stage { Read, Framed, Parsed, Dispatched, Delivering, Count };

extern const bool g_bStageClock;

void MarkStageNow(Stage stage);
void EndStagesNow(DWORD dwMessage, DWORD_PTR dwParam1);

inline void MarkStage(Stage stage) {
    if (g_bStageClock) MarkStageNow(stage);
}

// After TAPI's callback for one message returned; a call state ends its event's stages.
inline void EndStages(DWORD dwMessage, DWORD_PTR dwParam1) {
    if (g_bStageClock) EndStagesNow(dwMessage, dwParam1);
}
