// The few Windows scalar types that platform-free modules (JSON, SSE framing,
// number formatting, masking, Base64, call-number bookkeeping) use. On Windows
// they come from the SDK; elsewhere (native sanitizer and fuzzer builds) they
// are defined here with the same widths.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdint>
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int BOOL;
typedef wchar_t WCHAR;
typedef uint16_t WORD;
typedef uint8_t BYTE;
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
#endif
