#include "log/ObjectSecurity.h"

#include <initializer_list>

#include "common/UniqueHandle.h"
#include "common/UniqueLocalMemory.h"

namespace {

// A SID held in a buffer of its own, built from its authority and sub-authorities.
class CSid {
public:
    CSid(BYTE authority, std::initializer_list<DWORD> subAuthorities)
        : m_bytes(GetSidLengthRequired(static_cast<UCHAR>(subAuthorities.size()))) {
        SID_IDENTIFIER_AUTHORITY identifier = {{0, 0, 0, 0, 0, authority}};
        InitializeSid(Get(), &identifier, static_cast<BYTE>(subAuthorities.size()));
        DWORD i = 0;
        for (DWORD sub : subAuthorities) *GetSidSubAuthority(Get(), i++) = sub;
    }
    explicit CSid(PSID pSid) : m_bytes(GetLengthSid(pSid)) { CopySid(static_cast<DWORD>(m_bytes.size()), Get(), pSid); }
    PSID Get() { return m_bytes.data(); }

private:
    std::vector<BYTE> m_bytes;
};

constexpr BYTE kNtAuthority = 5;
constexpr BYTE kCreatorAuthority = 3;

CSid SystemSid() { return CSid(kNtAuthority, {SECURITY_LOCAL_SYSTEM_RID}); }
CSid AdministratorsSid() { return CSid(kNtAuthority, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}); }
// NT SERVICE\TrustedInstaller, owner of what Windows itself installs.
CSid TrustedInstallerSid() {
    return CSid(kNtAuthority, {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464});
}
CSid UsersSid() { return CSid(kNtAuthority, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS}); }
CSid CreatorOwnerSid() { return CSid(kCreatorAuthority, {SECURITY_CREATOR_OWNER_RID}); }
// OWNER RIGHTS: what the owner may do beyond the ACEs; without it an owner
// could always read and rewrite the DACL.
CSid OwnerRightsSid() { return CSid(kCreatorAuthority, {4}); }

struct Ace {
    CSid sid;
    ACCESS_MASK mask;
    BYTE flags;
};

constexpr BYTE kInheritToAll = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
constexpr ACCESS_MASK kOwnFileAccess = FILE_GENERIC_READ | FILE_GENERIC_WRITE | DELETE;
// Enough to find one's own log files and to add, rename and delete them.
constexpr ACCESS_MASK kUsersFolderAccess =
    FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;

std::vector<Ace> ServiceAccountAces(ACCESS_MASK mask, BYTE flags) {
    std::vector<Ace> aces;
    for (CSid sid : {SystemSid(), AdministratorsSid()}) aces.push_back({sid, mask, flags});
    return aces;
}

// The account of this process, which will own what it creates; empty when
// it cannot be read.
std::vector<Ace> CreatorAces(ACCESS_MASK mask) {
    std::vector<Ace> aces;
    std::vector<BYTE> user = ProcessUserSid();
    if (!user.empty() && !IsServiceAccountSid(user.data())) aces.push_back({CSid(user.data()), mask, 0});
    return aces;
}

std::vector<Ace> AcesFor(SecuredObject kind) {
    switch (kind) {
        case SecuredObject::LogFolder: {
            std::vector<Ace> aces = ServiceAccountAces(FILE_ALL_ACCESS, kInheritToAll);
            aces.push_back({UsersSid(), kUsersFolderAccess, 0});
            aces.push_back({CreatorOwnerSid(), kOwnFileAccess, OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE});
            aces.push_back({OwnerRightsSid(), READ_CONTROL, kInheritToAll});
            return aces;
        }
        case SecuredObject::ProviderFile: {
            std::vector<Ace> aces = ServiceAccountAces(FILE_ALL_ACCESS, 0);
            for (Ace& ace : CreatorAces(kOwnFileAccess)) aces.push_back(ace);
            aces.push_back({OwnerRightsSid(), READ_CONTROL, 0});
            return aces;
        }
        case SecuredObject::SharedSection:
            return ServiceAccountAces(SECTION_ALL_ACCESS, 0);
        case SecuredObject::CredentialsKey:
            return ServiceAccountAces(KEY_ALL_ACCESS, 0);
    }
    return {};
}

}  // namespace

CObjectSecurity::CObjectSecurity(SecuredObject kind) {
    std::vector<Ace> aces = AcesFor(kind);
    DWORD cbAcl = sizeof(ACL);
    for (Ace& ace : aces) cbAcl += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(ace.sid.Get());
    m_acl.assign(cbAcl, 0);
    PACL pAcl = reinterpret_cast<PACL>(m_acl.data());
    bool bBuilt = InitializeAcl(pAcl, cbAcl, ACL_REVISION) != FALSE;
    for (Ace& ace : aces)
        bBuilt = bBuilt && AddAccessAllowedAceEx(pAcl, ACL_REVISION, ace.flags, ace.mask, ace.sid.Get()) != FALSE;
    // Protected: nothing is inherited from the parent, whatever it allows.
    m_bValid = bBuilt && InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) &&
               SetSecurityDescriptorDacl(&m_descriptor, TRUE, pAcl, FALSE) &&
               SetSecurityDescriptorControl(&m_descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    // What others judge by the owner is owned by Administrators, not by
    // whatever the creating token names as default owner. An account that
    // may not give that owner cannot create it, which is as it should be.
    if (kind == SecuredObject::SharedSection || kind == SecuredObject::CredentialsKey) {
        CSid owner = AdministratorsSid();
        m_owner.assign(static_cast<BYTE*>(owner.Get()), static_cast<BYTE*>(owner.Get()) + GetLengthSid(owner.Get()));
        m_bValid = m_bValid && SetSecurityDescriptorOwner(&m_descriptor, m_owner.data(), FALSE);
    }
    m_attributes.nLength = sizeof(m_attributes);
    m_attributes.lpSecurityDescriptor = &m_descriptor;
    m_attributes.bInheritHandle = FALSE;
}

bool IsServiceAccountSid(PSID pSid) {
    if (pSid == nullptr || !IsValidSid(pSid)) return false;
    for (CSid sid : {SystemSid(), AdministratorsSid()})
        if (EqualSid(pSid, sid.Get())) return true;
    return false;
}

bool IsTrustedFolderOwner(PSID pOwner, PSID pProcessUser) {
    if (pOwner == nullptr || !IsValidSid(pOwner)) return false;
    if (IsServiceAccountSid(pOwner) || EqualSid(pOwner, TrustedInstallerSid().Get())) return true;
    return pProcessUser != nullptr && IsValidSid(pProcessUser) && EqualSid(pOwner, pProcessUser);
}

std::vector<BYTE> ProcessUserSid() {
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
    DWORD cb = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &cb);
    std::vector<BYTE> user(cb);
    if (cb == 0 || !GetTokenInformation(token.get(), TokenUser, user.data(), cb, &cb)) return {};
    PSID pUser = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    return std::vector<BYTE>(static_cast<BYTE*>(pUser), static_cast<BYTE*>(pUser) + GetLengthSid(pUser));
}

bool IsSecuredAsMadeByProvider(HANDLE hObject, SE_OBJECT_TYPE type, const wchar_t** ppszWhy) {
    PSID pOwner = nullptr;
    PACL pDacl = nullptr;
    UniqueLocalMemory<void> descriptor;  // pOwner and pDacl point into it
    if (GetSecurityInfo(hObject, type, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &pOwner, nullptr,
                        &pDacl, nullptr, descriptor.put()) != ERROR_SUCCESS) {
        *ppszWhy = L"its permissions cannot be read";
        return false;
    }
    if (!IsServiceAccountSid(pOwner)) {
        *ppszWhy = L"another account owns it";
        return false;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD dwRevision = 0;
    const bool bPresent =
        GetSecurityDescriptorControl(descriptor.get(), &control, &dwRevision) && (control & SE_DACL_PRESENT);
    if (!AdmitsOnlyServiceAccounts(bPresent, pDacl)) {
        *ppszWhy = L"others than the service accounts may open it";
        return false;
    }
    *ppszWhy = L"";
    return true;
}

bool AdmitsOnlyServiceAccounts(BOOL bPresent, const ACL* pDacl) {
    // No DACL, or a NULL one, lets everybody in.
    if (!bPresent || pDacl == nullptr) return false;
    for (DWORD i = 0; i < pDacl->AceCount; ++i) {
        void* pAce = nullptr;
        if (!GetAce(const_cast<ACL*>(pDacl), i, &pAce)) return false;
        const ACE_HEADER* pHeader = static_cast<const ACE_HEADER*>(pAce);
        switch (pHeader->AceType) {
            case ACCESS_DENIED_ACE_TYPE:
            case ACCESS_DENIED_OBJECT_ACE_TYPE:
            case ACCESS_DENIED_CALLBACK_ACE_TYPE:
            case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
            case SYSTEM_AUDIT_ACE_TYPE:
            case SYSTEM_ALARM_ACE_TYPE:
                break;
            case ACCESS_ALLOWED_ACE_TYPE: {
                auto* pAllowed = static_cast<ACCESS_ALLOWED_ACE*>(pAce);
                if (pAllowed->Mask != 0 && !IsServiceAccountSid(&pAllowed->SidStart)) return false;
                break;
            }
            default:
                // An allowing kind we do not take apart is taken as letting others in.
                return false;
        }
    }
    return true;
}
