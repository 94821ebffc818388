// Where the provider keeps its files, worked out as a test sees them: the
// ORVO folder below the common application-data folder, the log folder, and
// this program's name, which the log files carry.
#pragma once

#include <string>

// The common application-data folder's ORVO folder.
std::wstring OrvoDataFolder();
// OrvoDataFolder()\ORVO TAPI, where the provider logs.
std::wstring OrvoLogFolder();
// This program's file name without folder and extension.
std::wstring ExeBaseName();
