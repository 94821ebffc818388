// Forced into every native compile of the portable modules and their tests
// (-include). On Windows "%s" in a wide format takes a wide string and "l"
// on an integer means 32 bits; glibc reads "%s" as narrow and "l" as 64 bits.
// The modules format wide text with swprintf/vswprintf (through
// common/BoundedString.h), so both are renamed here to versions that read the
// format the Windows way. wchar_t stays 4 bytes: text is still held as one
// unit per wchar_t, with values up to 0xFFFF as on Windows.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cwchar>
// libstdc++'s <string> takes the address of std::vswprintf (to_wstring): it
// must be read before the names are redirected below.
#include <string>

int WindowsVswprintf(wchar_t* pszDest, size_t cchDest, const wchar_t* pszFormat, va_list args);
int WindowsSwprintf(wchar_t* pszDest, size_t cchDest, const wchar_t* pszFormat, ...);

#define vswprintf WindowsVswprintf
#define swprintf WindowsSwprintf
