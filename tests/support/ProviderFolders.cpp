#include "support/ProviderFolders.h"

#include <windows.h>
#include <shlobj.h>

#include "log/ExeName.h"

#include "support/TestFiles.h"

namespace {
// The part of the loaded file's name after "ORVOTSP_": empty for the built provider.
std::wstring CopyName() {
    wchar_t szName[MAX_PATH] = {};
    const std::wstring path = GetEnv(L"ORVO_TSP_PATH");
    _wsplitpath_s(path.c_str(), nullptr, 0, nullptr, 0, szName, MAX_PATH, nullptr, 0);
    const std::wstring name = szName;
    return name.rfind(L"ORVOTSP_", 0) == 0 ? name.substr(8) : L"";
}
}  // namespace

std::wstring OrvoDataFolder() {
    wchar_t szFolder[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_DEFAULT, szFolder);
    return std::wstring(szFolder) + L"\\ORVO";
}

std::wstring OrvoLogFolder() {
    const std::wstring copy = CopyName();
    return OrvoDataFolder() + L"\\" + (copy.empty() ? L"ORVO TAPI" : copy);
}

const wchar_t* TestedProviderKey() {
    static const std::wstring key = CopyName().empty() ? L"SOFTWARE\\ORVO\\TAPI" : L"SOFTWARE\\ORVO\\" + CopyName();
    return key.c_str();
}

std::wstring TestedProviderSection() {
    const std::wstring copy = CopyName();
    return L"Global\\SharedMemORVOAPITSPORVOTSP" + (copy.empty() ? L"" : L"_" + copy);
}

std::wstring ExeBaseName() { return GetExeName(); }
