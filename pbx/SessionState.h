// What the PBX session holds: the base URL, the bearer tokens and the two
// claims read from the access token, with the lock that keeps them whole.
// The session (pbx/Session.h) fills them in; every PBX request reads them.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>

#include "common/SlimLock.h"
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
SlimRecursiveMutex& SessionMutex();
using CSessionGuard = CRequestLockGuard<SlimRecursiveMutex>;

// The access token counts as expired from now on: the next check renews it.
void ForgetAccessToken();

// The account's credentials (config/Settings.h), set under the session lock
// so that a login never sends half an old and half a new account. Changed
// values are a new decision about the account: a refusal of the earlier ones
// no longer holds logins back.
void SetCredentials(const wchar_t* pszUserName, const wchar_t* pszPassword);
std::wstring CurrentUserName();

// Refused credentials: once the PBX refused the stored credentials (401 or
// 403 to a login), no login is sent until the user or a start decides anew
// (AllowLoginAgain, or new credentials): PBXs lock an account after a few
// failed logins, and with it every phone of the customer. Lock-free, so that
// the service state may ask under the ProviderLock.
void NoteCredentialsRefused();
// A login was accepted: the credentials are good.
void NoteCredentialsAccepted();
// The dialog's OK or test, a re-initialisation it asked for, a start of the
// provider: the next login is sent, whatever the last one was told.
void AllowLoginAgain();
// The last login was refused and nothing has decided anew since: logins are held back.
bool LoginHeldBack();
// The last login was refused (also once a new try is allowed, until a login succeeds).
bool CredentialsRefused();

// Consistent copies for the request threads.
std::wstring CurrentAccessToken();
std::wstring CurrentRefreshToken();
std::wstring CurrentCustomer();
