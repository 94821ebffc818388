#include "config/DiagnosticReports.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cwchar>

#include "common/BoundedString.h"
#include "common/UniqueHandle.h"
#include "config/CRegTool.h"
#include "config/CVersionTool.h"
#include "log/Trace.h"

time_t g_tLastTAPIAppsReport = 0;

namespace {
constexpr wchar_t kProvidersKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Providers";
constexpr DWORD kProcessSlots = 512;
constexpr DWORD kModuleSlots = 512;

// Major, minor and service-pack major all at least the given ones.
int IsWindowsVersionOrGreater(WORD wMajor, WORD wMinor, WORD wServicePackMajor) {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    info.dwMajorVersion = wMajor;
    info.dwMinorVersion = wMinor;
    info.wServicePackMajor = wServicePackMajor;
    DWORDLONG mask = VerSetConditionMask(
        VerSetConditionMask(VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL), VER_MINORVERSION,
                            VER_GREATER_EQUAL),
        VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, mask) ? 1 : 0;
}

int IsWindowsServer() {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    info.wProductType = VER_NT_WORKSTATION;
    DWORDLONG mask = VerSetConditionMask(0, VER_PRODUCT_TYPE, VER_EQUAL);
    return VerifyVersionInfoW(&info, VER_PRODUCT_TYPE, mask) ? 0 : 1;
}

void TraceMachine(const CFuncTrace& trace) {
    wchar_t szText[260] = {};
    DWORD cchText = 260;
    if (!GetComputerNameW(szText, &cchText)) szText[0] = L'\0';
    trace.Info(L"Computer Name %s", szText);
    cchText = 260;
    if (!GetUserNameW(szText, &cchText)) szText[0] = L'\0';
    trace.Info(L"User Name %s", szText);
    wchar_t szLanguage[7] = {};
    GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTLANGUAGE, szLanguage, 7);
    trace.Info(L"Language %s", szLanguage);
    szText[0] = L'\0';
    GetWindowsDirectoryW(szText, 260);
    trace.Info(L"WinDir %s", szText);
    szText[0] = L'\0';
    GetSystemDirectoryW(szText, 260);
    trace.Info(L"SystemDir %s", szText);

    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    trace.Info(L"ProcessorArchitecture 0x%04X", info.wProcessorArchitecture);
    trace.Info(L"ActiveProcessorMask 0x%08X", static_cast<DWORD>(info.dwActiveProcessorMask));
    trace.Info(L"NumberOfProcessors 0x%08X", info.dwNumberOfProcessors);
    trace.Info(L"ProcessorType 0x%08X", info.dwProcessorType);
    trace.Info(L"ProcessorLevel 0x%04X", info.wProcessorLevel);
    trace.Info(L"ProcessorRevision 0x%04X", info.wProcessorRevision);
}

void TraceWindowsVersion(const CFuncTrace& trace) {
    trace.Info(L"IsWindowsXPOrGreater  %d", IsWindowsVersionOrGreater(5, 1, 0));
    trace.Info(L"IsWindowsVistaOrGreater %d", IsWindowsVersionOrGreater(6, 0, 0));
    trace.Info(L"IsWindows7OrGreater %d", IsWindowsVersionOrGreater(6, 1, 0));
    trace.Info(L"IsWindows8OrGreater %d", IsWindowsVersionOrGreater(6, 2, 0));
    trace.Info(L"IsWindowsServer %d", IsWindowsServer());
    trace.Info(L"IsTerminalServer %d", IsTerminalServer() ? 1 : 0);
}

// One block per provider whose file is in the system folder.
void TraceProvider(const CFuncTrace& trace, const wchar_t* pszFileName) {
    wchar_t szPath[520] = {};
    GetSystemDirectoryW(szPath, 260);
    StrAppend(szPath, L"\\");
    StrAppend(szPath, pszFileName);
    if (GetFileAttributesW(szPath) == INVALID_FILE_ATTRIBUTES) return;
    CVersionTool version(szPath);
    trace.Info(L"FileName %s", pszFileName);
    trace.Info(L"FileVersion %s", version.m_szFileVersion);
    trace.Info(L"ProductVersion %s", version.m_szProductVersion);
    Trace(trace.Level(), L"");
}

void TraceProviders(const CFuncTrace& trace) {
    CRegTool providers;
    if (providers.OpenReadOnly(HKEY_LOCAL_MACHINE, kProvidersKey) != ERROR_SUCCESS) return;
    DWORD dwNumProviders = 0;
    providers.ReadDword(L"NumProviders", &dwNumProviders, 0);
    dwNumProviders %= 128;
    for (DWORD i = 0; i < dwNumProviders; ++i) {
        wchar_t szName[32];
        StrFormat(szName, L"ProviderFilename%d", static_cast<int>(i));
        wchar_t szFileName[260];
        providers.ReadString(szName, szFileName, 260, nullptr);
        if (szFileName[0] != L'\0') TraceProvider(trace, szFileName);
    }
    providers.Close();
}

bool ContainsAny(const wchar_t* pszText, std::initializer_list<const wchar_t*> parts) {
    for (const wchar_t* pszPart : parts)
        if (wcsstr(pszText, pszPart) != nullptr) return true;
    return false;
}

void UpperCase(wchar_t* pszText) { CharUpperBuffW(pszText, static_cast<DWORD>(wcslen(pszText))); }

// Matches of TAPI32.DLL in the process's module list of one kind
// (TH32CS_SNAPMODULE32: its 32-bit modules; TH32CS_SNAPMODULE: its 64-bit
// ones), once per match. A snapshot reads the list once, where asking for
// each module's name by its handle walks the list again for every module;
// each snapshot costs a walk through the other process's memory.
int CountTapiModules(DWORD dwProcessId, DWORD dwKind) {
    const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(dwKind, dwProcessId));
    if (!snapshot) return 0;
    MODULEENTRY32W module{};
    module.dwSize = sizeof(module);
    int nMatches = 0;
    DWORD dwSeen = 0;
    for (BOOL bMore = Module32FirstW(snapshot.get(), &module); bMore && dwSeen < kModuleSlots;
         bMore = Module32NextW(snapshot.get(), &module), ++dwSeen) {
        UpperCase(module.szExePath);
        if (wcsstr(module.szExePath, L"\\TAPI32.DLL") != nullptr) ++nMatches;
    }
    return nMatches;
}

void TraceTapiApp(const CFuncTrace& trace, DWORD dwProcessId) {
    const UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, dwProcessId));
    if (!process) return;
    const HANDLE hProcess = process.get();
    wchar_t szExe[260] = {};
    K32GetModuleFileNameExW(hProcess, nullptr, szExe, 260);
    UpperCase(szExe);
    // Windows' own programs and shell parts load TAPI32 without being TAPI applications.
    if (!ContainsAny(szExe, {L"C:\\WINDOWS\\SYSTEM32", L"\\SYSTEMAPPS\\", L"\\WINDOWSAPPS\\MICROSOFT.",
                             L"\\WINDOWS\\EXPLORER.EXE", L"\\ONEDRIVE.EXE"})) {
        // A 32-bit process loads the 32-bit TAPI32 only, a 64-bit one the
        // 64-bit one only: one list to read each.
        BOOL bWow64 = FALSE;
        if (IsWow64Process(hProcess, &bWow64) && bWow64) {
            for (int n = CountTapiModules(dwProcessId, TH32CS_SNAPMODULE32); n > 0; --n)
                trace.Info(L"32Bit app ProcID:%d %s", static_cast<int>(dwProcessId), szExe);
        } else {
            for (int n = CountTapiModules(dwProcessId, TH32CS_SNAPMODULE); n > 0; --n)
                trace.Info(L"64Bit app %s", szExe);
        }
    }
}
}  // namespace

bool ServiceExists(const wchar_t* pszServiceName) {
    SC_HANDLE hManager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (hManager == nullptr) return false;
    SC_HANDLE hService = OpenServiceW(hManager, pszServiceName, SERVICE_QUERY_CONFIG);
    if (hService != nullptr) CloseServiceHandle(hService);
    CloseServiceHandle(hManager);
    return hService != nullptr;
}

bool IsTerminalServer() { return ServiceExists(L"TermServLicensing"); }

void PrintSystemInfoFile() {
    CFuncTrace trace(0, L"PrintSystemInfoFile");
    trace.Info(L"System Information");
    TraceMachine(trace);
    TraceWindowsVersion(trace);
    TraceProviders(trace);
    trace.End();
}

void PrintTAPIApps(HANDLE hStop) {
    // Its findings are trace lines only: without them it would only cost time
    // (it opens every process of the machine).
    if (!TraceLog.IsEnabled(1)) return;
    CFuncTrace trace(1, L"PrintTAPIApps");
    time_t tNow = time(nullptr);
    if (tNow - g_tLastTAPIAppsReport < 2) {
        trace.Line(L"Abort");
        return;
    }
    g_tLastTAPIAppsReport = tNow;

    DWORD adwProcessIds[kProcessSlots] = {};
    DWORD cbNeeded = 0;
    if (!K32EnumProcesses(adwProcessIds, sizeof(adwProcessIds), &cbNeeded)) cbNeeded = 0;
    DWORD dwNumberOfIDs = cbNeeded / sizeof(DWORD);
    trace.Var(L"dwNumberOfIDs", L"%d", static_cast<int>(dwNumberOfIDs));
    for (DWORD i = 0; i < dwNumberOfIDs; ++i) {
        // A stopping provider does not wait for the rest of a long list.
        if (hStop != nullptr && WaitForSingleObject(hStop, 0) == WAIT_OBJECT_0) {
            trace.Line(L"Abort");
            return;
        }
        TraceTapiApp(trace, adwProcessIds[i]);
    }
    trace.End();
}
