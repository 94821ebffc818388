// Owner of a mapped view of a section, unmapped with UnmapViewOfFile: a view
// left mapped outlives the library that mapped it, one per load.
#pragma once

#include <windows.h>

#include "common/UniqueResource.h"

struct MappedViewTraits {
    static void* Empty() { return nullptr; }
    static bool IsEmpty(void* pView) { return pView == nullptr; }
    static void Release(void* pView) { UnmapViewOfFile(pView); }
};

using UniqueMappedView = UniqueResource<void*, MappedViewTraits>;
