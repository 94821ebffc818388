#include "log/FileSecurity.h"

#include <aclapi.h>

SECURITY_ATTRIBUTES* GetOpenSecurityAttributes() {
    static SECURITY_DESCRIPTOR descriptor;
    static SECURITY_ATTRIBUTES attributes = [] {
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
        SECURITY_ATTRIBUTES sa{};
        sa.nLength = sizeof(SECURITY_ATTRIBUTES);
        sa.lpSecurityDescriptor = &descriptor;
        sa.bInheritHandle = TRUE;
        return sa;
    }();
    return &attributes;
}

namespace {
bool SetTakeOwnershipPrivilege(HANDLE hToken, bool bEnable) {
    TOKEN_PRIVILEGES privileges{};
    if (!LookupPrivilegeValueW(nullptr, L"SeTakeOwnershipPrivilege", &privileges.Privileges[0].Luid)) return false;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = bEnable ? SE_PRIVILEGE_ENABLED : 0;
    SetLastError(0);
    AdjustTokenPrivileges(hToken, FALSE, &privileges, sizeof(privileges), nullptr, nullptr);
    return GetLastError() == 0;
}
}  // namespace

int GrantFullAccess(const wchar_t* pszPath) {
    PSID pEveryone = nullptr;
    PSID pAdministrators = nullptr;
    PACL pAcl = nullptr;
    HANDLE hToken = nullptr;
    int nResult = 0;

    SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    if (AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &pEveryone) &&
        AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                                 0, 0, 0, &pAdministrators)) {
        EXPLICIT_ACCESSW access[2] = {};
        for (EXPLICIT_ACCESSW& entry : access) {
            entry.grfAccessPermissions = GENERIC_ALL;
            entry.grfAccessMode = SET_ACCESS;
            entry.grfInheritance = NO_INHERITANCE;
            entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        }
        access[0].Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
        access[0].Trustee.ptstrName = static_cast<LPWSTR>(pEveryone);
        access[1].Trustee.TrusteeType = TRUSTEE_IS_GROUP;
        access[1].Trustee.ptstrName = static_cast<LPWSTR>(pAdministrators);

        if (SetEntriesInAclW(2, access, nullptr, &pAcl) == ERROR_SUCCESS) {
            LPWSTR pszObject = const_cast<LPWSTR>(pszPath);
            DWORD dwError = SetNamedSecurityInfoW(pszObject, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                                  nullptr, pAcl, nullptr);
            if (dwError == ERROR_ACCESS_DENIED &&
                OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &hToken) &&
                SetTakeOwnershipPrivilege(hToken, true)) {
                DWORD dwOwner = SetNamedSecurityInfoW(pszObject, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                                      pAdministrators, nullptr, nullptr, nullptr);
                if (dwOwner == ERROR_SUCCESS) {
                    SetTakeOwnershipPrivilege(hToken, false);
                    dwError = SetNamedSecurityInfoW(pszObject, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                                    nullptr, pAcl, nullptr);
                }
            }
            nResult = dwError == ERROR_SUCCESS ? 1 : 0;
        }
    }
    if (pEveryone) FreeSid(pEveryone);
    if (pAdministrators) FreeSid(pAdministrators);
    if (pAcl) LocalFree(pAcl);
    if (hToken) CloseHandle(hToken);
    return nResult;
}
