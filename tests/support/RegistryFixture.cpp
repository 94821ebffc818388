#include "support/RegistryFixture.h"

#include "config/ProviderList.h"
#include "tools/tapihost/ProviderSetup.h"

namespace {
const wchar_t kCopies[] = L"Software\\OrvoTestSnapshots";

// Copies the tree of one key into another, created as needed.
void CopyTree(HKEY hFromRoot, const std::wstring& from, HKEY hToRoot, const std::wstring& to) {
    HKEY hFrom = nullptr, hTo = nullptr;
    if (RegOpenKeyExW(hFromRoot, from.c_str(), 0, KEY_READ, &hFrom) == ERROR_SUCCESS &&
        RegCreateKeyExW(hToRoot, to.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hTo, nullptr) == ERROR_SUCCESS)
        RegCopyTreeW(hFrom, nullptr, hTo);
    if (hFrom != nullptr) RegCloseKey(hFrom);
    if (hTo != nullptr) RegCloseKey(hTo);
}

void DeleteTree(HKEY hRoot, const std::wstring& path) {
    RegDeleteTreeW(hRoot, path.c_str());
    RegDeleteKeyW(hRoot, path.c_str());
}
}  // namespace

CRegistrySnapshot::CRegistrySnapshot(HKEY hRoot, std::wstring path) : m_hRoot(hRoot), m_path(std::move(path)) {
    static LONG s_nCounter = 0;
    if (RegKeyExists(m_hRoot, m_path)) {
        m_copy = std::wstring(kCopies) + L"\\" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                 std::to_wstring(InterlockedIncrement(&s_nCounter));
        CopyTree(m_hRoot, m_path, HKEY_CURRENT_USER, m_copy);
    }
    DeleteTree(m_hRoot, m_path);
}

CRegistrySnapshot::~CRegistrySnapshot() {
    DeleteTree(m_hRoot, m_path);
    if (m_copy.empty()) return;
    CopyTree(HKEY_CURRENT_USER, m_copy, m_hRoot, m_path);
    DeleteTree(HKEY_CURRENT_USER, m_copy);
    RegDeleteKeyW(HKEY_CURRENT_USER, kCopies);  // only once it is empty
}

CReadOnlyKey::CReadOnlyKey(HKEY hRoot, const std::wstring& path, ACCESS_MASK everyone) {
    if (RegOpenKeyExW(hRoot, path.c_str(), 0, READ_CONTROL | WRITE_DAC, &m_hKey) != ERROR_SUCCESS) {
        m_hKey = nullptr;
        return;
    }
    DWORD cbOriginal = 0;
    RegGetKeySecurity(m_hKey, DACL_SECURITY_INFORMATION, nullptr, &cbOriginal);
    m_original.resize(cbOriginal);
    if (cbOriginal == 0 ||
        RegGetKeySecurity(m_hKey, DACL_SECURITY_INFORMATION, m_original.data(), &cbOriginal) != ERROR_SUCCESS)
        return;
    BYTE everyoneSid[SECURITY_MAX_SID_SIZE];
    DWORD cbSid = sizeof(everyoneSid);
    BYTE acl[64];
    SECURITY_DESCRIPTOR readOnly;
    m_bApplied = CreateWellKnownSid(WinWorldSid, nullptr, everyoneSid, &cbSid) &&
                 InitializeAcl(reinterpret_cast<PACL>(acl), sizeof(acl), ACL_REVISION) &&
                 (everyone == 0 || AddAccessAllowedAce(reinterpret_cast<PACL>(acl), ACL_REVISION, everyone, everyoneSid)) &&
                 InitializeSecurityDescriptor(&readOnly, SECURITY_DESCRIPTOR_REVISION) &&
                 SetSecurityDescriptorDacl(&readOnly, TRUE, reinterpret_cast<PACL>(acl), FALSE) &&
                 SetSecurityDescriptorControl(&readOnly, SE_DACL_PROTECTED, SE_DACL_PROTECTED) &&
                 RegSetKeySecurity(m_hKey, DACL_SECURITY_INFORMATION, &readOnly) == ERROR_SUCCESS;
}

CReadOnlyKey::~CReadOnlyKey() {
    if (m_bApplied) RegSetKeySecurity(m_hKey, DACL_SECURITY_INFORMATION, m_original.data());
    if (m_hKey != nullptr) RegCloseKey(m_hKey);
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
    const DWORD dwFlags = RRF_RT_ANY | RRF_NOEXPAND;
    if (RegGetValueW(hRoot, path.c_str(), pszName, dwFlags, pdwType, nullptr, &cbData) != ERROR_SUCCESS) return false;
    pData->assign(cbData, 0);
    return RegGetValueW(hRoot, path.c_str(), pszName, dwFlags, pdwType, pData->data(), &cbData) == ERROR_SUCCESS;
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
    DWORD cb = sizeof(DWORD);
    return RegGetValueW(hRoot, path.c_str(), pszName, RRF_RT_REG_DWORD, nullptr, pdwValue, &cb) == ERROR_SUCCESS;
}

bool SetProviderList(const ProviderList& providers, DWORD dwNextID) {
    bool bOk = SetRegDword(HKEY_LOCAL_MACHINE, TAPI_PROVIDERS_KEY, L"NumProviders", static_cast<DWORD>(providers.size()));
    if (dwNextID != 0) bOk &= SetRegDword(HKEY_LOCAL_MACHINE, TAPI_PROVIDERS_KEY, L"NextProviderID", dwNextID);
    for (size_t i = 0; i < providers.size(); ++i) {
        const std::wstring index = std::to_wstring(i);
        bOk &= SetRegString(HKEY_LOCAL_MACHINE, TAPI_PROVIDERS_KEY, (L"ProviderFilename" + index).c_str(),
                            providers[i].first);
        bOk &= SetRegDword(HKEY_LOCAL_MACHINE, TAPI_PROVIDERS_KEY, (L"ProviderID" + index).c_str(), providers[i].second);
    }
    return bOk;
}

ProviderList ReadProviderList() {
    DWORD dwCount = 0;
    ReadRegDword(HKEY_LOCAL_MACHINE, TAPI_PROVIDERS_KEY, L"NumProviders", &dwCount);
    ProviderList providers(dwCount);
    for (DWORD i = 0; i < dwCount; ++i) {
        const std::wstring index = std::to_wstring(i);
        ReadRegString(HKEY_LOCAL_MACHINE, TAPI_PROVIDERS_KEY, (L"ProviderFilename" + index).c_str(), &providers[i].first);
        ReadRegDword(HKEY_LOCAL_MACHINE, TAPI_PROVIDERS_KEY, (L"ProviderID" + index).c_str(), &providers[i].second);
    }
    return providers;
}

COfflineProviderSettings::COfflineProviderSettings(const std::wstring& key) : m_snapshot(HKEY_LOCAL_MACHINE, key) {
    SetRegString(HKEY_LOCAL_MACHINE, key, L"ApiBaseUrl", L"http://127.0.0.1:9/v1");
}
