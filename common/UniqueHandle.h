// Owners of kernel handles (events, threads, processes, tokens, sections,
// files), closed with CloseHandle. Windows has two spellings of "no handle":
// most creating functions return null, CreateFileW returns
// INVALID_HANDLE_VALUE. Both owners close neither; they differ only in what
// they hold when empty, so that each compares like the API it wraps.
#pragma once

#include <windows.h>

#include "common/UniqueResource.h"

struct KernelHandleTraits {
    static HANDLE Empty() { return nullptr; }
    static bool IsEmpty(HANDLE h) { return h == nullptr || h == INVALID_HANDLE_VALUE; }
    static void Release(HANDLE h) { CloseHandle(h); }
};

struct FileHandleTraits : KernelHandleTraits {
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
};

// Empty is null: CreateEventW, CreateThread, OpenProcess, OpenProcessToken, ...
using UniqueHandle = UniqueResource<HANDLE, KernelHandleTraits>;
// Empty is INVALID_HANDLE_VALUE: CreateFileW and what wraps it.
using UniqueFileHandle = UniqueResource<HANDLE, FileHandleTraits>;
