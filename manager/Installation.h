// Getting the provider into the system folder and TAPI's provider list and
// out again, the telephony service's start settings, and the icons the
// library keeps loaded for its windows. The exports that drive these steps
// are in provider/UiExports.cpp.
#pragma once

#include <windows.h>

class CFuncTrace;

extern HICON g_hIconTM;  // icon resource 203

// Loads icons 202 and 203 at 32 by 32 from the library (process attach).
void LoadRessources();
// Destroys both icons (process detach).
void DestroyRessources();

// tapisrv starts automatically as LocalSystem; failures are ignored.
void ConfigureTapiService();

// Whether the host executable lives in the system folder: only an installer
// started from there may copy, register or remove the provider.
bool IsHostInSystemFolder();

// The check of TUISPI_providerInstall, traced on its trace object: 0 when no
// provider of this library's file name is listed by TAPI, else
// LINEERR_NOMULTIPLEINSTANCE, LINEERR_NOMEM, LINEERR_OPERATIONFAILED or the
// error of lineGetProviderList.
LONG CheckProviderNotInstalled(const CFuncTrace& trace);

// Removes the first listed provider whose file name contains ours from TAPI.
void UnregisterProvider();
// Adds "<name>.TSP" to TAPI's provider list.
void RegisterProvider();
