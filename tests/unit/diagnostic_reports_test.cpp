// The start-up report of the installed providers and the report of running
// TAPI applications.
// ctest-lock: registry
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

#include "common/UniqueHandle.h"
#include "config/CVersionTool.h"
#include "config/DiagnosticReports.h"
#include "support/RegistryFixture.h"
#include "support/TestFiles.h"
#include "support/TraceCapture.h"

namespace {
const std::wstring kProviders = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Providers";
const std::wstring kPrefix = L"Func.PrintSystemInfoFile.";

std::wstring InSystemDir(const std::wstring& name) {
    wchar_t szDir[MAX_PATH] = {};
    GetSystemDirectoryW(szDir, MAX_PATH);
    return szDir + (L"\\" + name);
}

// Copies of the provider in the system folder, where the report looks.
class CSystemFolderCopies {
public:
    explicit CSystemFolderCopies(std::vector<std::wstring> names) : m_names(std::move(names)) {
        for (const std::wstring& name : m_names)
            EXPECT_TRUE(CopyFileW(GetEnv(L"ORVO_TSP_PATH").c_str(), InSystemDir(name).c_str(), FALSE));
    }
    ~CSystemFolderCopies() {
        for (const std::wstring& name : m_names) DeleteFileW(InSystemDir(name).c_str());
    }

private:
    std::vector<std::wstring> m_names;
};

// The four lines after each provider's file name.
std::vector<std::wstring> ProviderLines(const std::vector<std::wstring>& messages) {
    std::vector<std::wstring> lines;
    for (size_t i = 0; i < messages.size(); ++i) {
        if (messages[i].rfind(kPrefix + L"Info.FileName ", 0) != 0) continue;
        for (size_t j = i; j < messages.size() && j < i + 4; ++j) lines.push_back(messages[j]);
    }
    return lines;
}

// Empty, too long and absent names are passed over; the count is taken modulo
// 128, so 133 entries mean the first five.
TEST(DiagnosticReportsTest, SystemReportListsProvidersInTheSystemFolder) {
    CRegistrySnapshot snapshot(HKEY_LOCAL_MACHINE, kProviders);
    CSystemFolderCopies copies({L"ORVOREPORT_A.TSP", L"ORVOREPORT_C.TSP", L"ORVOREPORT_D.TSP"});
    const std::vector<std::wstring> files = {L"",  L"ORVOREPORT_A.TSP", L"ORVOREPORT_MISSING.TSP", std::wstring(300, L'L'),
                                             L"ORVOREPORT_C.TSP", L"ORVOREPORT_D.TSP"};
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProviders.c_str());
    ASSERT_TRUE(SetRegDword(HKEY_LOCAL_MACHINE, kProviders, L"NumProviders", 133));
    for (size_t i = 0; i < files.size(); ++i)
        ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, kProviders, (L"ProviderFilename" + std::to_wstring(i)).c_str(),
                                 files[i]));
    CTraceCapture capture(0);
    PrintSystemInfoFile();
    std::vector<std::wstring> expected;
    for (const wchar_t* pszName : {L"ORVOREPORT_A.TSP", L"ORVOREPORT_C.TSP"})
        expected.insert(expected.end(), {kPrefix + L"Info.FileName " + pszName, kPrefix + L"Info.FileVersion 1.0.0.33",
                                         kPrefix + L"Info.ProductVersion 1.1.0.0", std::wstring()});
    const std::vector<std::wstring> messages = capture.Messages();
    EXPECT_EQ(expected, ProviderLines(messages));
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(kPrefix + L"End", messages.back());
}

// The rest of the resource the report's versions come from; a file without
// one, or none at all, has empty texts.
TEST(DiagnosticReportsTest, VersionResourceOfTheProviderAndOfFilesWithoutOne) {
    CVersionTool version(GetEnv(L"ORVO_TSP_PATH").c_str());
    EXPECT_EQ(static_cast<DWORD>(VFT_DRV), version.m_FixedInfo.dwFileType);
    EXPECT_STREQ(L"ORVO Third Party TAPI  ", version.m_szFileDescription);
    EXPECT_STREQ(L"ORVO TAPI ", version.m_szProductName);
    EXPECT_STREQ(L"ORVOTSP.TSP", version.m_szOriginalFilename);
    CTempDir dir(L"version");
    ASSERT_TRUE(WriteFileBytes(dir.File(L"plain.txt"), "no resource here"));
    for (const std::wstring& path : {dir.File(L"plain.txt"), dir.File(L"missing.dll")}) {
        CVersionTool none(path.c_str());
        EXPECT_EQ(std::wstring(none.m_szFileVersion) + none.m_szProductVersion + none.m_szFileDescription +
                      none.m_szProductName + none.m_szOriginalFilename,
                  L"");
    }
}

TEST(DiagnosticReportsTest, TapiApplicationsAtMostEvery2SecondsAndNotWhileTheProviderStops) {
    HMODULE hTapi = LoadLibraryW(L"tapi32.dll");
    ASSERT_NE(nullptr, hTapi);
    wchar_t szExe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, szExe, MAX_PATH);
    CharUpperW(szExe);

    CTraceCapture capture(1);
    g_tLastTAPIAppsReport = 0;
    PrintTAPIApps(nullptr);
    // As if the report just made had started this second: the listing itself
    // can take longer than the window on a loaded machine.
    g_tLastTAPIAppsReport = time(nullptr);
    PrintTAPIApps(nullptr);
    const UniqueHandle stopped(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    g_tLastTAPIAppsReport = 0;
    PrintTAPIApps(stopped.get());
    std::vector<std::wstring> messages = capture.Messages();
    FreeLibrary(hTapi);

    EXPECT_EQ(1, std::count(messages.begin(), messages.end(), std::wstring(L"Func.PrintTAPIApps.Info.64Bit app ") + szExe));
    EXPECT_EQ(1, std::count(messages.begin(), messages.end(), L"Func.PrintTAPIApps.End"));
    EXPECT_EQ(2, std::count(messages.begin(), messages.end(), L"Func.PrintTAPIApps.Abort"));
}

}  // namespace
