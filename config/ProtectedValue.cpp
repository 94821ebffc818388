#include "config/ProtectedValue.h"

#include <windows.h>
#include <wincrypt.h>

#include <cwchar>
#include <vector>

#include "common/UniqueLocalMemory.h"
#include "common/UniqueRegKey.h"
#include "config/ProviderIdentity.h"
#include "log/Trace.h"

namespace {
constexpr size_t kMaxProtectedChars = 62;
}  // namespace

std::wstring ReadProtectedValue(const wchar_t* pszName) {
    CFuncTrace trace(3, L"ReadProtectedValue");
    trace.Param(L"pszName", L"%s", pszName);
    std::wstring text;
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, g_szLocalRegPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        trace.Line(L"End.Result no key");
        return text;
    }
    DWORD dwType = 0;
    DWORD cbData = 0;
    std::vector<BYTE> blob;
    if (RegQueryValueExW(key.get(), pszName, nullptr, &dwType, nullptr, &cbData) == ERROR_SUCCESS && cbData > 0) {
        blob.resize(cbData);
        if (RegQueryValueExW(key.get(), pszName, nullptr, &dwType, blob.data(), &cbData) != ERROR_SUCCESS)
            blob.clear();
        blob.resize(blob.empty() ? 0 : cbData);
    }
    key.reset();

    DATA_BLOB in{static_cast<DWORD>(blob.size()), blob.data()};
    DATA_BLOB out{};
    if (!blob.empty() && CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, 0, &out)) {
        // The plain text need not be terminated: never read past its end.
        UniqueLocalMemory<BYTE> plain(out.pbData);
        const wchar_t* pszPlain = reinterpret_cast<const wchar_t*>(plain.get());
        size_t cchPlain = wcsnlen(pszPlain, out.cbData / sizeof(wchar_t));
        text.assign(pszPlain, cchPlain < kMaxProtectedChars ? cchPlain : kMaxProtectedChars);
        SecureZeroMemory(plain.get(), out.cbData);
    } else {
        trace.Info(L"No readable value");
    }
    // Whether there is a value, and nothing about it: not even its length.
    trace.Line(L"End.Result %d", text.empty() ? 0 : 1);
    return text;
}

long WriteProtectedValue(const wchar_t* pszText, const wchar_t* pszName) {
    CFuncTrace trace(3, L"WriteProtectedValue");
    trace.Param(L"pszName", L"%s", pszName);
    DATA_BLOB in{static_cast<DWORD>((wcslen(pszText) + 1) * sizeof(wchar_t)),
                 reinterpret_cast<BYTE*>(const_cast<wchar_t*>(pszText))};
    DATA_BLOB out{};
    if (!CryptProtectData(&in, L"TAPI Config", nullptr, nullptr, nullptr, CRYPTPROTECT_LOCAL_MACHINE, &out)) {
        long lError = static_cast<long>(GetLastError());
        trace.Warning(L"CryptProtectData failed %ld", lError);
        return lError != 0 ? lError : ERROR_INVALID_DATA;
    }
    UniqueLocalMemory<BYTE> sealed(out.pbData);
    UniqueRegKey key;
    long lResult = RegCreateKeyExW(HKEY_LOCAL_MACHINE, g_szLocalRegPath, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(),
                                   nullptr);
    if (lResult == ERROR_SUCCESS) lResult = RegSetValueExW(key.get(), pszName, 0, REG_BINARY, sealed.get(), out.cbData);
    trace.Line(L"End.Result %ld", lResult);
    return lResult;
}
