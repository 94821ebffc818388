#include "support/ProviderFolders.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdlib>

std::wstring CommonAppData() {
    wchar_t szFolder[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_DEFAULT, szFolder);
    return szFolder;
}

std::wstring OrvoDataFolder() { return CommonAppData() + L"\\ORVO"; }

std::wstring OrvoLogFolder() { return OrvoDataFolder() + L"\\ORVO TAPI"; }

std::wstring ExeBaseName() {
    wchar_t szExe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, szExe, MAX_PATH);
    wchar_t szName[MAX_PATH] = {};
    _wsplitpath_s(szExe, nullptr, 0, nullptr, 0, szName, MAX_PATH, nullptr, 0);
    return szName;
}
