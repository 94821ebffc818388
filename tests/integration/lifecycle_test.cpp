// The provider as tapisrv starts, identifies and stops it, through tapihost.
// A copy under a name of its own has a settings key, log folder and shared
// section of its own: its loads run beside the standard provider's
// tests in the same prefix (only the tests that move the ORVO folder wait).
// ctest-lock: program-data
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

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

// Handles and committed private memory of this process, as Wine reports them:
// GetProcessHandleCount and PrivateUsage read 0 there, the system's handle
// table and the address space do not.
size_t HandleCount() {
    struct Entry { USHORT pid, creator; UCHAR type, flags; USHORT value; PVOID object; ULONG access; };
    using QueryFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<BYTE> table(1 << 22);
    ULONG cb = 0;
    if (query == nullptr || query(16 /* SystemHandleInformation */, table.data(), static_cast<ULONG>(table.size()), &cb) != 0)
        return 0;
    const ULONG nEntries = *reinterpret_cast<const ULONG*>(table.data());
    const auto* entries = reinterpret_cast<const Entry*>(table.data() + sizeof(ULONG_PTR));
    return static_cast<size_t>(std::count_if(entries, entries + nEntries, [](const Entry& e) {
        return e.pid == static_cast<USHORT>(GetCurrentProcessId());
    }));
}

SIZE_T CommittedPrivateBytes() {
    SIZE_T cb = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const BYTE* p = nullptr; VirtualQuery(p, &region, sizeof(region)) == sizeof(region);
         p = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize)
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) cb += region.RegionSize;
    return cb;
}

// The telephony service loads, starts, stops and unloads the provider again
// and again over weeks: each cycle must give back every handle, its memory
// and every thread, or the service grows until it fails.
TEST_F(LifecycleTest, LoadsAndUnloadsLeaveHandlesMemoryAndThreadsAsTheyWere) {
    constexpr int kWarmUpCycles = 3;  // what Wine and WinHTTP set up once for the process
    constexpr int kCycles = 20;
    // A leak of one handle a cycle is 20.
    constexpr size_t kHandleSlack = 5;
    // One leaked event-client buffer a cycle alone would be 5 MB.
    constexpr SIZE_T kMemorySlack = 4 * 1024 * 1024;
    m_host.Unload();
    auto cycle = [&] {
        ASSERT_TRUE(m_host.Load(m_path));
        const ModuleRange range = RangeOf(m_host.Module());
        DWORD dwLines = 0;
        ASSERT_EQ(m_host.Start(&dwLines), 0);
        ASSERT_EQ(m_host.Shutdown(), 0);
        m_host.Unload();
        ASSERT_EQ(SettledThreadsStartedIn(range, 0), 0u) << "a thread of the provider outlived its unload";
    };
    for (int n = 0; n < kWarmUpCycles; ++n) ASSERT_NO_FATAL_FAILURE(cycle());
    const size_t nHandles = HandleCount();
    const SIZE_T cbPrivate = CommittedPrivateBytes();
    ASSERT_GT(nHandles, 0u) << "the handle table could not be read";
    for (int n = 0; n < kCycles; ++n) ASSERT_NO_FATAL_FAILURE(cycle()) << "cycle " << n;
    EXPECT_LE(HandleCount(), nHandles + kHandleSlack) << "from " << nHandles;
    EXPECT_LE(CommittedPrivateBytes(), cbPrivate + kMemorySlack) << "from " << cbPrivate;
}

}  // namespace
