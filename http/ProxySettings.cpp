#include "http/ProxySettings.h"

#include <winhttp.h>

#include <memory>

#include "common/BoundedString.h"
#include "common/UniqueHandle.h"
#include "http/CHTTPContactBase.h"
#include "http/UniqueInternetHandle.h"
#include "log/Trace.h"

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
// Each of the probe session's four time-outs: together the limit.
constexpr int kProbeStepTimeoutMs = static_cast<int>(kProxyDetectionLimitMs / 4);

struct Detection {
    // Sixth in the lock order (model/ProviderLock.h); nothing waits inside it.
    SRWLOCK lock = SRWLOCK_INIT;
    std::wstring sURL;  // the URL the outcome is for
    bool bHaveOutcome = false;
    bool bStale = false;
    ULONGLONG qwTaken = 0;
    bool bDetected = false;
    std::wstring sProxy, sBypass;
    UniqueHandle hThread;  // the latest detection's thread, running or ended
};

Detection& TheDetection() {
    static Detection detection;
    return detection;
}

struct DetectionJob {
    std::wstring sURL;
    std::wstring sAutoConfigUrl;
    HMODULE hPinned = nullptr;
};

// The network part: a configuration script, or WPAD through DHCP and DNS.
void Detect(const DetectionJob& job, bool* pbDetected, std::wstring* pProxy, std::wstring* pBypass) {
    WINHTTP_AUTOPROXY_OPTIONS options = {};
    if (!job.sAutoConfigUrl.empty()) {
        options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = job.sAutoConfigUrl.c_str();
    } else {
        options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    options.fAutoLogonIfChallenged = TRUE;
    *pbDetected = false;
    const UniqueInternetHandle probe(WinHttpOpen(L"AutoProxy Test", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                                 WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!probe) return;
    WinHttpSetTimeouts(probe.get(), kProbeStepTimeoutMs, kProbeStepTimeoutMs, kProbeStepTimeoutMs,
                       kProbeStepTimeoutMs);
    wchar_t szURL[256];
    StrCopy(szURL, job.sURL.c_str());
    WINHTTP_PROXY_INFO info = {};
    *pbDetected = WinHttpGetProxyForUrl(probe.get(), szURL, &options, &info) != FALSE;
    GlobalText proxy{info.lpszProxy}, bypass{info.lpszProxyBypass};
    *pProxy = proxy.Cut(ProxyChars);
    *pBypass = bypass.Cut(ProxyChars);
}

// Holds the library loaded while it runs: a detection may outlast the
// provider's shutdown (not every WinHTTP keeps the probe's time-outs), and
// the library must not go from under it.
DWORD WINAPI DetectionThread(LPVOID pParameter) {
    std::unique_ptr<DetectionJob> job(static_cast<DetectionJob*>(pParameter));
    const HMODULE hPinned = job->hPinned;
    bool bDetected = false;
    std::wstring sProxy, sBypass;
    Detect(*job, &bDetected, &sProxy, &sBypass);
    Trace(3, L"Func.DetectionThread.Var.Detected %d proxy %s", bDetected ? 1 : 0, sProxy.c_str());
    Detection& detection = TheDetection();
    AcquireSRWLockExclusive(&detection.lock);
    if (detection.sURL == job->sURL) {
        detection.bHaveOutcome = true;
        detection.bStale = false;
        detection.qwTaken = GetTickCount64();
        detection.bDetected = bDetected;
        detection.sProxy = sProxy;
        detection.sBypass = sBypass;
    }
    ReleaseSRWLockExclusive(&detection.lock);
    job.reset();
    FreeLibraryAndExitThread(hPinned, 0);
}

bool IsRunning(const UniqueHandle& hThread) {
    return hThread && WaitForSingleObject(hThread.get(), 0) == WAIT_TIMEOUT;
}

// With the lock held: starts a detection for the URL unless one runs or a
// fresh outcome is there. Returns whether a detection is under way.
bool StartDetectionLocked(Detection& detection, const std::wstring& sURL, const std::wstring& sAutoConfigUrl) {
    if (detection.sURL != sURL) {
        detection.sURL = sURL;
        detection.bHaveOutcome = false;
    }
    const bool bFresh = detection.bHaveOutcome && !detection.bStale &&
                        GetTickCount64() - detection.qwTaken < ProxySettingsLifetimeMs;
    if (bFresh) return false;
    if (IsRunning(detection.hThread)) return true;
    auto job = std::make_unique<DetectionJob>(DetectionJob{sURL, sAutoConfigUrl, nullptr});
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&DetectionThread), &job->hPinned))
        return false;
    const HMODULE hPinned = job->hPinned;
    detection.hThread.reset(CreateThread(nullptr, 0, DetectionThread, job.get(), 0, nullptr));
    if (!detection.hThread) {
        FreeLibrary(hPinned);
        return false;
    }
    job.release();  // the thread's now
    return true;
}

// What WinHTTP's configuration says, without the network.
ProxySources ReadSources() {
    ProxySources sources;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG account = {};
    if (WinHttpGetIEProxyConfigForCurrentUser(&account)) {
        GlobalText autoConfigUrl{account.lpszAutoConfigUrl}, proxy{account.lpszProxy}, bypass{account.lpszProxyBypass};
        sources.sAutoConfigUrl = autoConfigUrl.Cut(255);
        sources.sAccountProxy = proxy.Cut(ProxyChars);
        sources.sAccountBypass = bypass.Cut(ProxyChars);
        sources.bAccountNamesProxy = !sources.sAccountProxy.empty();
        sources.bDetectionWanted = account.fAutoDetect || autoConfigUrl.psz != nullptr;
    } else {
        // Nothing to go by: ask the network, as WinHTTP's own default does.
        sources.bDetectionWanted = true;
    }
    WINHTTP_PROXY_INFO machine = {};
    if (WinHttpGetDefaultProxyConfiguration(&machine)) {
        GlobalText proxy{machine.lpszProxy}, bypass{machine.lpszProxyBypass};
        sources.bMachineNamesProxy = machine.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && proxy.psz != nullptr;
        if (sources.bMachineNamesProxy) {
            sources.sMachineProxy = proxy.Cut(ProxyChars);
            sources.sMachineBypass = bypass.Cut(ProxyChars);
        }
    }
    return sources;
}

}  // namespace

ProxySettings ChooseProxy(const ProxySources& sources) {
    if (sources.bDetectionWanted && sources.bDetected) return {sources.sDetectedProxy, sources.sDetectedBypass};
    if (sources.bAccountNamesProxy) return {sources.sAccountProxy, sources.sAccountBypass};
    if (sources.bMachineNamesProxy) return {sources.sMachineProxy, sources.sMachineBypass};
    return {};
}

ProxySettings LookUpProxySettings(const wchar_t* pszURL) {
    const std::wstring sURL = pszURL != nullptr ? pszURL : L"";
    ProxySources sources = ReadSources();
    if (sources.bDetectionWanted) {
        Detection& detection = TheDetection();
        AcquireSRWLockExclusive(&detection.lock);
        StartDetectionLocked(detection, sURL, sources.sAutoConfigUrl);
        // The last outcome for this URL, also a stale one, until the new one is in.
        if (detection.bHaveOutcome) {
            sources.bDetected = detection.bDetected;
            sources.sDetectedProxy = detection.sProxy;
            sources.sDetectedBypass = detection.sBypass;
        }
        ReleaseSRWLockExclusive(&detection.lock);
    }
    return ChooseProxy(sources);
}

void PrepareProxySettings(const wchar_t* pszURL, DWORD dwWaitMs) {
    const std::wstring sURL = pszURL != nullptr ? pszURL : L"";
    const ProxySources sources = ReadSources();
    if (!sources.bDetectionWanted) return;
    Detection& detection = TheDetection();
    UniqueHandle hWait;
    AcquireSRWLockExclusive(&detection.lock);
    if (StartDetectionLocked(detection, sURL, sources.sAutoConfigUrl))
        DuplicateHandle(GetCurrentProcess(), detection.hThread.get(), GetCurrentProcess(), hWait.put(), SYNCHRONIZE,
                        FALSE, 0);
    ReleaseSRWLockExclusive(&detection.lock);
    if (hWait && dwWaitMs != 0 && WaitForSingleObject(hWait.get(), dwWaitMs) == WAIT_TIMEOUT)
        Trace(0, L"Func.PrepareProxySettings.Warning.Proxy detection took more than %u ms: requests go on without it",
              dwWaitMs);
}

void ForgetProxySettings() {
    Detection& detection = TheDetection();
    AcquireSRWLockExclusive(&detection.lock);
    detection.bStale = true;
    ReleaseSRWLockExclusive(&detection.lock);
}
