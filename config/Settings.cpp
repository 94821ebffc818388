#include "config/Settings.h"

#include "common/SecretWipe.h"

std::wstring g_sUserName;
std::wstring g_sPassword;
bool g_bCredentialsUnknown = false;
// Wiped before the library lets go of it (destroyed before the password).
static CSecretWiper<std::wstring> s_WipePassword(g_sPassword);
wchar_t g_szApiBaseUrl[512] = ORVO_DEFAULT_API_BASE_URL;
DWORD g_bIgnoreCertErrors = 0;
DWORD g_dwStreamIdleTimeout = kDefaultStreamIdleTimeout;
DWORD g_dwDirectoryRefreshSeconds = kDefaultDirectoryRefreshSeconds;
