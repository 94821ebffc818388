// The name and numbers a line record gets when it is built, from the
// extension at the same position of the directory.
#include <cwchar>

#include "common/BoundedString.h"
#include "config/ProviderSettings.h"
#include "manager/CGenericTSPIManager.h"
#include "pbx/ExtensionDirectory.h"

namespace {
// One buffer each: a result stays valid until the next call of the same operation.
wchar_t g_szLineName[128];
wchar_t g_szLineAddress[128];
wchar_t g_szLineDeviceNumber[128];

enum LineNameType { kNameNumber = 0, kNameUser = 1, kNameNumberAndUser = 2 };

const ExtensionInfo* ExtensionAt(DWORD dwDeviceIndex) {
    return dwDeviceIndex < g_Extensions.size() ? &g_Extensions[dwDeviceIndex] : nullptr;
}

const wchar_t* ExtensionNumber(wchar_t (&szBuffer)[128], DWORD dwDeviceIndex) {
    const ExtensionInfo* pExtension = ExtensionAt(dwDeviceIndex);
    StrCopy(szBuffer, pExtension != nullptr ? pExtension->extension_number.c_str() : L"");
    return szBuffer;
}
}  // namespace

const wchar_t* CGenericTSPIManager::GetFirstAddress(DWORD dwDeviceIndex) {
    return ExtensionNumber(g_szLineAddress, dwDeviceIndex);
}

const wchar_t* CGenericTSPIManager::GetFirstDeviceNumber(DWORD dwDeviceIndex) {
    return ExtensionNumber(g_szLineDeviceNumber, dwDeviceIndex);
}

// "ORVO <user> " followed by what LineFormat asks for: 1 the extension's name,
// 2 "<number>: <name>", anything else the number.
const wchar_t* CGenericTSPIManager::GetFirstName(DWORD dwDeviceIndex) {
    // Another process may be rewriting the shared texts: read bounded copies.
    wchar_t szFormat[16];
    wchar_t szUser[64];
    StrCopy(szFormat, g_pProviderSettings->LineFormat);
    StrCopy(szUser, g_pProviderSettings->Name);
    const int nType = static_cast<int>(wcstol(szFormat, nullptr, 10));
    g_szLineName[0] = L'\0';
    const ExtensionInfo* pExtension = ExtensionAt(dwDeviceIndex);
    if (pExtension == nullptr) return g_szLineName;

    const wchar_t* pszNumber = pExtension->extension_number.c_str();
    const wchar_t* pszName = pExtension->name.c_str();
    switch (nType) {
        case kNameUser:
            StrFormat(g_szLineName, L"ORVO %s %s", szUser, pszName);
            break;
        case kNameNumberAndUser:
            StrFormat(g_szLineName, L"ORVO %s %s: %s", szUser, pszNumber, pszName);
            break;
        default:
            StrFormat(g_szLineName, L"ORVO %s %s", szUser, pszNumber);
            break;
    }
    return g_szLineName;
}
