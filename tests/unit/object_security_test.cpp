// Who may do what with the log folder, its files and the shared section, as
// the provider's descriptors say (Wine keeps a file's DACL only as mode bits);
// and links or second names planted where the provider writes. Wine 8 makes
// no junctions: a symbolic link made on the Linux side shows as one.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "log/ObjectSecurity.h"
#include "log/ProtectedFiles.h"
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
    const struct { const wchar_t* pszSddl; bool bOnlyServiceAccounts; } cases[] = {
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
    const struct { const wchar_t* pszOwner; bool bTrusted; } cases[] = {
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

const wchar_t kEveryone[] = L"S-1-1-0";
constexpr ACCESS_MASK kWriteOrChange = FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC | WRITE_OWNER | DELETE;

class ProtectedFilesTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(CreateDirectoryW(Target().c_str(), nullptr));
        ASSERT_TRUE(WriteFileBytes(Victim(), "victim"));
    }
    void TearDown() override {
        DeleteFileW(Victim().c_str());
        for (const std::wstring& name : ListFiles(Target())) DeleteFileW((Target() + L"\\" + name).c_str());
        RemoveDirectoryW(Target().c_str());
    }

    std::wstring Target() const { return m_dir.File(L"elsewhere"); }
    std::wstring Victim() const { return m_dir.File(L"victim.txt"); }

    // Opens as the log does, writes a line and closes; whether it was opened.
    static bool WriteLine(const std::wstring& path) {
        HANDLE h = OpenProtectedFile(path.c_str(), OPEN_ALWAYS);
        if (h == INVALID_HANDLE_VALUE) return false;
        SetFilePointer(h, 0, nullptr, FILE_END);
        DWORD dwWritten = 0;
        WriteFile(h, "line\r\n", 6, &dwWritten, nullptr);
        CloseHandle(h);
        return true;
    }

    CTempDir m_dir{L"protected"};
};

// A file of ours, or none, is removed.
TEST_F(ProtectedFilesTest, NewFileIsWrittenNotWritableByEveryoneAndRemovedAgain) {
    const std::wstring path = m_dir.File(L"ORVOTSPtest_000.LOG");
    EXPECT_TRUE(RemoveProtectedFile(path.c_str())) << "no file is fine";
    ASSERT_TRUE(WriteLine(path));
    ASSERT_TRUE(WriteLine(path)) << "an existing file of ours is appended to";
    EXPECT_EQ(ReadFileBytes(path), "line\r\nline\r\n");
    bool bRead = false;
    EXPECT_EQ(GrantsOn(path, kEveryone, &bRead).onObject & kWriteOrChange, 0u) << ToUtf8(DaclText(path));
    EXPECT_TRUE(bRead);
    EXPECT_TRUE(RemoveProtectedFile(path.c_str()));
    EXPECT_FALSE(FileExists(path));
}

// Each way of planting something at the file's path; the victim and the
// linked folder are left exactly as they were, and what was planted stays.
TEST_F(ProtectedFilesTest, PlantedLinksAreNeitherWrittenNorRemoved) {
    const std::wstring hardLink = m_dir.File(L"hard.LOG");
    ASSERT_TRUE(CreateHardLinkW(hardLink.c_str(), Victim().c_str(), nullptr));
    CSymbolicLink fileLink(Victim(), m_dir.File(L"symbolic.LOG"));
    ASSERT_TRUE(fileLink.Made());
    CSymbolicLink folderLink(Target(), m_dir.File(L"linked"));
    ASSERT_TRUE(folderLink.Made());

    const struct {
        const wchar_t* pszWhat;
        std::wstring path;
        bool bPlanted;  // something stands at the path itself, which must stay
    } cases[] = {
        {L"a second name of another file", hardLink, true},
        {L"a symbolic link to another file", m_dir.File(L"symbolic.LOG"), true},
        {L"a file in a linked folder", m_dir.File(L"linked\\ORVOTSPtest_000.LOG"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.pszWhat));
        EXPECT_FALSE(WriteLine(c.path));
        EXPECT_EQ(INVALID_HANDLE_VALUE, OpenProtectedFile(c.path.c_str(), CREATE_NEW));
        EXPECT_EQ(INVALID_HANDLE_VALUE, OpenProtectedFile(c.path.c_str(), CREATE_ALWAYS));
        EXPECT_EQ(RemoveProtectedFile(c.path.c_str()), !c.bPlanted);
        EXPECT_EQ(ReadFileBytes(Victim()), "victim");
        EXPECT_TRUE(ListFiles(Target()).empty());
    }
    EXPECT_TRUE(FileExists(hardLink));
}

// The folders below a base are made with the protected DACL; one that exists
// keeps its own; a link among them leaves the process without a folder.
TEST_F(ProtectedFilesTest, FolderIsMadeBelowTheBaseOrRefusedWhenALinkStandsInItsWay) {
    std::wstring folder, why;
    ASSERT_TRUE(PrepareProtectedFolder(m_dir.Path().c_str(), L"ORVO\\ORVO TAPI", &folder, &why)) << ToUtf8(why);
    EXPECT_EQ(folder, m_dir.File(L"ORVO\\ORVO TAPI"));
    bool bRead = false;
    EXPECT_EQ(GrantsOn(folder, kEveryone, &bRead).onObject & kWriteOrChange, 0u) << ToUtf8(DaclText(folder));

    // An existing folder open to everybody stays so: it is not ours to change.
    const std::wstring open = m_dir.File(L"open");
    SECURITY_DESCRIPTOR everybody;
    InitializeSecurityDescriptor(&everybody, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&everybody, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), &everybody, FALSE};
    ASSERT_TRUE(CreateDirectoryW(open.c_str(), &attributes));
    const std::wstring before = DaclText(open);
    ASSERT_TRUE(PrepareProtectedFolder(m_dir.Path().c_str(), L"open", &folder, &why)) << ToUtf8(why);
    EXPECT_EQ(DaclText(open), before);
    RemoveDirectoryW(open.c_str());

    {
        CSymbolicLink link(Target(), m_dir.File(L"ORVO\\linked"));
        ASSERT_TRUE(link.Made());
        const std::wstring targetBefore = DaclText(Target());
        for (const wchar_t* pszRelative : {L"ORVO\\linked", L"ORVO\\linked\\below"}) {
            SCOPED_TRACE(ToUtf8(pszRelative));
            EXPECT_FALSE(PrepareProtectedFolder(m_dir.Path().c_str(), pszRelative, &folder, &why));
            EXPECT_TRUE(folder.empty());
            EXPECT_NE(why.find(L"linked"), std::wstring::npos) << ToUtf8(why);
        }
        EXPECT_EQ(DaclText(Target()), targetBefore);
        EXPECT_FALSE(FileExists(Target() + L"\\below"));
    }
    RemoveDirectoryW(m_dir.File(L"ORVO\\ORVO TAPI").c_str());
    RemoveDirectoryW(m_dir.File(L"ORVO").c_str());
}

}  // namespace
