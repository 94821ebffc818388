// Owner of memory that an API hands out for the caller to free with LocalFree
// (security descriptors from GetSecurityInfo, CryptProtectData's output, ...).
#pragma once

#include <windows.h>

#include "common/UniqueResource.h"

template <typename T>
struct LocalMemoryTraits {
    static T* Empty() { return nullptr; }
    static bool IsEmpty(T* p) { return p == nullptr; }
    static void Release(T* p) { LocalFree(p); }
};

template <typename T>
using UniqueLocalMemory = UniqueResource<T*, LocalMemoryTraits<T>>;
