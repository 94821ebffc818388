// Who may do what with the things the provider shares between the telephony
// service and the users' processes: the log folder, the log and exchange
// files, and the shared settings section. Each gets an explicit, protected
// DACL; SYSTEM, Administrators and the service accounts the telephony service
// runs as (LOCAL SERVICE, NETWORK SERVICE) have full control everywhere.
#pragma once

#include <windows.h>

#include <vector>

enum class SecuredObject {
    // Users may list it and add files (their own logs); files added there
    // belong to their creator for reading, writing and deleting only.
    LogFolder,
    // A log or exchange file: besides the service accounts only the account
    // that creates it, which may read, write and delete it.
    ProviderFile,
    // The shared settings section: the service accounts alone.
    SharedSection,
};

class CObjectSecurity {
public:
    explicit CObjectSecurity(SecuredObject kind);
    CObjectSecurity(const CObjectSecurity&) = delete;
    CObjectSecurity& operator=(const CObjectSecurity&) = delete;

    // For CreateDirectoryW, CreateFileW, CreateFileMappingW; null when the
    // descriptor could not be built, and then nothing is to be created.
    SECURITY_ATTRIBUTES* Attributes() { return m_bValid ? &m_attributes : nullptr; }
    const ACL* Dacl() const { return m_bValid ? reinterpret_cast<const ACL*>(m_acl.data()) : nullptr; }

private:
    std::vector<BYTE> m_acl;
    SECURITY_DESCRIPTOR m_descriptor{};
    SECURITY_ATTRIBUTES m_attributes{};
    bool m_bValid = false;
};

// SYSTEM, Administrators, LOCAL SERVICE or NETWORK SERVICE.
bool IsServiceAccountSid(PSID pSid);

// Whether a DACL lets nobody but the service accounts in: no NULL DACL and no
// allowing ACE for any other account. bPresent is what GetSecurityInfo says.
bool AdmitsOnlyServiceAccounts(BOOL bPresent, const ACL* pDacl);
