// The PBX account's name and password. They live in the subkey "Credentials"
// of the settings key, which only SYSTEM (the telephony service's account)
// and Administrators may open: made with that DACL, protected from the
// parent's, owned by Administrators, and checked before every use. The
// values are also encrypted with the data-protection API for the machine, as
// they always were, so that moving them is a plain copy.
//
// Earlier versions kept them in the settings key itself, which every user may
// read. The first start that may write the new place moves them there and
// removes the old copies once the move succeeded; until then they are read
// from the old place.
#pragma once

#include <string>

constexpr wchar_t kCredentialsSubkey[] = L"Credentials";

enum class CredentialsRead {
    Read,        // from wherever they are (both may be empty)
    Unreadable,  // the new place exists but this account may not open it
    Refused,     // the new place is owned or opened up by someone else: not used
};

// Name and password, each at most 62 characters; moves old copies first when
// this process may. Empty texts when nothing could be read.
CredentialsRead ReadStoredCredentials(std::wstring* pName, std::wstring* pPassword);
// Writes both to the new place (creating it) and removes old copies. Windows
// error code; ERROR_ACCESS_DENIED also when the new place was refused.
long WriteStoredCredentials(const wchar_t* pszName, const wchar_t* pszPassword);
