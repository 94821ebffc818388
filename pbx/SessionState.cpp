#include "pbx/SessionState.h"

#include <atomic>

#include "common/SecretWipe.h"
#include "common/SlimLock.h"
#include "config/Settings.h"

std::wstring g_sBaseURL;
std::wstring g_sAccessToken;
std::wstring g_sRefreshToken;
// Wiped before the library lets go of them (destroyed before the tokens).
static CSecretWiper<std::wstring> s_WipeAccessToken(g_sAccessToken);
static CSecretWiper<std::wstring> s_WipeRefreshToken(g_sRefreshToken);
std::wstring g_sCustomer;
LONG g_nTokenExpiry = 0;

namespace {
std::atomic<bool> g_bCredentialsRefused{false};
// Set by a refusal, cleared by a new decision about the account.
std::atomic<bool> g_bLoginHeldBack{false};
}  // namespace

SlimRecursiveMutex& SessionMutex() {
    static SlimRecursiveMutex mutex;
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

void SetCredentials(const wchar_t* pszUserName, const wchar_t* pszPassword) {
    CSessionGuard session(SessionMutex());
    if (g_sUserName == pszUserName && g_sPassword == pszPassword) return;
    g_sUserName = pszUserName;
    AssignSecret(g_sPassword, pszPassword);
    AllowLoginAgain();
}

std::wstring CurrentUserName() {
    CSessionGuard session(SessionMutex());
    return g_sUserName;
}

void NoteCredentialsRefused() {
    g_bCredentialsRefused = true;
    g_bLoginHeldBack = true;
}

void NoteCredentialsAccepted() { g_bCredentialsRefused = false; }

void AllowLoginAgain() { g_bLoginHeldBack = false; }

bool LoginHeldBack() { return g_bLoginHeldBack; }

bool CredentialsRefused() { return g_bCredentialsRefused; }
