#include "tools/tapihost/ProviderSetup.h"

#include <wincrypt.h>

#include <vector>

bool WriteRegistryValue(HKEY hRoot, const std::wstring& key, const wchar_t* pszName, DWORD dwType, const void* pData,
                        DWORD cbData) {
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(hRoot, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr) != ERROR_SUCCESS)
        return false;
    LONG lResult = RegSetValueExW(hKey, pszName, 0, dwType, static_cast<const BYTE*>(pData), cbData);
    RegCloseKey(hKey);
    return lResult == ERROR_SUCCESS;
}

namespace {
bool WriteValue(const std::wstring& key, const wchar_t* pszName, DWORD dwType, const void* pData, DWORD cbData) {
    return WriteRegistryValue(HKEY_LOCAL_MACHINE, key, pszName, dwType, pData, cbData);
}
}  // namespace

bool WriteStringSetting(const std::wstring& key, const wchar_t* pszName, const std::wstring& text) {
    return WriteValue(key, pszName, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

bool WriteDwordSetting(const std::wstring& key, const wchar_t* pszName, DWORD dwValue) {
    return WriteValue(key, pszName, REG_DWORD, &dwValue, sizeof(dwValue));
}

bool WriteProtectedSetting(const std::wstring& key, const wchar_t* pszName, const std::wstring& text) {
    DATA_BLOB in = {static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)),
                    reinterpret_cast<BYTE*>(const_cast<wchar_t*>(text.c_str()))};
    DATA_BLOB out = {};
    if (!CryptProtectData(&in, L"TAPI Config", nullptr, nullptr, nullptr, CRYPTPROTECT_LOCAL_MACHINE, &out))
        return false;
    bool bWritten = WriteValue(key, pszName, REG_BINARY, out.pbData, out.cbData);
    LocalFree(out.pbData);
    return bWritten;
}

std::wstring ReadProtectedSetting(const std::wstring& key, const wchar_t* pszName) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS) return L"(missing)";
    DWORD dwType = 0;
    DWORD cbData = 0;
    std::vector<BYTE> blob;
    if (RegQueryValueExW(hKey, pszName, nullptr, &dwType, nullptr, &cbData) == ERROR_SUCCESS) {
        blob.resize(cbData);
        if (RegQueryValueExW(hKey, pszName, nullptr, &dwType, blob.data(), &cbData) != ERROR_SUCCESS) blob.clear();
    }
    RegCloseKey(hKey);
    if (blob.empty() || dwType != REG_BINARY) return L"(missing)";
    DATA_BLOB in = {static_cast<DWORD>(blob.size()), blob.data()};
    DATA_BLOB out = {};
    if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, 0, &out)) return L"(undecryptable)";
    std::wstring text(reinterpret_cast<const wchar_t*>(out.pbData), out.cbData / sizeof(wchar_t));
    LocalFree(out.pbData);
    return text.substr(0, text.find(L'\0'));
}
