#include "log/ExeName.h"

#include <windows.h>

#include <cstdlib>

const wchar_t* GetExeName() {
    static wchar_t szExeName[_MAX_FNAME] = {};
    if (szExeName[0] == L'\0') {
        wchar_t szPath[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, szPath, MAX_PATH - 1);
        _wsplitpath_s(szPath, nullptr, 0, nullptr, 0, szExeName, _MAX_FNAME, nullptr, 0);
    }
    return szExeName;
}
