#include "support/RegistryFixture.h"

#include "tools/tapihost/ProviderSetup.h"

namespace {
CRegistrySnapshot::Tree SaveTree(HKEY hKey) {
    CRegistrySnapshot::Tree tree;
    for (DWORD i = 0;; ++i) {
        wchar_t szName[16384];
        DWORD cchName = 16384;
        DWORD dwType = 0;
        DWORD cbData = 0;
        if (RegEnumValueW(hKey, i, szName, &cchName, nullptr, &dwType, nullptr, &cbData) != ERROR_SUCCESS) break;
        CRegistrySnapshot::Value value{szName, dwType, std::vector<BYTE>(cbData)};
        cchName = 16384;
        RegEnumValueW(hKey, i, szName, &cchName, nullptr, &dwType, value.data.data(), &cbData);
        tree.values.push_back(std::move(value));
    }
    for (DWORD i = 0;; ++i) {
        wchar_t szName[256];
        DWORD cchName = 256;
        if (RegEnumKeyExW(hKey, i, szName, &cchName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        HKEY hSub = nullptr;
        if (RegOpenKeyExW(hKey, szName, 0, KEY_READ, &hSub) == ERROR_SUCCESS) {
            tree.subkeys[szName] = SaveTree(hSub);
            RegCloseKey(hSub);
        }
    }
    return tree;
}

void RestoreTree(HKEY hKey, const CRegistrySnapshot::Tree& tree) {
    for (const CRegistrySnapshot::Value& value : tree.values)
        RegSetValueExW(hKey, value.name.c_str(), 0, value.dwType, value.data.data(),
                       static_cast<DWORD>(value.data.size()));
    for (const auto& [name, subtree] : tree.subkeys) {
        HKEY hSub = nullptr;
        if (RegCreateKeyExW(hKey, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hSub, nullptr) ==
            ERROR_SUCCESS) {
            RestoreTree(hSub, subtree);
            RegCloseKey(hSub);
        }
    }
}

}  // namespace

CRegistrySnapshot::CRegistrySnapshot(HKEY hRoot, std::wstring path)
    : m_hRoot(hRoot), m_path(std::move(path)), m_bExisted(false) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(m_hRoot, m_path.c_str(), 0, KEY_READ, &hKey) == ERROR_SUCCESS) {
        m_bExisted = true;
        m_tree = SaveTree(hKey);
        RegCloseKey(hKey);
    }
    RegDeleteTreeW(m_hRoot, m_path.c_str());
    RegDeleteKeyW(m_hRoot, m_path.c_str());
}

CRegistrySnapshot::~CRegistrySnapshot() {
    RegDeleteTreeW(m_hRoot, m_path.c_str());
    RegDeleteKeyW(m_hRoot, m_path.c_str());
    if (!m_bExisted) return;
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(m_hRoot, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey, nullptr) ==
        ERROR_SUCCESS) {
        RestoreTree(hKey, m_tree);
        RegCloseKey(hKey);
    }
}

bool RegKeyExists(HKEY hRoot, const std::wstring& path) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(hRoot, path.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS) return false;
    RegCloseKey(hKey);
    return true;
}

bool SetRegString(HKEY hRoot, const std::wstring& path, const wchar_t* pszName, const std::wstring& text) {
    return WriteRegistryValue(hRoot, path, pszName, REG_SZ, text.c_str(),
                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

bool SetRegDword(HKEY hRoot, const std::wstring& path, const wchar_t* pszName, DWORD dwValue) {
    return WriteRegistryValue(hRoot, path, pszName, REG_DWORD, &dwValue, sizeof(dwValue));
}

bool SetRegBinary(HKEY hRoot, const std::wstring& path, const wchar_t* pszName, const std::vector<BYTE>& data) {
    return WriteRegistryValue(hRoot, path, pszName, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
}

bool ReadRegValue(HKEY hRoot, const std::wstring& path, const wchar_t* pszName, DWORD* pdwType,
                  std::vector<BYTE>* pData) {
    DWORD cbData = 0;
    if (RegGetValueW(hRoot, path.c_str(), pszName, RRF_RT_ANY | RRF_NOEXPAND, pdwType, nullptr, &cbData) !=
        ERROR_SUCCESS)
        return false;
    pData->assign(cbData, 0);
    return RegGetValueW(hRoot, path.c_str(), pszName, RRF_RT_ANY | RRF_NOEXPAND, pdwType, pData->data(), &cbData) ==
           ERROR_SUCCESS;
}

bool ReadRegString(HKEY hRoot, const std::wstring& path, const wchar_t* pszName, std::wstring* pText) {
    DWORD dwType = 0;
    std::vector<BYTE> data;
    if (!ReadRegValue(hRoot, path, pszName, &dwType, &data) || dwType != REG_SZ) return false;
    pText->assign(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    while (!pText->empty() && pText->back() == L'\0') pText->pop_back();
    return true;
}

bool ReadRegDword(HKEY hRoot, const std::wstring& path, const wchar_t* pszName, DWORD* pdwValue) {
    DWORD dwType = 0;
    std::vector<BYTE> data;
    if (!ReadRegValue(hRoot, path, pszName, &dwType, &data) || dwType != REG_DWORD || data.size() != 4) return false;
    *pdwValue = *reinterpret_cast<const DWORD*>(data.data());
    return true;
}

COfflineProviderSettings::COfflineProviderSettings() : m_snapshot(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ORVO\\TAPI") {
    SetRegString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ORVO\\TAPI", L"ApiBaseUrl", L"http://127.0.0.1:9/v1");
}
