// Per-process copies of the settings that the PBX session code uses; filled
// by the start-up read of the settings key, the credentials also by the
// dialog's connection test.
#pragma once

#include <windows.h>

#include <string>

extern std::wstring g_sUserName;      // PBX account user name
extern std::wstring g_sPassword;      // PBX account password (AssignSecret, WipeSecret)
// The credentials are kept where this process's account may not read them
// (a user's dialog): the dialog shows the user name as unknown.
extern bool g_bCredentialsUnknown;
// "ApiBaseUrl": the PBX API base, up to and including "/v1"; empty when the
// registry's value was refused (too long, not an http(s) URL).
extern wchar_t g_szApiBaseUrl[512];
extern DWORD g_bIgnoreCertErrors;     // "IgnoreCertErrors" is 1: accept any server certificate
// "StreamIdleTimeout": seconds the PBX's event stream may stay silent before
// it is taken for dead and reopened (1 to 86400; missing or 0: 300).
extern DWORD g_dwStreamIdleTimeout;
constexpr DWORD kDefaultStreamIdleTimeout = 300;
constexpr DWORD kMaxStreamIdleTimeout = 86400;
// "DirectoryRefreshSeconds": how often the PBX directory is read while the
// provider runs, so that new and departed extensions show without a restart
// (0 turns it off; missing: 300; at most 86400).
extern DWORD g_dwDirectoryRefreshSeconds;
constexpr DWORD kDefaultDirectoryRefreshSeconds = 300;
constexpr DWORD kMaxDirectoryRefreshSeconds = 86400;
