// Another program run from a test, as a command line, and waited for.
#pragma once

#include <windows.h>

#include <string>

// Its exit code, or -1 when it could not be started or did not end within the time.
int RunProcess(std::wstring commandLine, DWORD dwTimeoutMs);
