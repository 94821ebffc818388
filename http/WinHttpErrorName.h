// Readable names of WinHTTP and system error codes for traces and exchange files.
#pragma once

#include <windows.h>

#include <string>

// The WinHTTP constant's name without "ERROR_WINHTTP_" for the codes WinHTTP
// names, else the system's message text, cut at its first line end. A code of
// 0 stands for the thread's last error ("SUCCESS" when that is 0 too). The
// thread's last error is set to the code on return.
std::wstring WinHttpErrorName(DWORD dwCode);
