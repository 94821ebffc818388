#include "log/ProtectedFiles.h"

#include <aclapi.h>

#include <cwchar>
#include <vector>

#include "common/UniqueHandle.h"
#include "common/UniqueLocalMemory.h"
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
    const UniqueFileHandle folder(CreateFileW(pszPath, FILE_READ_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder) return L"";
    return FinalPath(folder.get());
}

bool IsTokenUser(PSID pSid) {
    std::vector<BYTE> user = ProcessUserSid();
    return !user.empty() && EqualSid(user.data(), pSid);
}

// A folder someone else made is not used: its owner could read and replace
// what the service writes there, whatever the DACL says today.
bool HasTrustedOwner(const std::wstring& folder) {
    const UniqueFileHandle handle(CreateFileW(folder.c_str(), READ_CONTROL,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                              nullptr));
    if (!handle) return false;
    PSID pOwner = nullptr;
    UniqueLocalMemory<void> descriptor;  // pOwner points into it
    if (GetSecurityInfo(handle.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &pOwner, nullptr, nullptr, nullptr,
                        descriptor.put()) != ERROR_SUCCESS)
        return false;
    std::vector<BYTE> user = ProcessUserSid();
    return IsTrustedFolderOwner(pOwner, user.empty() ? nullptr : user.data());
}

// A file someone else owns is not written to: a user could have put it in
// the folder to read what the service writes.
bool IsOwnedByUsOrTheServiceAccounts(HANDLE h) {
    PSID pOwner = nullptr;
    UniqueLocalMemory<void> descriptor;  // pOwner points into it
    if (GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &pOwner, nullptr, nullptr, nullptr,
                        descriptor.put()) != ERROR_SUCCESS)
        return false;
    return IsServiceAccountSid(pOwner) || IsTokenUser(pOwner);
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
        if (!HasTrustedOwner(folder)) {
            *pWhy = L"owned by another account: " + folder;
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
    const UniqueFileHandle file(CreateFileW(pszPath, DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return GetLastError() == ERROR_FILE_NOT_FOUND;
    return IsPlainFileAt(file.get(), pszPath) && DeleteByHandle(file.get());
}

HANDLE OpenProtectedFile(const wchar_t* pszPath, DWORD dwDisposition) {
    if (pszPath == nullptr || *pszPath == L'\0') return INVALID_HANDLE_VALUE;
    // Truncating on open would empty a planted link's target before any check.
    if (dwDisposition != OPEN_ALWAYS && dwDisposition != CREATE_NEW) return INVALID_HANDLE_VALUE;
    CObjectSecurity security(SecuredObject::ProviderFile);
    if (security.Attributes() == nullptr) return INVALID_HANDLE_VALUE;
    UniqueFileHandle file(CreateFileW(pszPath, GENERIC_WRITE | DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, security.Attributes(), dwDisposition,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return INVALID_HANDLE_VALUE;
    const bool bCreated = dwDisposition == CREATE_NEW || GetLastError() != ERROR_ALREADY_EXISTS;
    if (IsPlainFileAt(file.get(), pszPath)) return file.release();
    if (bCreated) DeleteByHandle(file.get());
    return INVALID_HANDLE_VALUE;
}
