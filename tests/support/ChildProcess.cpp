#include "support/ChildProcess.h"

#include <gtest/gtest.h>

#include <map>

#include "support/TestFiles.h"

namespace {
// A child learns its role and argument from its environment.
constexpr wchar_t kRoleVariable[] = L"ORVO_CHILD_ROLE";
constexpr wchar_t kArgumentVariable[] = L"ORVO_CHILD_ARG";

std::map<std::wstring, ChildRole>& Roles() {
    static std::map<std::wstring, ChildRole> roles;
    return roles;
}

// Runs before any test: a child plays its role and ends the process there.
class ChildRoleEnvironment : public testing::Environment {
public:
    void SetUp() override {
        const std::wstring role = GetEnv(kRoleVariable);
        if (role.empty()) return;
        auto it = Roles().find(role);
        int nExitCode = it != Roles().end() ? it->second(GetEnv(kArgumentVariable)) : 99;
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

int RunChildRoleAs(const std::wstring& exePath, const wchar_t* pszName, const std::wstring& argument,
                   DWORD dwTimeoutMs) {
    SetEnvironmentVariableW(kRoleVariable, pszName);
    SetEnvironmentVariableW(kArgumentVariable, argument.c_str());
    int nExitCode = RunProcess(L"\"" + exePath + L"\"", dwTimeoutMs);
    SetEnvironmentVariableW(kRoleVariable, nullptr);
    SetEnvironmentVariableW(kArgumentVariable, nullptr);
    return nExitCode;
}

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
