#include "config/Settings.h"

std::wstring g_sUserName;
std::wstring g_sPassword;
wchar_t g_szApiBaseUrl[512] = ORVO_DEFAULT_API_BASE_URL;
DWORD g_bIgnoreCertErrors = 0;
DWORD g_dwStreamIdleTimeout = kDefaultStreamIdleTimeout;
DWORD g_dwDirectoryRefreshSeconds = kDefaultDirectoryRefreshSeconds;
