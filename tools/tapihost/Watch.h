// tapihost's interactive mode: the provider's lines opened and every call
// printed as it changes, with commands read from standard input.
#pragma once

#include <string>

// Runs until "quit" or the end of the input; the process's exit code.
int RunWatch(const std::wstring& providerPath);
// Prints one line (UTF-8, flushed) to standard output.
void Print(const wchar_t* pszFormat, ...);
