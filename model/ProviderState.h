// Process-wide state of the provider as TAPI set it up.
#pragma once

#include <windows.h>

#include "model/TapiDefs.h"

extern DWORD g_dwPermanentProviderID;
extern DWORD g_dwLineDeviceIDBase;            // device identifier of the first line TAPI counted at start-up
extern ASYNC_COMPLETION g_pfnAsyncCompletion;
extern HPROVIDER g_hProvider;
extern LINEEVENT g_pfnLineCreateProc;
extern PHONEEVENT g_pfnPhoneCreateProc;
extern LINEEVENT g_pLineEventProc;            // one procedure for all lines; the latest open wins
extern DWORD g_dwDeviceCount;
extern HINSTANCE g_hModule;
extern HICON g_hIconPhone;                    // the line icon, icon resource 202
