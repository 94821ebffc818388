// Registry accessor for one open key at a time: the manager's settings key,
// the dialing locations, the telephony providers list.
#pragma once

#include <windows.h>

#include "common/UniqueRegKey.h"

class CRegTool {
public:
    CRegTool() = default;
    virtual ~CRegTool();
    CRegTool(const CRegTool&) = delete;
    CRegTool& operator=(const CRegTool&) = delete;

    // Opens with full access, else creates, else opens read-only. Windows error code.
    LONG Open(HKEY hRoot, const wchar_t* pszSubKey);
    // Opens with full access, else read-only; never creates.
    LONG OpenExisting(HKEY hRoot, const wchar_t* pszSubKey);
    // Opens for reading only: for keys that belong to Windows.
    LONG OpenReadOnly(HKEY hRoot, const wchar_t* pszSubKey);
    void Close();
    bool IsOpen() const { return static_cast<bool>(m_hKey); }

    // Whether the value exists, whatever its type and size.
    bool HasValue(const wchar_t* pszName) const;
    // 1 when the value was read; on any error the default is stored and 0 returned.
    int ReadDword(const wchar_t* pszName, DWORD* pdwValue, DWORD dwDefault);
    // Empties the buffer, reads a REG_SZ that fits with its terminating zero
    // into cchCapacity units (a longer one counts as missing); a missing or
    // empty value takes the default when one is given. 1 when a value was read.
    int ReadString(const wchar_t* pszName, wchar_t* pszBuffer, DWORD cchCapacity, const wchar_t* pszDefault);
    LONG WriteDword(const wchar_t* pszName, DWORD dwValue);
    LONG WriteInt(const wchar_t* pszName, int nValue);
    LONG WriteString(const wchar_t* pszName, const wchar_t* pszText);

    HKEY m_hRoot = nullptr;
    UniqueRegKey m_hKey;
    DWORD m_dwDisposition = 0;
    DWORD m_dwExtraAccess = 0;
};
