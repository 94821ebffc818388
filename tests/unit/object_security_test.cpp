// Who may do what with the log folder, the log and exchange files and the
// shared section, as the descriptors the provider builds say. Wine keeps a
// file's DACL only as Unix mode bits, so the read rights are checked here,
// on the descriptors themselves.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "log/ObjectSecurity.h"
#include "support/Permissions.h"
#include "support/TestFiles.h"

namespace {

Grants GrantsFor(const ACL* pDacl, const wchar_t* pszSid) { return GrantsIn(pDacl, true, pszSid); }

constexpr ACCESS_MASK kRead = FILE_READ_DATA;
constexpr ACCESS_MASK kWrite = FILE_WRITE_DATA | FILE_APPEND_DATA;
constexpr ACCESS_MASK kChange = WRITE_DAC | WRITE_OWNER | DELETE;

// SYSTEM (the telephony service's account) and Administrators.
const wchar_t* const kServiceAccounts[] = {L"S-1-5-18", L"S-1-5-32-544"};
// Everyone, Users, Authenticated Users, Interactive, LOCAL SERVICE, NETWORK SERVICE.
const wchar_t* const kOtherAccounts[] = {L"S-1-1-0", L"S-1-5-32-545", L"S-1-5-11", L"S-1-5-4", L"S-1-5-19", L"S-1-5-20"};

// The owner as SDDL ("O:BA"), empty when none is set.
std::wstring OwnerOf(PSECURITY_DESCRIPTOR pDescriptor) {
    LPWSTR pszText = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(pDescriptor, SDDL_REVISION_1,
                                                              OWNER_SECURITY_INFORMATION, &pszText, nullptr))
        return L"?";
    const std::wstring text = pszText;
    LocalFree(pszText);
    return text;
}

TEST(ObjectSecurityTest, DescriptorsAreProtectedAndServiceAccountsHaveFullControl) {
    const struct {
        SecuredObject kind;
        ACCESS_MASK full;
        const wchar_t* pszOwner;  // empty: the creator's, as SDDL
        bool bServiceAccountsAlone;
    } cases[] = {{SecuredObject::LogFolder, FILE_ALL_ACCESS, L"", false},
                 {SecuredObject::ProviderFile, FILE_ALL_ACCESS, L"", false},
                 {SecuredObject::SharedSection, SECTION_ALL_ACCESS, L"O:BA", true},
                 {SecuredObject::CredentialsKey, KEY_ALL_ACCESS, L"O:BA", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        CObjectSecurity security(c.kind);
        SECURITY_ATTRIBUTES* pAttributes = security.Attributes();
        ASSERT_NE(pAttributes, nullptr);
        EXPECT_FALSE(pAttributes->bInheritHandle);
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD dwRevision = 0;
        ASSERT_TRUE(GetSecurityDescriptorControl(pAttributes->lpSecurityDescriptor, &control, &dwRevision));
        EXPECT_TRUE(control & SE_DACL_PRESENT);
        EXPECT_TRUE(control & SE_DACL_PROTECTED) << "inherits from the parent";
        ASSERT_NE(security.Dacl(), nullptr) << "a NULL DACL";
        for (const wchar_t* pszSid : kServiceAccounts)
            EXPECT_EQ(GrantsFor(security.Dacl(), pszSid).onObject & c.full, c.full) << ToUtf8(pszSid);
        EXPECT_EQ(AdmitsOnlyServiceAccounts(TRUE, security.Dacl()), c.bServiceAccountsAlone);
        EXPECT_EQ(OwnerOf(pAttributes->lpSecurityDescriptor), c.pszOwner);
    }
}

// Other accounts: what they may do with the folder, with the files the
// provider creates, and with files they add to the folder themselves.
TEST(ObjectSecurityTest, OtherAccountsMayAddTheirOwnLogsButNeitherReadNorChangeOthers) {
    CObjectSecurity folder(SecuredObject::LogFolder), file(SecuredObject::ProviderFile),
        section(SecuredObject::SharedSection), credentials(SecuredObject::CredentialsKey);
    for (const wchar_t* pszSid : kOtherAccounts) {
        SCOPED_TRACE(ToUtf8(pszSid));
        const Grants onFolder = GrantsFor(folder.Dacl(), pszSid);
        EXPECT_EQ(onFolder.onObject & kChange, 0u);
        EXPECT_EQ(onFolder.toNewFiles, 0u) << "files in the folder are handed down to everybody";
        EXPECT_EQ(GrantsFor(file.Dacl(), pszSid).onObject, 0u) << "a provider file is open to others";
        EXPECT_EQ(GrantsFor(section.Dacl(), pszSid).onObject, 0u);
        EXPECT_EQ(GrantsFor(credentials.Dacl(), pszSid).onObject, 0u) << "others may read the password";
    }
    // Users list the folder and add their files to it, as ProgramData allows.
    const ACCESS_MASK kAddFiles = FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_TRAVERSE;
    EXPECT_EQ(GrantsFor(folder.Dacl(), L"S-1-5-32-545").onObject & kAddFiles, kAddFiles);
    // A file a user adds is the user's to read, write and delete, not to
    // give away; an owner gets nothing beyond reading the permissions.
    const Grants creator = GrantsFor(folder.Dacl(), L"S-1-3-0");
    EXPECT_EQ(creator.onObject, 0u);
    EXPECT_EQ(creator.toNewFiles & (kRead | kWrite | DELETE), kRead | kWrite | DELETE);
    EXPECT_EQ(creator.toNewFiles & (WRITE_DAC | WRITE_OWNER), 0u);
    for (const CObjectSecurity* pSecurity : {&folder, &file}) {
        const ACCESS_MASK owner = GrantsFor(pSecurity->Dacl(), L"S-1-3-4").onObject;
        EXPECT_EQ(owner, static_cast<ACCESS_MASK>(READ_CONTROL));
    }
    // The account that creates a provider file (the test's, not a service
    // account here) reads, writes and deletes it, and no more.
    const Grants own = GrantsFor(file.Dacl(), CurrentUserSid().c_str());
    EXPECT_EQ(own.onObject & (kRead | kWrite | DELETE), kRead | kWrite | DELETE);
    EXPECT_EQ(own.onObject & (WRITE_DAC | WRITE_OWNER), 0u);
}

// A section found with a weaker DACL than the provider gives was planted.
TEST(ObjectSecurityTest, OnlyADaclForTheServiceAccountsAloneAdmitsOnlyThem) {
    // A NULL DACL and none at all let everybody in.
    EXPECT_FALSE(AdmitsOnlyServiceAccounts(TRUE, nullptr));
    EXPECT_FALSE(AdmitsOnlyServiceAccounts(FALSE, nullptr));
    const struct {
        const wchar_t* pszSddl;
        bool bOnlyServiceAccounts;
    } cases[] = {
        {L"D:(A;;GA;;;SY)(A;;GA;;;BA)", true},
        {L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;LS)(A;;GA;;;NS)", false},
        {L"D:(A;;GA;;;SY)(A;;GR;;;BU)", false},
        {L"D:(A;;GA;;;SY)(A;;0x1;;;WD)", false},
        {L"D:(D;;GA;;;WD)(A;;GA;;;BA)", true},  // denying others is fine
        {L"D:", true},                          // an empty DACL lets nobody in
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.pszSddl));
        PSECURITY_DESCRIPTOR pDescriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.pszSddl, SDDL_REVISION_1, &pDescriptor,
                                                                         nullptr));
        BOOL bPresent = FALSE, bDefaulted = FALSE;
        PACL pDacl = nullptr;
        GetSecurityDescriptorDacl(pDescriptor, &bPresent, &pDacl, &bDefaulted);
        EXPECT_TRUE(bPresent);
        EXPECT_EQ(AdmitsOnlyServiceAccounts(bPresent, pDacl), c.bOnlyServiceAccounts);
        LocalFree(pDescriptor);
    }
}

// An existing log folder is used only when one the service may trust owns it.
TEST(ObjectSecurityTest, LogFolderOwnersTheServiceTrusts) {
    const wchar_t* const kProcessUser = L"S-1-5-21-1-2-3-1001";
    const struct {
        const wchar_t* pszOwner;
        bool bTrusted;
    } cases[] = {
        {L"S-1-5-18", true},
        {L"S-1-5-32-544", true},
        {L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", true},  // TrustedInstaller
        {kProcessUser, true},
        {L"S-1-5-21-1-2-3-1002", false},  // another user
        {L"S-1-5-32-545", false},         // Users
        {L"S-1-5-19", false},             // LOCAL SERVICE
        {L"S-1-1-0", false},              // Everyone
    };
    PSID pProcessUser = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidW(kProcessUser, &pProcessUser));
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.pszOwner));
        PSID pOwner = nullptr;
        ASSERT_TRUE(ConvertStringSidToSidW(c.pszOwner, &pOwner));
        EXPECT_EQ(IsTrustedFolderOwner(pOwner, pProcessUser), c.bTrusted);
        LocalFree(pOwner);
    }
    LocalFree(pProcessUser);
}

}  // namespace
