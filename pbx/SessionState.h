// What the PBX session holds: the base URL, the bearer tokens and the two
// claims read from the access token, with the lock that keeps them whole.
// The session (pbx/Session.h) fills them in; every PBX request reads them.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>

#include "pbx/RequestLock.h"

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
using CSessionGuard = CRequestLockGuard<std::recursive_mutex>;

// The access token counts as expired from now on: the next check renews it.
void ForgetAccessToken();

// Consistent copies for the request threads.
std::wstring CurrentAccessToken();
std::wstring CurrentRefreshToken();
std::wstring CurrentCustomer();
