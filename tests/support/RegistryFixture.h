// Registry helpers for tests that set up the prefix's registry: a snapshot
// that clears a key for the test and puts it back afterwards, and plain
// readers and writers of single values.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

// Saves the key's whole tree, deletes it, and restores the saved tree on
// destruction (or leaves it deleted when it did not exist).
class CRegistrySnapshot {
public:
    CRegistrySnapshot(HKEY hRoot, std::wstring path);
    ~CRegistrySnapshot();
    CRegistrySnapshot(const CRegistrySnapshot&) = delete;
    CRegistrySnapshot& operator=(const CRegistrySnapshot&) = delete;

    struct Value {
        std::wstring name;
        DWORD dwType;
        std::vector<BYTE> data;
    };
    struct Tree {
        std::vector<Value> values;
        std::map<std::wstring, Tree> subkeys;
    };

private:
    HKEY m_hRoot;
    std::wstring m_path;
    bool m_bExisted;
    Tree m_tree;
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

// The standard provider's settings for the length of a test: cleared, and the
// PBX address pointed at a closed local port, so that the provider's login
// fails at once instead of reaching out to the network.
class COfflineProviderSettings {
public:
    COfflineProviderSettings();

private:
    CRegistrySnapshot m_snapshot;
};
