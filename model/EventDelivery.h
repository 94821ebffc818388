// The only path by which events reach TAPI: its completion and event callbacks.
#pragma once

#include <windows.h>

// Calls the asynchronous completion procedure, if TAPI has set one.
void RaiseAsyncCompletion(DWORD dwRequestID, LONG lResult);
