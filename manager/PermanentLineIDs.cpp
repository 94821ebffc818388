// Permanent line IDs that belong to extensions: an application that saved
// its line choice by permanent ID finds the same extension after a restart
// or a re-initialisation, whatever place the directory now gives it. Each
// extension's number is remembered under the settings key, in the subkey
// "PermanentLineIDs" (value name: the extension's uuid, REG_DWORD: the low 16
// bits of its permanent line ID; the high 16 bits are the provider's
// permanent ID). Entries are never deleted, so a number, once given, never
// goes to another extension.
#include <mutex>
#include <set>
#include <string>

#include "common/BoundedString.h"
#include "common/UniqueRegKey.h"
#include "config/ProviderIdentity.h"
#include "log/Trace.h"
#include "manager/CGenericTSPIManager.h"
#include "pbx/ExtensionDirectory.h"

namespace {
constexpr const wchar_t* kPermanentLineIDsKey = L"PermanentLineIDs";
constexpr DWORD kMaxLineNumber = 0xFFFF;

// The value name of an extension: its uuid; the PBX's number where it gives no uuid.
std::wstring ValueName(const ExtensionInfo& extension) {
    return !extension.uuid.empty() ? extension.uuid : L"extension " + extension.extension_number;
}

// Every number given so far.
std::set<DWORD> NumbersGiven(HKEY hKey) {
    std::set<DWORD> numbers;
    for (DWORD dwIndex = 0;; ++dwIndex) {
        wchar_t szName[256];
        DWORD cchName = 256;
        DWORD dwType = 0;
        DWORD dwValue = 0;
        DWORD cbValue = sizeof(dwValue);
        const LONG lResult = RegEnumValueW(hKey, dwIndex, szName, &cchName, nullptr, &dwType,
                                           reinterpret_cast<BYTE*>(&dwValue), &cbValue);
        if (lResult == ERROR_NO_MORE_ITEMS) break;
        if (lResult == ERROR_SUCCESS && dwType == REG_DWORD && cbValue == sizeof(dwValue)) numbers.insert(dwValue);
    }
    return numbers;
}

// The numbers given so far, read from the key once per provider start and
// kept up to date here: reading the key again for every new line would make a
// start with thousands of extensions quadratic.
std::mutex g_GivenLock;
bool g_bGivenRead = false;
std::set<DWORD> g_Given;

std::set<DWORD>& GivenNumbers(HKEY hKey) {
    if (!g_bGivenRead) {
        g_Given = NumbersGiven(hKey);
        g_bGivenRead = true;
    }
    return g_Given;
}

// A number no extension ever had: the preferred one when it is free (a line
// keeps the ID it had before IDs were remembered), else the next above all given.
DWORD NewNumber(const std::set<DWORD>& given, DWORD dwPreferred) {
    if (dwPreferred != 0 && dwPreferred <= kMaxLineNumber && given.count(dwPreferred) == 0) return dwPreferred;
    const DWORD dwNext = given.empty() ? 1 : *given.rbegin() + 1;
    if (dwNext <= kMaxLineNumber) return dwNext;
    for (DWORD dwNumber = 1; dwNumber <= kMaxLineNumber; ++dwNumber)
        if (given.count(dwNumber) == 0) return dwNumber;
    return 0;
}
}  // namespace

DWORD CGenericTSPIManager::GetPermanentLineNumber(DWORD dwDeviceIndex, DWORD dwPreferred) {
    CFuncTrace trace(3, L"CGenericTSPIManager::GetPermanentLineNumber");
    trace.Param(L"dwDeviceIndex", L"%u", dwDeviceIndex);
    if (dwDeviceIndex >= g_Extensions.size() || g_szLocalRegPath[0] == L'\0') return trace.End(0);
    const std::wstring name = ValueName(g_Extensions[dwDeviceIndex]);
    wchar_t szKey[300];
    StrFormat(szKey, L"%s\\%s", g_szLocalRegPath, kPermanentLineIDsKey);
    UniqueRegKey key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, szKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS) {
        trace.Warning(L"Key %s not opened", szKey);
        return trace.End(0);
    }
    const HKEY hKey = key.get();
    std::lock_guard<std::mutex> given(g_GivenLock);
    DWORD dwNumber = 0;
    DWORD dwType = 0;
    DWORD cbNumber = sizeof(dwNumber);
    const LONG lRead =
        RegQueryValueExW(hKey, name.c_str(), nullptr, &dwType, reinterpret_cast<BYTE*>(&dwNumber), &cbNumber);
    if (lRead != ERROR_SUCCESS || dwType != REG_DWORD || cbNumber != sizeof(dwNumber) || dwNumber == 0 ||
        dwNumber > kMaxLineNumber) {
        std::set<DWORD>& numbers = GivenNumbers(hKey);
        dwNumber = NewNumber(numbers, dwPreferred);
        if (dwNumber == 0 || RegSetValueExW(hKey, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwNumber),
                                            sizeof(dwNumber)) != ERROR_SUCCESS) {
            trace.Warning(L"No permanent line number remembered for %s", name.c_str());
            dwNumber = 0;
        } else {
            numbers.insert(dwNumber);
            trace.Info(L"Permanent line number %u given to %s", dwNumber, name.c_str());
        }
    }
    return trace.End(dwNumber);
}

void ForgetGivenPermanentLineNumbers() {
    std::lock_guard<std::mutex> given(g_GivenLock);
    g_bGivenRead = false;
    g_Given.clear();
}
