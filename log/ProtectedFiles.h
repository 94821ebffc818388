// The provider's folders and files in places every local user can reach
// (below the common application-data folder). A user must not be able to
// send the service's writes somewhere else by putting a junction, a symbolic
// link or a hard link where the provider expects its folder or a file, nor
// have it change the permissions of a path it did not create.
#pragma once

#include <windows.h>

#include <string>

// Creates the folders of pszRelative ("A\B") one by one below pszBase, each
// missing one with the log folder's protected DACL; folders that exist keep
// theirs. Fails, with the reason in *pWhy, when a folder cannot be had or
// one of them is a junction or symbolic link or leads somewhere else; the
// caller then goes without it; so does a folder that exists and belongs to
// an account other than SYSTEM, Administrators, TrustedInstaller or the
// account of this process. On success *pFolder is base\relative.
bool PrepareProtectedFolder(const wchar_t* pszBase, const wchar_t* pszRelative, std::wstring* pFolder,
                            std::wstring* pWhy);

// Opens (OPEN_ALWAYS) or creates (CREATE_NEW) a log or exchange file for
// writing; other dispositions are refused, since truncating on open would
// empty whatever a planted link leads to. A new file gets the protected DACL of a
// provider file. Refused (INVALID_HANDLE_VALUE, nothing written, a file just
// created removed again) when the file turns out to be a link, to have
// further hard links, to lie somewhere other than its path says, or to
// belong to another account.
HANDLE OpenProtectedFile(const wchar_t* pszPath, DWORD dwDisposition);

// Removes the file at pszPath if it is a plain file of ours (by its handle,
// never following a link); true when no file is left there. A link or a
// file of another account stays, and the result is false: the caller then
// writes no new file in its place.
bool RemoveProtectedFile(const wchar_t* pszPath);
