#include "log/ProtectedFiles.h"

#include <aclapi.h>

#include <cwchar>
#include <vector>

#include "log/ObjectSecurity.h"

namespace {

// A path as the file system names it: "\\?\C:\x" and "\\?\UNC\s\x" as
// "C:\x" and "\\s\x".
std::wstring WithoutLongPrefix(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + path.substr(8);
    if (path.rfind(L"\\\\?\\", 0) == 0) return path.substr(4);
    return path;
}

// The full long form of an existing path, empty when it cannot be had.
std::wstring LongFullPath(const wchar_t* pszPath) {
    DWORD cch = GetFullPathNameW(pszPath, 0, nullptr, nullptr);
    if (cch == 0) return L"";
    std::vector<wchar_t> full(cch + 1);
    if (GetFullPathNameW(pszPath, cch + 1, full.data(), nullptr) == 0) return L"";
    cch = GetLongPathNameW(full.data(), nullptr, 0);
    if (cch == 0) return L"";
    std::vector<wchar_t> longer(cch + 1);
    if (GetLongPathNameW(full.data(), longer.data(), cch + 1) == 0) return L"";
    return WithoutLongPrefix(longer.data());
}

// Where an open handle really is, with every junction and link resolved.
std::wstring FinalPath(HANDLE h) {
    DWORD cch = GetFinalPathNameByHandleW(h, nullptr, 0, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (cch == 0) return L"";
    std::vector<wchar_t> path(cch + 1);
    if (GetFinalPathNameByHandleW(h, path.data(), cch + 1, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS) == 0) return L"";
    return WithoutLongPrefix(path.data());
}

bool SamePath(const std::wstring& a, const std::wstring& b) { return !a.empty() && _wcsicmp(a.c_str(), b.c_str()) == 0; }

// The folder at pszPath, followed to wherever it leads; empty when it cannot be opened.
std::wstring FinalFolderPath(const wchar_t* pszPath) {
    HANDLE h = CreateFileW(pszPath, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return L"";
    std::wstring path = FinalPath(h);
    CloseHandle(h);
    return path;
}

bool IsTokenUser(PSID pSid) {
    HANDLE hToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken)) return false;
    DWORD cb = 0;
    GetTokenInformation(hToken, TokenUser, nullptr, 0, &cb);
    std::vector<BYTE> user(cb);
    bool bSame = cb != 0 && GetTokenInformation(hToken, TokenUser, user.data(), cb, &cb) &&
                 EqualSid(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, pSid);
    CloseHandle(hToken);
    return bSame;
}

// A file someone else owns is not written to: a user could have put it in
// the folder to read what the service writes.
bool IsOwnedByUsOrTheServiceAccounts(HANDLE h) {
    PSID pOwner = nullptr;
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    if (GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &pOwner, nullptr, nullptr, nullptr,
                        &pDescriptor) != ERROR_SUCCESS)
        return false;
    bool bOurs = IsServiceAccountSid(pOwner) || IsTokenUser(pOwner);
    LocalFree(pDescriptor);
    return bOurs;
}

bool IsPlainFileAt(HANDLE h, const wchar_t* pszPath) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h, &info)) return false;
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) return false;
    // A second name of the file could be anywhere, a system file included.
    if (info.nNumberOfLinks != 1) return false;
    return SamePath(FinalPath(h), LongFullPath(pszPath)) && IsOwnedByUsOrTheServiceAccounts(h);
}

bool DeleteByHandle(HANDLE h) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

}  // namespace

bool PrepareProtectedFolder(const wchar_t* pszBase, const wchar_t* pszRelative, std::wstring* pFolder,
                            std::wstring* pWhy) {
    pFolder->clear();
    std::wstring folder = pszBase;
    const std::wstring relative = pszRelative;
    CObjectSecurity security(SecuredObject::LogFolder);
    if (security.Attributes() == nullptr) {
        *pWhy = L"no security descriptor";
        return false;
    }
    for (size_t nStart = 0; nStart <= relative.size();) {
        size_t nEnd = relative.find(L'\\', nStart);
        if (nEnd == std::wstring::npos) nEnd = relative.size();
        folder += L"\\" + relative.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        // A folder that exists already keeps its DACL: it may not be ours to change.
        if (!CreateDirectoryW(folder.c_str(), security.Attributes()) && GetLastError() != ERROR_ALREADY_EXISTS) {
            *pWhy = L"cannot create " + folder;
            return false;
        }
        const DWORD dwAttributes = GetFileAttributesW(folder.c_str());
        if (dwAttributes == INVALID_FILE_ATTRIBUTES || !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            *pWhy = L"not a folder: " + folder;
            return false;
        }
        if (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            *pWhy = L"junction or link: " + folder;
            return false;
        }
    }
    // Where the base itself lies is the administrator's choice; below it
    // nothing may lead elsewhere.
    const std::wstring finalBase = FinalFolderPath(pszBase);
    if (finalBase.empty() || !SamePath(FinalFolderPath(folder.c_str()), finalBase + L"\\" + relative)) {
        *pWhy = L"leads elsewhere: " + folder;
        return false;
    }
    *pFolder = folder;
    return true;
}

bool RemoveProtectedFile(const wchar_t* pszPath) {
    if (pszPath == nullptr || *pszPath == L'\0') return false;
    HANDLE h = CreateFileW(pszPath, DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    const bool bRemoved = IsPlainFileAt(h, pszPath) && DeleteByHandle(h);
    CloseHandle(h);
    return bRemoved;
}

HANDLE OpenProtectedFile(const wchar_t* pszPath, DWORD dwDisposition) {
    if (pszPath == nullptr || *pszPath == L'\0') return INVALID_HANDLE_VALUE;
    // Truncating on open would empty a planted link's target before any check.
    if (dwDisposition != OPEN_ALWAYS && dwDisposition != CREATE_NEW) return INVALID_HANDLE_VALUE;
    CObjectSecurity security(SecuredObject::ProviderFile);
    if (security.Attributes() == nullptr) return INVALID_HANDLE_VALUE;
    HANDLE h = CreateFileW(pszPath, GENERIC_WRITE | DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE,
                           security.Attributes(), dwDisposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return h;
    const bool bCreated = dwDisposition == CREATE_NEW || GetLastError() != ERROR_ALREADY_EXISTS;
    if (IsPlainFileAt(h, pszPath)) return h;
    if (bCreated) DeleteByHandle(h);
    CloseHandle(h);
    return INVALID_HANDLE_VALUE;
}
