// The account's phone extensions as the PBX directory lists them.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

struct ExtensionInfo {
    std::wstring uuid;
    std::wstring extension_number;
    std::wstring name;
    std::wstring presence;
};

// The extension of each line position, kept by the manager's device set
// under the ProviderLock (a line keeps its extension, in whatever place the
// directory lists it); its size is the number of lines.
extern std::vector<ExtensionInfo> g_Extensions;
// By extension_number; only grows, so numbers that left the directory stay.
extern std::map<std::wstring, ExtensionInfo> g_ExtensionMap;

// Reads the account's phone extensions from the PBX directory, in directory
// order, into extensions, and adds them to g_ExtensionMap. False, with
// extensions left as they were, when the PBX gave no directory: a failed read
// is not an account without extensions. Runs under the session lock, which
// also guards g_ExtensionMap.
bool ReadExtensionDirectory(std::vector<ExtensionInfo>& extensions);
// The records of a directory answer, in answer order: every object with a
// non-empty string "extension_number" that does not stand inside another
// record, whatever objects or arrays wrap it. "name" is decoded as the UTF-8
// the PBX sent and kept to 254 bytes of it, cut between two characters.
std::vector<ExtensionInfo> ParseExtensionDirectory(const wchar_t* pszAnswer);
// 1 when the extension's presence is "offline" or "idle". An unknown number
// gets an empty entry.
DWORD IsExtensionOffline(const wchar_t* pszExtensionNumber);
