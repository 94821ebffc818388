// Who learns that a call has ended towards TAPI, whatever ended it (its
// hangup, a closer, presence, a failed drop, its line closing or going):
// the manager then forgets the PBX's call number once no line shows that
// call. Set by the manager when it is built; called under the ProviderLock.
#pragma once

#include <windows.h>

extern void (*g_pfnCallEnded)(DWORD dwCallID);

// Passes the call's id on, when someone listens.
void NoteCallEnded(DWORD dwCallID);
