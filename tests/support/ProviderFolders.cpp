#include "support/ProviderFolders.h"

#include <windows.h>
#include <shlobj.h>

#include "log/ExeName.h"

std::wstring OrvoDataFolder() {
    wchar_t szFolder[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_DEFAULT, szFolder);
    return std::wstring(szFolder) + L"\\ORVO";
}

std::wstring OrvoLogFolder() { return OrvoDataFolder() + L"\\ORVO TAPI"; }

std::wstring ExeBaseName() { return GetExeName(); }
