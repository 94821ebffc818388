// Owner of memory from the process heap (HeapAlloc/HeapReAlloc on
// GetProcessHeap()), freed with HeapFree. Allocation failure is a null
// owner, not an exception.
#pragma once

#include <windows.h>

#include <cstddef>

#include "common/UniqueResource.h"

template <typename T>
struct HeapMemoryTraits {
    static T* Empty() { return nullptr; }
    static bool IsEmpty(T* p) { return p == nullptr; }
    static void Release(T* p) { HeapFree(GetProcessHeap(), 0, p); }
};

template <typename T>
using UniqueHeapMemory = UniqueResource<T*, HeapMemoryTraits<T>>;

// cb zeroed bytes of the process heap; empty when there is no memory.
template <typename T>
UniqueHeapMemory<T> AllocateZeroedHeap(size_t cb) {
    return UniqueHeapMemory<T>(static_cast<T*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, cb)));
}
