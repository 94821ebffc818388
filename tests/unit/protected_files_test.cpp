// Log and exchange files and their folders where other local users can put
// things: a link or a second name planted at a path the provider writes to
// must not send its writes, or its deletions, anywhere else. Wine 8 makes no
// junctions; a symbolic link made on the Linux side shows as one.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "log/ProtectedFiles.h"
#include "support/Permissions.h"
#include "support/TestFiles.h"

namespace {

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

TEST_F(ProtectedFilesTest, NewFileIsWrittenAndNotWritableByEveryone) {
    const std::wstring path = m_dir.File(L"ORVOTSPtest_000.LOG");
    ASSERT_TRUE(WriteLine(path));
    ASSERT_TRUE(WriteLine(path)) << "an existing file of ours is appended to";
    EXPECT_EQ(ReadFileBytes(path), "line\r\nline\r\n");
    bool bRead = false;
    EXPECT_EQ(GrantsOn(path, kEveryone, &bRead).onObject & kWriteOrChange, 0u) << ToUtf8(DaclText(path));
    EXPECT_TRUE(bRead);
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

TEST_F(ProtectedFilesTest, RemovingAPlainFileOfOursOrNoneSucceeds) {
    const std::wstring path = m_dir.File(L"Login_SEQUENCE.TXT");
    EXPECT_TRUE(RemoveProtectedFile(path.c_str())) << "no file is fine";
    ASSERT_TRUE(WriteFileBytes(path, "old"));
    EXPECT_TRUE(RemoveProtectedFile(path.c_str()));
    EXPECT_FALSE(FileExists(path));
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
