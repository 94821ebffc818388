// The start-up report with the installed telephony providers, and the report
// of running TAPI applications with its 2-second guard.
// ctest-lock: registry
#include <gtest/gtest.h>

#include <algorithm>

#include "log/DiagnosticReports.h"
#include "support/RegistryFixture.h"
#include "support/TestFiles.h"
#include "support/TraceCapture.h"

namespace {
const std::wstring kProviders = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Providers";
const wchar_t kPrefix[] = L"Func.PrintSystemInfoFile.";

std::wstring SystemDir() {
    wchar_t szDir[MAX_PATH] = {};
    GetSystemDirectoryW(szDir, MAX_PATH);
    return szDir;
}

// Copies of the provider in the system folder, where the report looks.
class CSystemFolderCopies {
public:
    explicit CSystemFolderCopies(std::vector<std::wstring> names) : m_names(std::move(names)) {
        for (const std::wstring& name : m_names)
            EXPECT_TRUE(CopyFileW(GetEnv(L"ORVO_TSP_PATH").c_str(), (SystemDir() + L"\\" + name).c_str(), FALSE));
    }
    ~CSystemFolderCopies() {
        for (const std::wstring& name : m_names) DeleteFileW((SystemDir() + L"\\" + name).c_str());
    }

private:
    std::vector<std::wstring> m_names;
};

std::vector<std::wstring> ProviderLines(const std::vector<std::wstring>& messages) {
    std::vector<std::wstring> lines;
    for (size_t i = 0; i < messages.size(); ++i) {
        if (messages[i].rfind(std::wstring(kPrefix) + L"Info.FileName ", 0) != 0) continue;
        for (size_t j = i; j < messages.size() && j < i + 4; ++j) lines.push_back(messages[j]);
    }
    return lines;
}

std::vector<std::wstring> ProviderBlock(const std::wstring& fileName) {
    return {std::wstring(kPrefix) + L"Info.FileName " + fileName, std::wstring(kPrefix) + L"Info.FileVersion 1.0.0.33",
            std::wstring(kPrefix) + L"Info.ProductVersion 1.1.0.0", L""};
}

// Empty, too long and absent names are passed over.
TEST(DiagnosticReportsTest, SystemReportListsProvidersInTheSystemFolder) {
    CRegistrySnapshot snapshot(HKEY_LOCAL_MACHINE, kProviders);
    CSystemFolderCopies copies({L"ORVOREPORT_A.TSP", L"ORVOREPORT_C.TSP"});
    const std::vector<std::wstring> files = {L"", L"ORVOREPORT_A.TSP", L"ORVOREPORT_MISSING.TSP",
                                             std::wstring(300, L'L'), L"ORVOREPORT_C.TSP"};
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProviders.c_str());
    ASSERT_TRUE(SetRegDword(HKEY_LOCAL_MACHINE, kProviders, L"NumProviders", 5));
    for (size_t i = 0; i < files.size(); ++i)
        ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, kProviders, (L"ProviderFilename" + std::to_wstring(i)).c_str(),
                                 files[i]));
    {
        CTraceCapture capture(0);
        PrintSystemInfoFile();
        std::vector<std::wstring> expected = ProviderBlock(L"ORVOREPORT_A.TSP");
        for (const std::wstring& line : ProviderBlock(L"ORVOREPORT_C.TSP")) expected.push_back(line);
        std::vector<std::wstring> messages = capture.Messages();
        EXPECT_EQ(expected, ProviderLines(messages));
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(std::wstring(kPrefix) + L"End", messages.back());
    }
    // Without the providers key the report ends after the machine's lines.
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProviders.c_str());
    CTraceCapture capture(0);
    PrintSystemInfoFile();
    EXPECT_TRUE(capture.Contains(std::wstring(kPrefix) + L"End"));
    EXPECT_TRUE(ProviderLines(capture.Messages()).empty());
}

TEST(DiagnosticReportsTest, TapiApplicationsAtMostEvery2Seconds) {
    HMODULE hTapi = LoadLibraryW(L"tapi32.dll");
    ASSERT_NE(nullptr, hTapi);
    wchar_t szExe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, szExe, MAX_PATH);
    CharUpperW(szExe);

    // The report's lines are of level one.
    {
        CTraceCapture quiet(0);
        g_tLastTAPIAppsReport = 0;
        PrintTAPIApps();
        EXPECT_TRUE(quiet.Messages().empty());
    }
    CTraceCapture capture(1);
    g_tLastTAPIAppsReport = 0;
    PrintTAPIApps();
    PrintTAPIApps();
    std::vector<std::wstring> messages = capture.Messages();
    FreeLibrary(hTapi);

    EXPECT_EQ(1, std::count(messages.begin(), messages.end(), std::wstring(L"Func.PrintTAPIApps.Info.64Bit app ") + szExe));
    EXPECT_EQ(2, std::count(messages.begin(), messages.end(), L"Func.PrintTAPIApps.Begin"));
    EXPECT_EQ(1, std::count(messages.begin(), messages.end(), L"Func.PrintTAPIApps.End"));
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(L"Func.PrintTAPIApps.Abort", messages.back());
    EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [](const std::wstring& m) {
        return m.rfind(L"Func.PrintTAPIApps.Var.dwNumberOfIDs ", 0) == 0;
    }));
}

}  // namespace
