#include "pbx/SessionState.h"

#include "common/SecretWipe.h"

std::wstring g_sBaseURL;
std::wstring g_sAccessToken;
std::wstring g_sRefreshToken;
// Wiped before the library lets go of them (destroyed before the tokens).
static CSecretWiper<std::wstring> s_WipeAccessToken(g_sAccessToken);
static CSecretWiper<std::wstring> s_WipeRefreshToken(g_sRefreshToken);
std::wstring g_sCustomer;
LONG g_nTokenExpiry = 0;

std::recursive_mutex& SessionMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

void ForgetAccessToken() {
    CSessionGuard session(SessionMutex());
    g_nTokenExpiry = 0;
}

std::wstring CurrentAccessToken() {
    CSessionGuard session(SessionMutex());
    return g_sAccessToken;
}

std::wstring CurrentRefreshToken() {
    CSessionGuard session(SessionMutex());
    return g_sRefreshToken;
}

std::wstring CurrentCustomer() {
    CSessionGuard session(SessionMutex());
    return g_sCustomer;
}
