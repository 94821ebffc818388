// A test executable can play a second role as a child process of itself, for
// tests about what two processes see of each other.
//   static const bool kRegistered = RegisterChildRole(L"peer", PeerMain);
//   EXPECT_EQ(0, RunChildRoleAs(copyOfThisExe, L"peer", L"argument", 30000));
#pragma once

#include <windows.h>

#include <string>

using ChildRole = int (*)(const std::wstring& argument);

// Registers a role; call during static initialisation. Returns true.
bool RegisterChildRole(const wchar_t* pszName, ChildRole role);
// Starts the copy of this executable at exePath (under another name, say) in
// the role and waits for it; its exit code, or -1 when it could not be
// started or did not end within the time.
int RunChildRoleAs(const std::wstring& exePath, const wchar_t* pszName, const std::wstring& argument,
                   DWORD dwTimeoutMs);
// Runs a command line and waits for it: its exit code, or -1 as above.
int RunProcess(std::wstring commandLine, DWORD dwTimeoutMs);
