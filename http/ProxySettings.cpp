#include "http/ProxySettings.h"

#include <winhttp.h>

#include "common/BoundedString.h"
#include "http/CHTTPContactBase.h"
#include "http/UniqueInternetHandle.h"

namespace {

// Strings WinHTTP hands out belong to the caller, who frees them with GlobalFree.
struct GlobalText {
    LPWSTR psz = nullptr;
    ~GlobalText() {
        if (psz != nullptr) GlobalFree(psz);
    }
    std::wstring Cut(size_t cchMax) const {
        return psz == nullptr ? std::wstring() : std::wstring(psz).substr(0, cchMax);
    }
};

constexpr size_t ProxyChars = CHTTPContactBase::ProxyUnits - 2;

struct RememberedProxy {
    // Sixth in the lock order (model/ProviderLock.h); detection runs outside it.
    SRWLOCK lock = SRWLOCK_INIT;
    bool bValid = false;
    std::wstring sURL;
    ULONGLONG qwTaken = 0;
    ProxySettings settings;
};

RememberedProxy& Remembered() {
    static RememberedProxy remembered;
    return remembered;
}

}  // namespace

ProxySettings DetectProxySettings(const wchar_t* pszURL) {
    ProxySettings result;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ieConfig = {};
    GlobalText autoConfigUrl, staticProxy, staticBypass;
    bool bAutoProxy = true;
    if (WinHttpGetIEProxyConfigForCurrentUser(&ieConfig)) {
        autoConfigUrl.psz = ieConfig.lpszAutoConfigUrl;
        staticProxy.psz = ieConfig.lpszProxy;
        staticBypass.psz = ieConfig.lpszProxyBypass;
        bAutoProxy = ieConfig.fAutoDetect || autoConfigUrl.psz != nullptr;
    }

    WINHTTP_PROXY_INFO info = {};
    GlobalText detectedProxy, detectedBypass;
    if (bAutoProxy) {
        WINHTTP_AUTOPROXY_OPTIONS options = {};
        if (autoConfigUrl.psz != nullptr) {
            options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
            options.lpszAutoConfigUrl = autoConfigUrl.psz;
        } else {
            options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
            options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
        }
        options.fAutoLogonIfChallenged = TRUE;
        const UniqueInternetHandle probe(WinHttpOpen(L"AutoProxy Test", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
        if (probe) {
            wchar_t szURL[256];
            StrCopy(szURL, pszURL);
            bAutoProxy = WinHttpGetProxyForUrl(probe.get(), szURL, &options, &info) != FALSE;
            detectedProxy.psz = info.lpszProxy;
            detectedBypass.psz = info.lpszProxyBypass;
        }
    }
    if (bAutoProxy) {
        result.sProxy = detectedProxy.Cut(ProxyChars);
        result.sBypass = detectedBypass.Cut(ProxyChars);
    } else {
        result.sProxy = staticProxy.Cut(ProxyChars);
        result.sBypass = staticBypass.Cut(ProxyChars);
    }
    return result;
}

ProxySettings LookUpProxySettings(const wchar_t* pszURL) {
    RememberedProxy& remembered = Remembered();
    const std::wstring sURL = pszURL != nullptr ? pszURL : L"";
    AcquireSRWLockShared(&remembered.lock);
    const bool bFresh = remembered.bValid && remembered.sURL == sURL &&
                        GetTickCount64() - remembered.qwTaken < ProxySettingsLifetimeMs;
    ProxySettings settings = remembered.settings;
    ReleaseSRWLockShared(&remembered.lock);
    if (bFresh) return settings;

    // Detect outside the lock: a slow detection must not hold up other threads
    // that find a fresh outcome.
    settings = DetectProxySettings(sURL.c_str());
    AcquireSRWLockExclusive(&remembered.lock);
    remembered.bValid = true;
    remembered.sURL = sURL;
    remembered.qwTaken = GetTickCount64();
    remembered.settings = settings;
    ReleaseSRWLockExclusive(&remembered.lock);
    return settings;
}

void ForgetProxySettings() {
    RememberedProxy& remembered = Remembered();
    AcquireSRWLockExclusive(&remembered.lock);
    remembered.bValid = false;
    ReleaseSRWLockExclusive(&remembered.lock);
}
