// The proxy of the PBX requests, in this order:
//   1. the configuration of the account the process runs as (for the
//      telephony service, LocalSystem's), as WinHTTP reads it;
//   2. when that names no proxy and asks for no detection, the machine-wide
//      WinHTTP setting (`netsh winhttp set proxy`), the one services use;
//   3. when it asks for detection (a configuration script or WPAD), what the
//      detection finds; when detection finds nothing, the account's fixed
//      proxy, or else the machine-wide setting.
// Detection can hang for a long time (DNS that drops queries, a script server
// that never answers). It runs on a thread of its own, outside every lock,
// given at most kProxyDetectionLimitMs; a request never waits for it but uses
// what the last detection found, and a detection older than
// ProxySettingsLifetimeMs is refreshed in the background.
#pragma once

#include <windows.h>

#include <string>

struct ProxySettings {
    std::wstring sProxy;   // empty: no proxy
    std::wstring sBypass;
};

// How long a detected outcome is used before it is looked up again.
constexpr ULONGLONG ProxySettingsLifetimeMs = 10 * 60 * 1000;
// The most a detection may take, all its steps together.
constexpr DWORD kProxyDetectionLimitMs = 5000;

// What WinHTTP says, gathered without touching the network.
struct ProxySources {
    bool bAccountNamesProxy = false;  // the account's fixed proxy
    std::wstring sAccountProxy, sAccountBypass;
    bool bDetectionWanted = false;  // the account asks for detection (WPAD or a script)
    std::wstring sAutoConfigUrl;    // the script's URL, empty for WPAD
    bool bDetected = false;         // a detection answered (its proxy may be empty: direct)
    std::wstring sDetectedProxy, sDetectedBypass;
    bool bMachineNamesProxy = false;  // the machine-wide WinHTTP setting
    std::wstring sMachineProxy, sMachineBypass;
};

// The order above, applied.
ProxySettings ChooseProxy(const ProxySources& sources);

// The proxy for the URL now: never waits for a detection, starts one in the
// background when none is fresh. Safe to call from several threads, also with
// locks held.
ProxySettings LookUpProxySettings(const wchar_t* pszURL);

// When the account asks for detection and none is fresh, starts one and waits
// for it at most dwWaitMs (the dialog's connection test waits, a provider
// start does not: the telephony service is never held for a detection). Call
// with no lock held.
void PrepareProxySettings(const wchar_t* pszURL, DWORD dwWaitMs);

// After a network change: the next lookup starts a new detection (the last
// outcome is used until it ends).
void ForgetProxySettings();
