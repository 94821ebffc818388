#include "support/ChildProcess.h"

int RunProcess(std::wstring commandLine, DWORD dwTimeoutMs) {
    STARTUPINFOW startup{sizeof(startup)};
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    DWORD dwExitCode = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, dwTimeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &dwExitCode);
    else
        TerminateProcess(process.hProcess, 98);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(dwExitCode);
}
