// The provider's own threads in a test process: those whose start address
// lies in the provider library's image. The image's range is kept, so that
// threads can still be counted after the library has been unloaded.
#pragma once

#include <windows.h>

struct ModuleRange {
    ULONG_PTR begin = 0;
    ULONG_PTR end = 0;
};

ModuleRange RangeOf(HMODULE hModule);
// Threads of this process that started in the range.
DWORD ThreadsStartedIn(const ModuleRange& range);
// The count once it is dwExpected, or after a generous while: a thread that
// has done its work takes a moment to be gone.
DWORD SettledThreadsStartedIn(const ModuleRange& range, DWORD dwExpected);
