#include "model/CallEndNotice.h"

void (*g_pfnCallEnded)(DWORD dwCallID) = nullptr;

void NoteCallEnded(DWORD dwCallID) {
    if (g_pfnCallEnded != nullptr && dwCallID != 0) g_pfnCallEnded(dwCallID);
}
