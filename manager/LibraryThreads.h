// Threads that run this library's code after the call that started them has
// returned hold a reference to the library, so that an unload never takes the
// code from under them: the library goes when the last of them has ended. A
// thread ends only by itself, when asked; nothing of the provider kills one.
#pragma once

#include <windows.h>

// A suspended thread that holds a library reference; null when it could not
// be created. pdwThreadId may be null. The thread ends with ExitLibraryThread.
HANDLE CreateLibraryThread(LPTHREAD_START_ROUTINE pfnProc, void* pParam, DWORD* pdwThreadId);

// Releases the calling thread's library reference and ends the thread.
[[noreturn]] void ExitLibraryThread();
