// Writes the provider's settings the way its configuration dialog does, for
// tests and the demo: plain values, and the account name and password as
// machine-bound protected values that the provider decrypts at start-up.
#pragma once

#include <windows.h>

#include <string>

// The standard provider's settings key under HKEY_LOCAL_MACHINE.
constexpr wchar_t kProviderSettingsKey[] = L"SOFTWARE\\ORVO\\TAPI";

// Creates the key under hRoot when needed and writes one value.
bool WriteRegistryValue(HKEY hRoot, const std::wstring& key, const wchar_t* pszName, DWORD dwType, const void* pData,
                        DWORD cbData);

bool WriteStringSetting(const std::wstring& key, const wchar_t* pszName, const std::wstring& text);
bool WriteDwordSetting(const std::wstring& key, const wchar_t* pszName, DWORD dwValue);
bool WriteProtectedSetting(const std::wstring& key, const wchar_t* pszName, const std::wstring& text);
// The text of a protected value, "(missing)" or "(undecryptable)" when there is none.
std::wstring ReadProtectedSetting(const std::wstring& key, const wchar_t* pszName);
