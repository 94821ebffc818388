// The account's phone extensions as the PBX directory lists them: position n
// in g_Extensions is line position n.
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

// In directory order; its size is the number of lines.
extern std::vector<ExtensionInfo> g_Extensions;
// By extension_number; only grows, so numbers that left the directory stay.
extern std::map<std::wstring, ExtensionInfo> g_ExtensionMap;

// Reads the account's phone extensions from the PBX directory into
// g_Extensions (rebuilt) and g_ExtensionMap (added to); the number of records,
// 0 when the read failed. Runs under the session lock, which also guards the
// two tables.
DWORD ReadExtensions();
// 1 when the extension's presence is "offline" or "idle". An unknown number
// gets an empty entry.
DWORD IsExtensionOffline(const wchar_t* pszExtensionNumber);
