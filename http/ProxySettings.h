// Proxy detection for the PBX requests. Automatic detection can take seconds
// on networks whose DNS drops queries, and the provider asks before every
// login and command, so the outcome is remembered for a while.
#pragma once

#include <windows.h>

#include <string>

struct ProxySettings {
    std::wstring sProxy;   // empty: no proxy
    std::wstring sBypass;
};

// How long a detected outcome is reused for the same URL.
constexpr ULONGLONG ProxySettingsLifetimeMs = 10 * 60 * 1000;

// Asks WinHTTP for the proxy of the URL: the user's configuration, then
// automatic detection (configuration script or WPAD) when that asks for it.
ProxySettings DetectProxySettings(const wchar_t* pszURL);

// DetectProxySettings, reusing the last outcome for the same URL while it is
// younger than ProxySettingsLifetimeMs. Safe to call from several threads.
ProxySettings LookUpProxySettings(const wchar_t* pszURL);

// Drops the remembered outcome, e.g. after the network changed.
void ForgetProxySettings();
