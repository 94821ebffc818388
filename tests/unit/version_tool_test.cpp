// The library's version resource as CVersionTool reads it, and files without one.
#include <gtest/gtest.h>

#include "config/CVersionTool.h"
#include "support/TestFiles.h"

namespace {
TEST(VersionToolTest, ReadsTheProvidersVersionResource) {
    std::wstring path = GetEnv(L"ORVO_TSP_PATH");
    ASSERT_FALSE(path.empty());
    CVersionTool version(path.c_str());
    EXPECT_STREQ(L"1.0.0.33", version.m_szFileVersion);
    EXPECT_STREQ(L"1.1.0.0", version.m_szProductVersion);
    EXPECT_EQ(static_cast<DWORD>(VFT_DRV), version.m_FixedInfo.dwFileType);
    EXPECT_STREQ(L"ORVO Third Party TAPI  ", version.m_szFileDescription);
    EXPECT_STREQ(L"ORVO TAPI ", version.m_szProductName);
    EXPECT_STREQ(L"ORVOTSP.TSP", version.m_szOriginalFilename);
    EXPECT_STREQ(L"", version.m_szComments);
}

TEST(VersionToolTest, FilesWithoutVersionHaveEmptyTexts) {
    CTempDir dir(L"version");
    ASSERT_TRUE(WriteFileBytes(dir.File(L"plain.txt"), "no resource here"));
    for (const std::wstring& path : {dir.File(L"plain.txt"), dir.File(L"missing.dll")}) {
        CVersionTool version(path.c_str());
        EXPECT_STREQ(L"", version.m_szFileVersion);
        EXPECT_STREQ(L"", version.m_szProductVersion);
        EXPECT_STREQ(L"", version.m_szFileDescription);
        EXPECT_STREQ(L"", version.m_szProductName);
        EXPECT_STREQ(L"", version.m_szOriginalFilename);
    }
}
}  // namespace
