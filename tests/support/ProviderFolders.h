// Where the provider keeps its files, worked out as a test sees them: the
// common application-data folder, the ORVO folder below it, the log folder,
// and this program's name, which the log files carry.
#pragma once

#include <string>

std::wstring CommonAppData();
// CommonAppData()\ORVO
std::wstring OrvoDataFolder();
// OrvoDataFolder()\ORVO TAPI, where the provider logs.
std::wstring OrvoLogFolder();
// This program's file name without folder and extension.
std::wstring ExeBaseName();
