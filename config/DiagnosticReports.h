// Reports for support staff, written into the trace log: the machine and the
// installed telephony providers at every start-up, and the running TAPI
// applications at each (re)initialisation of the lines.
#pragma once

#include <windows.h>

#include <ctime>

// Level 0: written whatever the configured DebugLevel.
void PrintSystemInfoFile();
// Level 1; runs at most once in 2 seconds, and gives up the moment hStop
// (an event; null for none) is set.
void PrintTAPIApps(HANDLE hStop);

bool ServiceExists(const wchar_t* pszServiceName);
bool IsTerminalServer();

// Time of the last PrintTAPIApps run, in seconds; 0 before the first.
extern time_t g_tLastTAPIAppsReport;
