#include "config/CRegTool.h"

#include <cwchar>

#include "common/BoundedString.h"

CRegTool::~CRegTool() { Close(); }

LONG CRegTool::Open(HKEY hRoot, const wchar_t* pszSubKey) {
    Close();
    m_hRoot = hRoot;
    LONG lResult = RegOpenKeyExW(hRoot, pszSubKey, 0, KEY_ALL_ACCESS | m_dwExtraAccess, m_hKey.put());
    if (lResult != ERROR_SUCCESS)
        lResult = RegCreateKeyExW(hRoot, pszSubKey, 0, nullptr, 0, KEY_ALL_ACCESS | m_dwExtraAccess, nullptr,
                                  m_hKey.put(), &m_dwDisposition);
    if (lResult != ERROR_SUCCESS)
        lResult = RegOpenKeyExW(hRoot, pszSubKey, 0, KEY_READ | m_dwExtraAccess, m_hKey.put());
    if (lResult != ERROR_SUCCESS) (void)m_hKey.release();  // a failed open leaves nothing to close
    return lResult;
}

LONG CRegTool::OpenExisting(HKEY hRoot, const wchar_t* pszSubKey) {
    Close();
    m_hRoot = hRoot;
    LONG lResult = RegOpenKeyExW(hRoot, pszSubKey, 0, KEY_ALL_ACCESS | m_dwExtraAccess, m_hKey.put());
    if (lResult != ERROR_SUCCESS)
        lResult = RegOpenKeyExW(hRoot, pszSubKey, 0, KEY_READ | m_dwExtraAccess, m_hKey.put());
    if (lResult != ERROR_SUCCESS) (void)m_hKey.release();  // a failed open leaves nothing to close
    return lResult;
}

LONG CRegTool::OpenReadOnly(HKEY hRoot, const wchar_t* pszSubKey) {
    Close();
    m_hRoot = hRoot;
    LONG lResult = RegOpenKeyExW(hRoot, pszSubKey, 0, KEY_READ | m_dwExtraAccess, m_hKey.put());
    if (lResult != ERROR_SUCCESS) (void)m_hKey.release();  // a failed open leaves nothing to close
    return lResult;
}

void CRegTool::Close() {
    if (!m_hKey) return;
    RegFlushKey(m_hKey.get());
    m_hKey.reset();
}

bool CRegTool::HasValue(const wchar_t* pszName) const {
    DWORD cbData = 0;
    return m_hKey && RegQueryValueExW(m_hKey.get(), pszName, nullptr, nullptr, nullptr, &cbData) == ERROR_SUCCESS;
}

int CRegTool::ReadDword(const wchar_t* pszName, DWORD* pdwValue, DWORD dwDefault) {
    DWORD dwValue = 0;
    DWORD cbValue = sizeof(dwValue);
    DWORD dwType = 0;
    if (!m_hKey ||
        RegQueryValueExW(m_hKey.get(), pszName, nullptr, &dwType, reinterpret_cast<BYTE*>(&dwValue), &cbValue) !=
            ERROR_SUCCESS ||
        cbValue != sizeof(dwValue)) {
        *pdwValue = dwDefault;
        return 0;
    }
    *pdwValue = dwValue;
    return 1;
}

int CRegTool::ReadString(const wchar_t* pszName, wchar_t* pszBuffer, DWORD cchCapacity, const wchar_t* pszDefault) {
    if (pszBuffer == nullptr || cchCapacity == 0) return 0;
    pszBuffer[0] = L'\0';
    int nRead = 0;
    DWORD dwType = 0;
    DWORD cbData = cchCapacity * sizeof(wchar_t);
    if (m_hKey &&
        RegQueryValueExW(m_hKey.get(), pszName, nullptr, &dwType, reinterpret_cast<BYTE*>(pszBuffer), &cbData) ==
            ERROR_SUCCESS &&
        (dwType == REG_SZ || dwType == REG_EXPAND_SZ)) {
        // A value stored without its terminating zero fits only when there is
        // room left to add one.
        DWORD cch = cbData / sizeof(wchar_t);
        if (cch > 0 && pszBuffer[cch - 1] == L'\0') {
            nRead = 1;
        } else if (cch < cchCapacity) {
            pszBuffer[cch] = L'\0';
            nRead = 1;
        }
    }
    if (!nRead) pszBuffer[0] = L'\0';
    if (pszBuffer[0] == L'\0' && pszDefault != nullptr) BoundedCopy(pszBuffer, cchCapacity, pszDefault);
    return nRead;
}

LONG CRegTool::WriteDword(const wchar_t* pszName, DWORD dwValue) {
    if (!m_hKey) return ERROR_INVALID_HANDLE;
    return RegSetValueExW(m_hKey.get(), pszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), sizeof(dwValue));
}

LONG CRegTool::WriteInt(const wchar_t* pszName, int nValue) {
    wchar_t szText[16];
    StrFormat(szText, L"%d", nValue);
    return WriteString(pszName, szText);
}

LONG CRegTool::WriteString(const wchar_t* pszName, const wchar_t* pszText) {
    if (!m_hKey) return ERROR_INVALID_HANDLE;
    DWORD cbData = static_cast<DWORD>((wcslen(pszText) + 1) * sizeof(wchar_t));
    return RegSetValueExW(m_hKey.get(), pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(pszText), cbData);
}
