#include "support/ChildProcess.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <map>

namespace {
constexpr wchar_t kRoleSwitch[] = L"--orvo-child-role=";
constexpr wchar_t kArgumentSwitch[] = L"--orvo-child-arg=";

std::map<std::wstring, ChildRole>& Roles() {
    static std::map<std::wstring, ChildRole> roles;
    return roles;
}

// Runs before any test: a child plays its role and ends the process there.
class ChildRoleEnvironment : public testing::Environment {
public:
    void SetUp() override {
        int argc = 0;
        wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
        std::wstring role;
        std::wstring argument;
        bool bChild = false;
        for (int i = 1; i < argc; ++i) {
            std::wstring arg = argv[i];
            if (arg.rfind(kRoleSwitch, 0) == 0) {
                role = arg.substr(wcslen(kRoleSwitch));
                bChild = true;
            } else if (arg.rfind(kArgumentSwitch, 0) == 0) {
                argument = arg.substr(wcslen(kArgumentSwitch));
            }
        }
        LocalFree(argv);
        if (!bChild) return;
        auto it = Roles().find(role);
        int nExitCode = it != Roles().end() ? it->second(argument) : 99;
        fflush(stdout);
        ExitProcess(static_cast<UINT>(nExitCode));
    }
};
}  // namespace

bool RegisterChildRole(const wchar_t* pszName, ChildRole role) {
    if (Roles().empty()) testing::AddGlobalTestEnvironment(new ChildRoleEnvironment);
    Roles()[pszName] = role;
    return true;
}

int RunChildRole(const wchar_t* pszName, const std::wstring& argument, DWORD dwTimeoutMs) {
    wchar_t szExe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, szExe, MAX_PATH - 1);
    std::wstring commandLine = L"\"" + std::wstring(szExe) + L"\" \"" + kRoleSwitch + pszName + L"\" \"" +
                               kArgumentSwitch + argument + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
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
