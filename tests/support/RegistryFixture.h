// Registry helpers for tests that set up the prefix's registry: a snapshot
// that clears a key for the test and puts it back afterwards, and plain
// readers and writers of single values.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

// Saves the key's whole tree (a copy below HKCU), deletes it, and restores
// the saved tree on destruction (or leaves it deleted when it did not exist).
class CRegistrySnapshot {
public:
    CRegistrySnapshot(HKEY hRoot, std::wstring path);
    ~CRegistrySnapshot();
    CRegistrySnapshot(const CRegistrySnapshot&) = delete;
    CRegistrySnapshot& operator=(const CRegistrySnapshot&) = delete;

private:
    HKEY m_hRoot;
    std::wstring m_path;
    std::wstring m_copy;  // empty when the key did not exist
};

// Makes an existing key readable, and writable by nobody, as HKLM is for a
// user without administrator rights; puts its DACL back on destruction. With
// everyone 0 nobody may open it, as a user may not open the credentials key.
class CReadOnlyKey {
public:
    CReadOnlyKey(HKEY hRoot, const std::wstring& path, ACCESS_MASK everyone = KEY_READ);
    ~CReadOnlyKey();
    CReadOnlyKey(const CReadOnlyKey&) = delete;
    CReadOnlyKey& operator=(const CReadOnlyKey&) = delete;
    bool Applied() const { return m_bApplied; }

private:
    HKEY m_hKey = nullptr;
    std::vector<BYTE> m_original;
    bool m_bApplied = false;
};

bool RegKeyExists(HKEY hRoot, const std::wstring& path);
bool SetRegString(HKEY hRoot, const std::wstring& path, const wchar_t* pszName, const std::wstring& text);
bool SetRegDword(HKEY hRoot, const std::wstring& path, const wchar_t* pszName, DWORD dwValue);
bool SetRegBinary(HKEY hRoot, const std::wstring& path, const wchar_t* pszName, const std::vector<BYTE>& data);
// Type and bytes of a value; false when it cannot be read.
bool ReadRegValue(HKEY hRoot, const std::wstring& path, const wchar_t* pszName, DWORD* pdwType,
                  std::vector<BYTE>* pData);
// A REG_SZ value's text (without its terminating zero); false when missing or of another type.
bool ReadRegString(HKEY hRoot, const std::wstring& path, const wchar_t* pszName, std::wstring* pText);
bool ReadRegDword(HKEY hRoot, const std::wstring& path, const wchar_t* pszName, DWORD* pdwValue);

// TAPI's provider list as the TAPI32 stand-in keeps it: file names and
// permanent ids in order; NextProviderID is written unless it is 0.
using ProviderList = std::vector<std::pair<std::wstring, DWORD>>;
bool SetProviderList(const ProviderList& providers, DWORD dwNextID = 0);
ProviderList ReadProviderList();

// The provider's settings (the standard provider's unless the key names a
// copy's) for the length of a test: cleared, and the PBX address pointed at a
// closed local port, so that the provider's login fails at once instead of
// reaching out to the network.
class COfflineProviderSettings {
public:
    explicit COfflineProviderSettings(const std::wstring& key = L"SOFTWARE\\ORVO\\TAPI");

private:
    CRegistrySnapshot m_snapshot;
};
