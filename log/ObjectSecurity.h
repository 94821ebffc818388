// Who may do what with the things the provider shares between the telephony
// service and the users' processes: the log folder, the log and exchange
// files, and the shared settings section. Each gets an explicit, protected
// DACL; SYSTEM (the account the telephony service runs as, LocalSystem) and
// Administrators have full control everywhere, and are called "the service
// accounts" below.
#pragma once

#include <windows.h>
#include <aclapi.h>

#include <vector>

enum class SecuredObject {
    // Users may list it and add files (their own logs); files added there
    // belong to their creator for reading, writing and deleting only.
    LogFolder,
    // A log or exchange file: besides the service accounts only the account
    // that creates it, which may read, write and delete it.
    ProviderFile,
    // The shared settings section: the service accounts alone; owned by
    // Administrators, so that another process finds it owned as a provider's.
    SharedSection,
    // The registry key that holds the account name and password: the
    // service accounts alone, owned by Administrators.
    CredentialsKey,
};

class CObjectSecurity {
public:
    explicit CObjectSecurity(SecuredObject kind);
    CObjectSecurity(const CObjectSecurity&) = delete;
    CObjectSecurity& operator=(const CObjectSecurity&) = delete;

    // For CreateDirectoryW, CreateFileW, CreateFileMappingW; null when the
    // descriptor could not be built, and then nothing is to be created.
    SECURITY_ATTRIBUTES* Attributes() { return m_bValid ? &m_attributes : nullptr; }
    PSECURITY_DESCRIPTOR Descriptor() { return m_bValid ? &m_descriptor : nullptr; }
    const ACL* Dacl() const { return m_bValid ? reinterpret_cast<const ACL*>(m_acl.data()) : nullptr; }

private:
    std::vector<BYTE> m_acl;
    std::vector<BYTE> m_owner;
    SECURITY_DESCRIPTOR m_descriptor{};
    SECURITY_ATTRIBUTES m_attributes{};
    bool m_bValid = false;
};

// SYSTEM or Administrators.
bool IsServiceAccountSid(PSID pSid);
// Whether the owner of a log folder is one the service may trust: a service
// account, TrustedInstaller, or the account this process runs as (for the
// telephony service that is SYSTEM; a user's own process may use a folder
// the user made, since only the user is fooled by it).
bool IsTrustedFolderOwner(PSID pOwner, PSID pProcessUser);
// The account this process runs as; empty when it cannot be read.
std::vector<BYTE> ProcessUserSid();

// Whether a DACL lets nobody but the service accounts in: no NULL DACL and no
// allowing ACE for any other account. bPresent is what GetSecurityInfo says.
bool AdmitsOnlyServiceAccounts(BOOL bPresent, const ACL* pDacl);

// Whether an existing object (a section, a registry key) is as the provider
// makes it: owned by a service account and open to the service accounts
// alone. Anything else was made or changed by someone else. *pWhy says what
// is wrong.
bool IsSecuredAsMadeByProvider(HANDLE hObject, SE_OBJECT_TYPE type, const wchar_t** ppszWhy);
