#include "support/ProviderThreads.h"

#include <tlhelp32.h>

ModuleRange RangeOf(HMODULE hModule) {
    ModuleRange range;
    if (hModule == nullptr) return range;
    const auto* pDos = reinterpret_cast<const IMAGE_DOS_HEADER*>(hModule);
    const auto* pNt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const BYTE*>(hModule) + pDos->e_lfanew);
    range.begin = reinterpret_cast<ULONG_PTR>(hModule);
    range.end = range.begin + pNt->OptionalHeader.SizeOfImage;
    return range;
}

DWORD ThreadsStartedIn(const ModuleRange& range) {
    using QueryThreadFn = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
    constexpr int kThreadQuerySetWin32StartAddress = 9;
    const auto query = reinterpret_cast<QueryThreadFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread")));
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {sizeof(entry)};
    DWORD dwCount = 0;
    for (BOOL bMore = Thread32First(hSnapshot, &entry); bMore; bMore = Thread32Next(hSnapshot, &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId()) continue;
        HANDLE hThread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
        if (hThread == nullptr) continue;
        ULONG_PTR start = 0;
        if (query(hThread, kThreadQuerySetWin32StartAddress, &start, sizeof(start), nullptr) == 0 &&
            start >= range.begin && start < range.end)
            ++dwCount;
        CloseHandle(hThread);
    }
    CloseHandle(hSnapshot);
    return dwCount;
}

DWORD SettledThreadsStartedIn(const ModuleRange& range, DWORD dwExpected) {
    DWORD dwCount = ThreadsStartedIn(range);
    for (int nTry = 0; nTry < 200 && dwCount != dwExpected; ++nTry) {
        Sleep(10);
        dwCount = ThreadsStartedIn(range);
    }
    return dwCount;
}
