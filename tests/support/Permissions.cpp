#include "support/Permissions.h"

#include <sddl.h>

#include <vector>

namespace {
std::vector<BYTE> SidOf(const wchar_t* pszSid) {
    PSID pSid = nullptr;
    std::vector<BYTE> bytes;
    if (ConvertStringSidToSidW(pszSid, &pSid)) {
        bytes.assign(static_cast<BYTE*>(pSid), static_cast<BYTE*>(pSid) + GetLengthSid(pSid));
        LocalFree(pSid);
    }
    return bytes;
}

Grants GrantsOfDescriptor(PSECURITY_DESCRIPTOR pDescriptor, const wchar_t* pszSid) {
    BOOL bPresent = FALSE, bDefaulted = FALSE;
    PACL pDacl = nullptr;
    GetSecurityDescriptorDacl(pDescriptor, &bPresent, &pDacl, &bDefaulted);
    return GrantsIn(pDacl, bPresent != FALSE, pszSid);
}
}  // namespace

Grants GrantsIn(const ACL* pDacl, bool bPresent, const wchar_t* pszSid) {
    Grants grants;
    if (!bPresent || pDacl == nullptr) return {~ACCESS_MASK(0), ~ACCESS_MASK(0)};
    std::vector<BYTE> sid = SidOf(pszSid);
    for (DWORD i = 0; i < pDacl->AceCount; ++i) {
        void* pAce = nullptr;
        if (!GetAce(const_cast<ACL*>(pDacl), i, &pAce)) continue;
        auto* pAllowed = static_cast<ACCESS_ALLOWED_ACE*>(pAce);
        if (pAllowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || !EqualSid(&pAllowed->SidStart, sid.data())) continue;
        const BYTE flags = pAllowed->Header.AceFlags;
        if (!(flags & INHERIT_ONLY_ACE)) grants.onObject |= pAllowed->Mask;
        if (flags & OBJECT_INHERIT_ACE) grants.toNewFiles |= pAllowed->Mask;
    }
    return grants;
}

Grants GrantsOn(const std::wstring& path, const wchar_t* pszSid, bool* pbRead) {
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    *pbRead = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                    nullptr, nullptr, &pDescriptor) == ERROR_SUCCESS;
    Grants grants = *pbRead ? GrantsOfDescriptor(pDescriptor, pszSid) : Grants{};
    LocalFree(pDescriptor);
    return grants;
}

Grants GrantsOn(HANDLE hObject, SE_OBJECT_TYPE type, const wchar_t* pszSid, bool* pbRead) {
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    *pbRead = GetSecurityInfo(hObject, type, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                              &pDescriptor) == ERROR_SUCCESS;
    Grants grants = *pbRead ? GrantsOfDescriptor(pDescriptor, pszSid) : Grants{};
    LocalFree(pDescriptor);
    return grants;
}

std::wstring DaclText(const std::wstring& path) {
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                              nullptr, &pDescriptor) != ERROR_SUCCESS)
        return L"(unreadable)";
    LPWSTR pszText = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(pDescriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                         &pszText, nullptr);
    std::wstring text = pszText != nullptr ? pszText : L"(none)";
    LocalFree(pszText);
    LocalFree(pDescriptor);
    return text;
}

std::wstring CurrentUserSid() {
    HANDLE hToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken)) return L"";
    BYTE buffer[256];
    DWORD cb = 0;
    const BOOL bRead = GetTokenInformation(hToken, TokenUser, buffer, sizeof(buffer), &cb);
    CloseHandle(hToken);
    LPWSTR pszSid = nullptr;
    if (!bRead || !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &pszSid)) return L"";
    std::wstring sid = pszSid;
    LocalFree(pszSid);
    return sid;
}
