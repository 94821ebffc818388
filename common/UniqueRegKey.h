// Owner of an open registry key, closed with RegCloseKey.
#pragma once

#include <windows.h>

#include "common/UniqueResource.h"

struct RegKeyTraits {
    static HKEY Empty() { return nullptr; }
    static bool IsEmpty(HKEY hKey) { return hKey == nullptr; }
    static void Release(HKEY hKey) { RegCloseKey(hKey); }
};

using UniqueRegKey = UniqueResource<HKEY, RegKeyTraits>;
