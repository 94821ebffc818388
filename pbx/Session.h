// The PBX session: login with the account's credentials, the bearer tokens,
// the two claims read from the access token (customer and expiry), and their
// renewal shortly before expiry. The tokens themselves are kept in
// pbx/SessionState.h, where every PBX request takes its token from.
#pragma once

#include "pbx/SessionState.h"

// Nonzero (the length of the customer claim) when logged in. A login the
// PBX refuses (401, 403) holds back every later one until the credentials
// are decided anew (pbx/SessionState.h); until then nothing is sent.
int Login();
// Nonzero when the refresh token gave new tokens.
int RefreshToken();
// 1 while the access token is valid for 20 seconds or more, else the result
// of a refresh; a refresh the PBX refuses (4xx) is followed by a fresh login
// with the stored credentials (unless they were refused), whose result it is then.
int ORVO_CheckAccessToken();
// Reads the tokens from the session client's answer; 0 when it is not a JSON object.
int ReadTokens();
// Reads "customer" and "exp" from the access token's payload; the length of
// the customer claim, 0 on failure.
int ReadTokenClaims();
