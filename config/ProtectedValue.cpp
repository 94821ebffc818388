#include "config/ProtectedValue.h"

#include <windows.h>
#include <wincrypt.h>

#include <cwchar>
#include <vector>

#include "common/SecretWipe.h"
#include "common/UniqueLocalMemory.h"
#include "common/UniqueRegKey.h"
#include "config/ProviderIdentity.h"
#include "log/ObjectSecurity.h"
#include "log/Trace.h"

namespace {
constexpr size_t kMaxProtectedChars = 62;
const wchar_t* const kCredentialNames[] = {L"Name", L"Password"};

std::wstring CredentialsPath() { return std::wstring(g_szLocalRegPath) + L"\\" + kCredentialsSubkey; }

// The raw bytes of a REG_BINARY value; empty when it is missing.
std::vector<BYTE> ReadBlob(HKEY hKey, const wchar_t* pszName) {
    DWORD dwType = 0;
    DWORD cbData = 0;
    std::vector<BYTE> blob;
    if (RegQueryValueExW(hKey, pszName, nullptr, &dwType, nullptr, &cbData) != ERROR_SUCCESS || cbData == 0)
        return blob;
    blob.resize(cbData);
    if (RegQueryValueExW(hKey, pszName, nullptr, &dwType, blob.data(), &cbData) != ERROR_SUCCESS) blob.clear();
    blob.resize(blob.empty() ? 0 : cbData);
    return blob;
}

std::wstring Decrypt(std::vector<BYTE>& blob) {
    std::wstring text;
    DATA_BLOB in{static_cast<DWORD>(blob.size()), blob.data()};
    DATA_BLOB out{};
    if (!blob.empty() && CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, 0, &out)) {
        // The plain text need not be terminated: never read past its end.
        UniqueLocalMemory<BYTE> plain(out.pbData);
        const wchar_t* pszPlain = reinterpret_cast<const wchar_t*>(plain.get());
        size_t cchPlain = wcsnlen(pszPlain, out.cbData / sizeof(wchar_t));
        text.reserve(kMaxProtectedChars);
        text.assign(pszPlain, cchPlain < kMaxProtectedChars ? cchPlain : kMaxProtectedChars);
        SecureZeroMemory(plain.get(), out.cbData);
    }
    return text;
}

long WriteEncrypted(HKEY hKey, const wchar_t* pszText, const wchar_t* pszName) {
    DATA_BLOB in{static_cast<DWORD>((wcslen(pszText) + 1) * sizeof(wchar_t)),
                 reinterpret_cast<BYTE*>(const_cast<wchar_t*>(pszText))};
    DATA_BLOB out{};
    if (!CryptProtectData(&in, L"TAPI Config", nullptr, nullptr, nullptr, CRYPTPROTECT_LOCAL_MACHINE, &out)) {
        long lError = static_cast<long>(GetLastError());
        return lError != 0 ? lError : ERROR_INVALID_DATA;
    }
    UniqueLocalMemory<BYTE> sealed(out.pbData);
    return RegSetValueExW(hKey, pszName, 0, REG_BINARY, sealed.get(), out.cbData);
}

enum class KeyState { Opened, Missing, Denied, Refused };

// Opens the credentials key, or (bCreate) makes it with its protected DACL.
// Whatever is found there is used only when it is still as the provider
// makes it; a key someone else owns or opened up is refused and logged.
KeyState OpenCredentialsKey(REGSAM access, bool bCreate, UniqueRegKey& key) {
    const std::wstring path = CredentialsPath();
    LONG lResult = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access | READ_CONTROL, key.put());
    if (lResult == ERROR_FILE_NOT_FOUND && bCreate) {
        CObjectSecurity security(SecuredObject::CredentialsKey);
        if (security.Attributes() == nullptr) return KeyState::Denied;
        DWORD dwDisposition = 0;
        lResult = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                  access | READ_CONTROL | WRITE_DAC | WRITE_OWNER, security.Attributes(), key.put(),
                                  &dwDisposition);
        // Set once more on a new key: not every registry keeps what it was
        // created with (Wine does not).
        if (lResult == ERROR_SUCCESS && dwDisposition == REG_CREATED_NEW_KEY)
            RegSetKeySecurity(key.get(),
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                  PROTECTED_DACL_SECURITY_INFORMATION,
                              security.Descriptor());
    }
    if (lResult == ERROR_FILE_NOT_FOUND) return KeyState::Missing;
    if (lResult != ERROR_SUCCESS) return KeyState::Denied;
    const wchar_t* pszWhy = L"";
    if (!IsSecuredAsMadeByProvider(key.get(), SE_REGISTRY_KEY, &pszWhy)) {
        key.reset();
        Trace(0, L"Func.ReadStoredCredentials.Warning.Credentials key refused, %s: %s", pszWhy, path.c_str());
        return KeyState::Refused;
    }
    return KeyState::Opened;
}

bool HasOldCopies(HKEY hSettings) {
    for (const wchar_t* pszName : kCredentialNames)
        if (RegQueryValueExW(hSettings, pszName, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) return true;
    return false;
}

// Copies the old values into the new place as they are (still encrypted),
// checks what arrived, and only then removes the old copies.
bool MoveOldCopies(HKEY hSettings, HKEY hCredentials) {
    for (const wchar_t* pszName : kCredentialNames) {
        std::vector<BYTE> blob = ReadBlob(hSettings, pszName);
        CSecretWiper<std::vector<BYTE>> wipe(blob);
        // Only what is there: a value written anew in the old place (by a
        // script, say) replaces its own counterpart, not both.
        if (blob.empty()) continue;
        if (RegSetValueExW(hCredentials, pszName, 0, REG_BINARY, blob.data(), static_cast<DWORD>(blob.size())) !=
            ERROR_SUCCESS)
            return false;
        std::vector<BYTE> arrived = ReadBlob(hCredentials, pszName);
        CSecretWiper<std::vector<BYTE>> wipeArrived(arrived);
        if (arrived != blob) return false;
    }
    RegFlushKey(hCredentials);
    bool bRemoved = true;
    for (const wchar_t* pszName : kCredentialNames) {
        const LONG lResult = RegDeleteValueW(hSettings, pszName);
        bRemoved = bRemoved && (lResult == ERROR_SUCCESS || lResult == ERROR_FILE_NOT_FOUND);
    }
    return bRemoved;
}

void ReadBoth(HKEY hKey, std::wstring* pName, std::wstring* pPassword) {
    std::vector<BYTE> name = ReadBlob(hKey, L"Name");
    std::vector<BYTE> password = ReadBlob(hKey, L"Password");
    *pName = Decrypt(name);
    *pPassword = Decrypt(password);
    WipeSecret(name);
    WipeSecret(password);
}
}  // namespace

CredentialsRead ReadStoredCredentials(std::wstring* pName, std::wstring* pPassword) {
    CFuncTrace trace(3, L"ReadStoredCredentials");
    WipeSecret(*pName);
    WipeSecret(*pPassword);
    UniqueRegKey settings;
    // Write access is needed only to move old copies; a user has read access at most.
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, g_szLocalRegPath, 0, KEY_READ | KEY_SET_VALUE, settings.put()) !=
        ERROR_SUCCESS)
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, g_szLocalRegPath, 0, KEY_READ, settings.put());
    const bool bOldCopies = settings && HasOldCopies(settings.get());

    UniqueRegKey credentials;
    KeyState state = OpenCredentialsKey(bOldCopies ? KEY_READ | KEY_WRITE : KEY_READ, bOldCopies, credentials);
    if (state == KeyState::Denied && bOldCopies) state = OpenCredentialsKey(KEY_READ, false, credentials);
    bool bFromOldPlace = bOldCopies;
    if (state == KeyState::Opened && bOldCopies) {
        bFromOldPlace = !MoveOldCopies(settings.get(), credentials.get());
        trace.Info(bFromOldPlace ? L"Old copies not moved, read where they are" : L"Moved to the protected key");
    }
    CredentialsRead result = CredentialsRead::Read;
    if (bFromOldPlace)
        ReadBoth(settings.get(), pName, pPassword);
    else if (state == KeyState::Opened)
        ReadBoth(credentials.get(), pName, pPassword);
    else if (state == KeyState::Denied)
        result = CredentialsRead::Unreadable;
    else if (state == KeyState::Refused)
        result = CredentialsRead::Refused;
    // Whether there is a value, and nothing about it: not even its length.
    trace.Line(L"End.Result %d name %d password %d", static_cast<int>(result), pName->empty() ? 0 : 1,
               pPassword->empty() ? 0 : 1);
    return result;
}

long WriteStoredCredentials(const wchar_t* pszName, const wchar_t* pszPassword) {
    CFuncTrace trace(3, L"WriteStoredCredentials");
    UniqueRegKey credentials;
    const KeyState state = OpenCredentialsKey(KEY_READ | KEY_WRITE, true, credentials);
    long lResult = ERROR_ACCESS_DENIED;
    if (state == KeyState::Opened) {
        lResult = WriteEncrypted(credentials.get(), pszName, L"Name");
        if (lResult == ERROR_SUCCESS) lResult = WriteEncrypted(credentials.get(), pszPassword, L"Password");
    }
    // Copies left in the old place would still be read by everybody.
    UniqueRegKey settings;
    if (lResult == ERROR_SUCCESS &&
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, g_szLocalRegPath, 0, KEY_SET_VALUE, settings.put()) == ERROR_SUCCESS)
        for (const wchar_t* pszValue : kCredentialNames) RegDeleteValueW(settings.get(), pszValue);
    trace.Line(L"End.Result %ld", lResult);
    return lResult;
}
