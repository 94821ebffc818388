// Owner of a WinHTTP handle (session, connection, request), closed with
// WinHttpCloseHandle. It lives with the HTTP client rather than in common/,
// so that only the layer that speaks HTTP knows WinHTTP.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "common/UniqueResource.h"

struct InternetHandleTraits {
    static HINTERNET Empty() { return nullptr; }
    static bool IsEmpty(HINTERNET h) { return h == nullptr; }
    static void Release(HINTERNET h) { WinHttpCloseHandle(h); }
};

using UniqueInternetHandle = UniqueResource<HINTERNET, InternetHandleTraits>;
