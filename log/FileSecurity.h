// Access rules for the files and objects that the telephony service and the
// users' dialog processes share: logs, exchange files, the shared section.
#pragma once

#include <windows.h>

// Security attributes with a NULL DACL (everyone has full access), built once.
SECURITY_ATTRIBUTES* GetOpenSecurityAttributes();

// Gives Everyone and BUILTIN\Administrators full access to a file or folder,
// taking ownership for the administrators when access is denied. 1 on success.
int GrantFullAccess(const wchar_t* pszPath);
