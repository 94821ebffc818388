// The debug log as a reader of its files sees it.
#include <gtest/gtest.h>

#include <regex>

#include "common/BoundedString.h"
#include "log/CLoggingFileWithEvent.h"
#include "log/ExeName.h"
#include "support/TestFiles.h"
#include "support/TraceCapture.h"

namespace {

class LoggingFileTest : public testing::Test {
protected:
    void SetUp() override {
        StrCopy(g_szLogPath, m_dir.Path().c_str());
        m_exe = GetExeName();
        m_log.SetFileNamePattern((m_dir.Path() + L"\\ORVOTSP" + m_exe + L"_%03d.LOG").c_str());
        m_log.m_dwDebugLevel = 6;
        m_log.m_dwMaxFiles = 5;
    }

    std::wstring LogFile(int nNumber) const {
        wchar_t szName[64];
        StrFormat(szName, L"%03d.LOG", nNumber);
        return m_dir.File(L"ORVOTSP" + m_exe + L"_" + szName);
    }

    std::vector<std::wstring> Messages(int nNumber = 0) const { return LogMessages(ReadFileBytes(LogFile(nNumber))); }

    CTempDir m_dir{L"logtest"};
    std::wstring m_exe;
    CLoggingFileWithEvent m_log;
};

// Only levels up to the threshold are written.
TEST_F(LoggingFileTest, LineHasUtcHeaderProcessAndThreadAndEndsInCrLf) {
    g_dwLastLogThreadId = GetCurrentThreadId();
    m_log.m_dwDebugLevel = 5;
    m_log.Write(6, L"too detailed");
    m_log.Write(5, L"hello %d %s", 42, L"B\u00fcro");
    std::string bytes = ReadFileBytes(LogFile(0));
    std::regex line(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \( *(\d+): *(\d+)\) - hello 42 B\xC3\xBCro\r\n$)");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(bytes, match, line)) << bytes;
    EXPECT_EQ(std::stoul(match[1]), GetCurrentProcessId());
    EXPECT_EQ(std::stoul(match[2]), GetCurrentThreadId());
    // Both ids are right-aligned in five places.
    EXPECT_EQ(bytes[24], '(');
    EXPECT_EQ(bytes[30], ':');
}

TEST_F(LoggingFileTest, FileOfExactlyTheLimitIsKeptAndOneByteMoreRotates) {
    g_dwLastLogThreadId = GetCurrentThreadId();
    m_log.Write(0, L"x");
    LONGLONG nSize = static_cast<LONGLONG>(ReadFileBytes(LogFile(0)).size());
    m_log.m_nMaxLogFileSize = nSize * 2;
    EXPECT_EQ(m_log.Write(0, L"x"), 0) << "a file below the limit";
    EXPECT_EQ(static_cast<LONGLONG>(ReadFileBytes(LogFile(0)).size()), nSize * 2);
    EXPECT_EQ(m_log.Write(0, L"y"), 0) << "a file of exactly the limit is not rotated";
    EXPECT_EQ(m_log.Write(0, L"z"), 1) << "past the limit the line starts a new file";
    EXPECT_EQ(Messages(0), std::vector<std::wstring>{L"z"});
    EXPECT_EQ(Messages(1), (std::vector<std::wstring>{L"x", L"x", L"y"}));
}

// A rotation shifts the series by one and drops what lies beyond MaxFiles;
// files of other executables in the same folder are never touched.
TEST_F(LoggingFileTest, RotationShiftsTheSeriesAndDropsWhatLiesBeyondMaxFiles) {
    const std::wstring other = m_dir.File(L"ORVOTSPsvchost_004.LOG");
    ASSERT_TRUE(WriteFileBytes(other, "service"));
    for (const DWORD dwMaxFiles : {5u, 2u}) {
        SCOPED_TRACE(dwMaxFiles);
        m_log.m_dwMaxFiles = dwMaxFiles;
        for (int i = 0; i < 5; ++i) ASSERT_TRUE(WriteFileBytes(LogFile(i), "file " + std::to_string(i)));
        m_log.OnRotate();
        EXPECT_EQ(m_log.m_dwLogFileNr, 0u);
        for (DWORD i = 0; i <= 5; ++i)
            EXPECT_EQ(FileExists(LogFile(i)) ? ReadFileBytes(LogFile(i)) : "(none)",
                      i == 0 || i >= dwMaxFiles ? "(none)" : "file " + std::to_string(i - 1)) << i;
        EXPECT_EQ(ReadFileBytes(other), "service");
    }
}

// A start-up that already wrote lines still begins a fresh 000: the open file
// is closed so that the shift can rename it.
TEST_F(LoggingFileTest, NewFileAtStartUpShiftsAFileAlreadyWrittenTo) {
    m_log.Write(0, L"settings read");
    m_log.StartNewFile();
    m_log.Write(0, L"banner");
    EXPECT_EQ(Messages(0), std::vector<std::wstring>{L"banner"});
    EXPECT_EQ(Messages(1), std::vector<std::wstring>{L"settings read"});
}

// A name someone took beforehand (a second name of another file here; a
// file of another account is refused alike) is skipped for the next free
// one: the log goes on, and what was planted stays as it was.
TEST_F(LoggingFileTest, LogFileNamesTakenBeforehandAreSkippedForTheNextFreeName) {
    const std::wstring victim = m_dir.File(L"victim.txt");
    ASSERT_TRUE(WriteFileBytes(victim, "victim"));
    const std::wstring stem = L"ORVOTSP" + m_exe + L"_000";
    for (const wchar_t* pszTaken : {L".LOG", L"-1.LOG"})
        ASSERT_TRUE(CreateHardLinkW(m_dir.File(stem + pszTaken).c_str(), victim.c_str(), nullptr));
    m_log.Write(0, L"still logged");
    EXPECT_EQ(LogMessages(ReadFileBytes(m_dir.File(stem + L"-2.LOG"))), std::vector<std::wstring>{L"still logged"});
    EXPECT_EQ(ReadFileBytes(victim), "victim");
}

// With no pattern (no usable log folder) nothing is written anywhere; a "%"
// in the pattern is the integration test's (an executable named so).
TEST_F(LoggingFileTest, WithoutAFileNamePatternNothingIsWritten) {
    CLoggingFileWithEvent log;
    log.SetFileNamePattern(L"");
    log.Write(0, L"nowhere");
    EXPECT_EQ(log.m_hFile, INVALID_HANDLE_VALUE);
}

TEST_F(LoggingFileTest, VeryLongMessageIsCutNotLost) {
    std::wstring longText(9000, L'a');
    m_log.Write(0, L"%s", longText.c_str());
    std::vector<std::wstring> messages = Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], std::wstring(8190, L'a'));
}

}  // namespace
