// Reading back who may do what with a file, folder or kernel object, for
// tests of the provider's permissions. Under Wine a file's DACL reads back as
// the mapping of its Unix mode bits.
#pragma once

#include <windows.h>
#include <aclapi.h>

#include <string>

struct Grants {
    ACCESS_MASK onObject = 0;    // what the object's own entries grant
    ACCESS_MASK toNewFiles = 0;  // what entries inherited by new files grant
};

// What the allowing entries of a DACL grant the account (a string SID);
// a NULL DACL grants everything to everybody.
Grants GrantsIn(const ACL* pDacl, bool bPresent, const wchar_t* pszSid);
// The same for a file or folder by path, or for an open object; *pbRead says
// whether its DACL could be read at all.
Grants GrantsOn(const std::wstring& path, const wchar_t* pszSid, bool* pbRead);
Grants GrantsOn(HANDLE hObject, SE_OBJECT_TYPE type, const wchar_t* pszSid, bool* pbRead);
// The DACL as SDDL text, for failure messages.
std::wstring DaclText(const std::wstring& path);
// The account this process runs as, as a string SID.
std::wstring CurrentUserSid();
