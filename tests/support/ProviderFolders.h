// Where the provider a test program loads (ORVO_TSP_PATH) keeps its settings
// and files, worked out as a test sees them, and this program's name, which
// the log files carry. The provider is the built ORVOTSP.TSP or a copy
// "ORVOTSP_<name>.TSP" of it, whose settings key, log folder and shared
// section are its own: programs testing different copies run side by side in
// one Wine prefix.
#pragma once

#include <string>

// The common application-data folder's ORVO folder.
std::wstring OrvoDataFolder();
// OrvoDataFolder()\ORVO TAPI, or \<name> for a copy: where the provider logs.
std::wstring OrvoLogFolder();
// SOFTWARE\ORVO\TAPI, or SOFTWARE\ORVO\<name> for a copy.
const wchar_t* TestedProviderKey();
// The name of its shared section.
std::wstring TestedProviderSection();
// This program's file name without folder and extension.
std::wstring ExeBaseName();
