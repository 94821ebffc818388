// Who this copy of the provider is: derived from the library's file name, so
// that a copy under another name (ORVOTSP_2.TSP) keeps its own settings key,
// log folder and shared section.
#pragma once

#include <windows.h>

extern wchar_t g_szModulePath[260];        // full path of the provider library
extern wchar_t g_szTSPName[260];           // file name without folder and extension
extern wchar_t g_szTSPNameExtension[260];  // what follows "ORVOTSP", without one "_" or "-"
extern wchar_t g_szProcessPath[260];       // host executable, upper case
extern wchar_t g_szLocalRegPath[260];      // settings key below HKEY_LOCAL_MACHINE

// Fills g_szModulePath, g_szTSPName and g_szTSPNameExtension from the module.
void SetupFileData(HMODULE hModule);
// Same, from a given library path (the part that needs no module handle).
void SetupFileDataFromPath(const wchar_t* pszModulePath);
// "SOFTWARE\ORVO\TAPI", "SOFTWARE\ORVO\<extension>" or "SOFTWARE\ORVO\<name>".
void BuildLocalRegPath();
// Name of the log folder below "ORVO": the extension, "ORVO TAPI" or the name.
const wchar_t* LogSubfolderName();
