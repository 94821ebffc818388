#include "pbx/ExtensionDirectory.h"

DWORD IsExtensionOffline(const wchar_t* pszExtensionNumber) {
    const ExtensionInfo& entry = g_ExtensionMap[pszExtensionNumber != nullptr ? pszExtensionNumber : L""];
    return entry.presence == L"offline" || entry.presence == L"idle" ? 1 : 0;
}
