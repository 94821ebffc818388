// The PBX session: login with the account's credentials, the bearer tokens,
// the two claims read from the access token (customer and expiry), and their
// renewal shortly before expiry. Every PBX request takes its token from here.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>

// "https://<host>/v1": every request URL is this followed by a path.
extern std::wstring g_sBaseURL;
extern std::wstring g_sAccessToken;
extern std::wstring g_sRefreshToken;
extern std::wstring g_sCustomer;          // "customer" claim of the access token
extern LONG g_nTokenExpiry;               // "exp" claim, seconds since 1970; 0 before the first login

// Logins, refreshes, token checks and the directory read run one at a time,
// and readers of the tokens never see a half-written value. Recursive so that
// a check may refresh while it holds the session. Held across PBX requests:
// second in the lock order (model/ProviderLock.h), after the command lock,
// never taken inside the ProviderLock.
std::recursive_mutex& SessionMutex();
using CSessionGuard = std::lock_guard<std::recursive_mutex>;

// Nonzero (the length of the customer claim) when logged in.
int Login();
// Nonzero when the refresh token gave new tokens.
int RefreshToken();
// 1 while the access token is valid for 20 seconds or more, else the result
// of a refresh; a refresh the PBX refuses (4xx) is followed by a fresh login
// with the stored credentials, whose result it is then.
int ORVO_CheckAccessToken();
// The access token counts as expired from now on: the next check renews it.
void ForgetAccessToken();
// Reads the tokens from the session client's answer; 0 when it is not a JSON object.
int ReadTokens();
// Reads "customer" and "exp" from the access token's payload; the length of
// the customer claim, 0 on failure.
int ReadTokenClaims();

// Consistent copies for the request threads.
std::wstring CurrentAccessToken();
std::wstring CurrentCustomer();
