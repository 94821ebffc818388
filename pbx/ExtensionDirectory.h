// The account's phone extensions as the PBX directory lists them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct ExtensionInfo {
    std::wstring uuid;
    std::wstring extension_number;
    std::wstring name;
    // "presence" as the PBX sent it at the read; empty when it sent none.
    std::wstring presence;
};

// The extension of each line position, kept by the manager's device set
// under the ProviderLock (a line keeps its extension, in whatever place the
// directory lists it); its size is the number of lines.
extern std::vector<ExtensionInfo> g_Extensions;

// Reads the account's phone extensions from the PBX directory, in directory
// order, into extensions. False, with extensions left as they were, when the
// PBX gave no directory: a failed read is not an account without extensions.
// Runs under the session lock.
bool ReadExtensionDirectory(std::vector<ExtensionInfo>& extensions);
// The records of a directory answer, in answer order: every object with a
// non-empty string "extension_number" that does not stand inside another
// record, whatever objects or arrays wrap it. "name" is decoded as the UTF-8
// the PBX sent and kept to 254 bytes of it, cut between two characters;
// "presence" is taken as the JSON gives it.
std::vector<ExtensionInfo> ParseExtensionDirectory(const wchar_t* pszAnswer);
// A presence that says the extension was in no call when the directory was
// read: "idle" or "offline". A presence is evidence of that moment only; it
// is never kept to judge a call that may have begun since.
bool ShowsNoCall(const std::wstring& presence);
