// The shared settings section: its names, what a second process and a second
// open see, and the private record when no section can be had.
// ctest-lock: registry
#include <gtest/gtest.h>

#include "common/BoundedString.h"
#include "config/CSharedMem.h"
#include "config/ProviderIdentity.h"
#include "support/ChildProcess.h"

namespace {
constexpr DWORD kChildTimeoutMs = 60000;

// The partner process: opens the standard provider's section, checks what the
// parent wrote and answers in another field.
int SharedMemPeer(const std::wstring& expectedNumberFormat) {
    CSharedMem mem;
    mem.SetName(L"ORVOTSP");
    mem.Open(0, 0, nullptr);
    if (!mem.IsMapped()) return 2;
    if (expectedNumberFormat != g_pProviderSettings->NumberFormat) return 3;
    StrCopy(g_pProviderSettings->LineFormat, L"2");
    g_pProviderSettings->ReinitRequested = 1;
    return 0;
}
const bool kPeerRegistered = RegisterChildRole(L"shared-mem-peer", SharedMemPeer);

// A section name of this test process alone.
std::wstring UniqueSuffix(const wchar_t* pszTag) {
    wchar_t szSuffix[64];
    StrFormat(szSuffix, L"UNIT%s%lu", pszTag, GetCurrentProcessId());
    return szSuffix;
}

// Opens the section of the name, which g_pProviderSettings then points into.
void Open(CSharedMem& mem, const std::wstring& name) {
    mem.SetName(name.c_str());
    mem.Open(0, 0, nullptr);
    ASSERT_TRUE(mem.IsMapped());
}

TEST(SharedMemTest, TwoProcessesOfTheStandardProviderShareTheRecord) {
    CSharedMem mem;
    ASSERT_NO_FATAL_FAILURE(Open(mem, L"ORVOTSP"));
    EXPECT_STREQ(L"Global\\SharedMemORVOAPITSPORVOTSP", mem.Name());
    StrCopy(g_pProviderSettings->NumberFormat, L"3");
    StrCopy(g_pProviderSettings->LineFormat, L"0");
    g_pProviderSettings->ReinitRequested = 0;

    ASSERT_EQ(0, RunChildRole(L"shared-mem-peer", L"3", kChildTimeoutMs));

    EXPECT_STREQ(L"2", g_pProviderSettings->LineFormat);
    EXPECT_EQ(1u, g_pProviderSettings->ReinitRequested);
    g_pProviderSettings->ReinitRequested = 0;
}

// An open of the same name gets a view of its own on the same record; a
// provider copy's section starts zeroed and is apart.
TEST(SharedMemTest, OpensOfOneNameShareTheRecordAProviderCopyHasItsOwn) {
    const std::wstring standard = UniqueSuffix(L"ORVOTSP");
    CSharedMem first, second, copyMem;
    ASSERT_NO_FATAL_FAILURE(Open(first, standard));
    ProviderSettings* pFirst = g_pProviderSettings;
    StrCopy(pFirst->Name, L"K1234");
    ASSERT_NO_FATAL_FAILURE(Open(second, standard));
    EXPECT_NE(pFirst, g_pProviderSettings);  // a view of its own
    EXPECT_STREQ(L"K1234", g_pProviderSettings->Name);
    StrCopy(g_pProviderSettings->LineFormat, L"1");
    EXPECT_STREQ(L"1", pFirst->LineFormat);

    const std::wstring copy = standard + L"_2";
    ASSERT_NO_FATAL_FAILURE(Open(copyMem, copy));
    EXPECT_EQ(std::wstring(SHARED_FILE_NAME) + copy, copyMem.Name());
    const BYTE* pBytes = reinterpret_cast<const BYTE*>(g_pProviderSettings);
    for (size_t i = 0; i < sizeof(ProviderSettings); ++i) ASSERT_EQ(0, pBytes[i]) << "byte " << i;
    StrCopy(g_pProviderSettings->NumberFormat, L"3");
    EXPECT_STREQ(L"", pFirst->NumberFormat);
}

// Without a section the process works on a private record. A backslash names
// an object folder that does not exist: no section can be had.
TEST(SharedMemTest, FallsBackToThePrivateRecord) {
    CSharedMem bad;
    bad.SetName(L"NO\\SUCH");
    bad.Open(0, 0, nullptr);
    EXPECT_FALSE(bad.IsMapped());
    ASSERT_NE(nullptr, g_pProviderSettings);
    StrCopy(g_pProviderSettings->NumberFormat, L"2");  // usable
    EXPECT_STREQ(L"2", g_pProviderSettings->NumberFormat);
    g_pProviderSettings->ReinitRequested = 0;
}
}  // namespace
