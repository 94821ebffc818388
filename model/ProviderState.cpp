#include "model/ProviderState.h"

DWORD g_dwPermanentProviderID = 0;
DWORD g_dwLineDeviceIDBase = 0;
ASYNC_COMPLETION g_pfnAsyncCompletion = nullptr;
HPROVIDER g_hProvider = nullptr;
LINEEVENT g_pfnLineCreateProc = nullptr;
PHONEEVENT g_pfnPhoneCreateProc = nullptr;
LINEEVENT g_pLineEventProc = nullptr;
DWORD g_dwDeviceCount = 0;
HINSTANCE g_hModule = nullptr;
HICON g_hIconPhone = nullptr;
