// The provider as tapisrv starts, identifies and stops it, through tapihost.
// A copy under a name of its own has a settings key, log folder and shared
// section of its own: its loads run beside the standard provider's
// tests in the same prefix (only the tests that move the ORVO folder wait).
// ctest-lock: program-data
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "support/ProviderThreads.h"
#include "support/RegistryFixture.h"
#include "support/TestFiles.h"
#include "tools/tapihost/TapiHost.h"

namespace {

class LifecycleTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(CopyFileW(GetEnv(L"ORVO_TSP_PATH").c_str(), m_path.c_str(), FALSE)) << "ORVO_TSP_PATH";
        ASSERT_TRUE(m_host.Load(m_path)) << "cannot load " << ToUtf8(m_path);
    }

    CTempDir m_dir{L"lifecycle"};
    const std::wstring m_path = m_dir.File(L"ORVOTSP_LIFECYCLE.TSP");
    COfflineProviderSettings m_settings{L"SOFTWARE\\ORVO\\LIFECYCLE"};
    CTapiHost m_host;
};

TEST_F(LifecycleTest, VersionNegotiationSettlesOnTheHighestCommonVersion) {
    // dwExpectedVersion 0xDEADBEEF: left unwritten.
    const struct { DWORD dwLow, dwHigh; LONG lExpected; DWORD dwExpectedVersion; } cases[] = {
        {0x00010004, 0x00030000, 0, 0x00020002},
        {0x00020000, 0x00020000, 0, 0x00020000},
        {0x00020002, 0x00020002, 0, 0x00020002},
        {0x00010003, 0x00010004, 0, 0x00010004},
        {0x00030000, 0x00030001, LINEERR_INCOMPATIBLEAPIVERSION, 0xDEADBEEF},
        {0x00020001, 0x00020000, LINEERR_INCOMPATIBLEAPIVERSION, 0xDEADBEEF},
    };
    for (DWORD dwDeviceID : {DWORD(INITIALIZE_NEGOTIATION), DWORD(0), DWORD(5)}) {
        for (const auto& c : cases) {
            DWORD dwVersion = 0xDEADBEEF;
            EXPECT_EQ(m_host.NegotiateTSPIVersion(dwDeviceID, c.dwLow, c.dwHigh, &dwVersion), c.lExpected)
                << std::hex << c.dwLow << ".." << c.dwHigh;
            EXPECT_EQ(dwVersion, c.dwExpectedVersion) << std::hex << c.dwLow << ".." << c.dwHigh;
        }
    }
    EXPECT_EQ(m_host.NegotiateTSPIVersion(INITIALIZE_NEGOTIATION, 0x00020000, 0x00020002, nullptr),
              LINEERR_INVALPOINTER);
    // Extension versions: none for lines, phone negotiation refused and nothing written.
    using ExtFn = LONG(WINAPI*)(DWORD, DWORD, DWORD, DWORD, LPDWORD);
    DWORD dwExt = 0xDEADBEEF;
    EXPECT_EQ(m_host.ExportAs<ExtFn>("TSPI_lineNegotiateExtVersion")(0, 0x20002, 1, 2, &dwExt), 0);
    EXPECT_EQ(dwExt, 0u);
    DWORD dwVersion = 0xDEADBEEF;
    EXPECT_EQ(m_host.ExportAs<LONG(WINAPI*)(DWORD, DWORD, DWORD, LPDWORD)>("TSPI_phoneNegotiateTSPIVersion")(
                  0, 0x20000, 0x20002, &dwVersion),
              PHONEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(dwVersion, 0xDEADBEEFu);
}

TEST_F(LifecycleTest, StartsWithoutAccountAndOffersNoDevices) {
    DWORD dwVersion = 0;
    ASSERT_EQ(m_host.NegotiateTSPIVersion(INITIALIZE_NEGOTIATION, 0x00020000, 0x00020002, &dwVersion), 0);
    DWORD dwLines = 99, dwPhones = 99;
    EXPECT_EQ(m_host.EnumDevices(&dwLines, &dwPhones), 0);
    EXPECT_EQ(dwLines, 0u);
    EXPECT_EQ(dwPhones, 0u);
    DWORD dwOptions = 0;
    EXPECT_EQ(m_host.Init(dwLines, &dwOptions), 0);
    EXPECT_EQ(dwOptions, static_cast<DWORD>(LINETSPIOPTION_NONREENTRANT));
    EXPECT_EQ(m_host.Shutdown(), 0);
    // A second start after the shutdown repeats the steps.
    EXPECT_EQ(m_host.Start(&dwLines), 0);
    EXPECT_EQ(m_host.Shutdown(), 0);
    EXPECT_TRUE(m_host.Events().empty());
}

TEST_F(LifecycleTest, NamesItsOwnFileAsTheUserInterfaceLibrary) {
    auto identify = m_host.ExportAs<LONG(WINAPI*)(LPWSTR)>("TSPI_providerUIIdentify");
    ASSERT_NE(identify, nullptr);
    wchar_t szName[MAX_PATH];
    wmemset(szName, L'#', MAX_PATH);
    EXPECT_EQ(identify(szName), 0);
    wchar_t szExpected[MAX_PATH] = {};
    GetModuleFileNameW(m_host.Module(), szExpected, MAX_PATH);
    EXPECT_STREQ(szName, szExpected);
}

// The telephony service loads, starts, stops and unloads the provider again
// and again over weeks: no thread of the provider may outlive a cycle, and
// the next load must start afresh. (Wine reports neither a process's handle
// count nor its private bytes: GetProcessHandleCount and PrivateUsage read 0.)
TEST_F(LifecycleTest, LoadsAndUnloadsLeaveNoThreadOfTheProviderRunning) {
    constexpr int kCycles = 20;
    m_host.Unload();
    for (int n = 0; n < kCycles; ++n) {
        SCOPED_TRACE(n);
        ASSERT_TRUE(m_host.Load(m_path));
        const ModuleRange range = RangeOf(m_host.Module());
        DWORD dwLines = 0;
        ASSERT_EQ(m_host.Start(&dwLines), 0);
        ASSERT_EQ(m_host.Shutdown(), 0);
        m_host.Unload();
        ASSERT_EQ(SettledThreadsStartedIn(range, 0), 0u) << "a thread of the provider outlived its unload";
    }
}

}  // namespace
