// The shared settings section: its names, what a second process and a second
// open see, and the private record when no section can be had.
// ctest-lock: registry
#include <gtest/gtest.h>

#include <cwctype>

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

TEST(SharedMemTest, TwoProcessesOfTheStandardProviderShareTheRecord) {
    CSharedMem mem;
    mem.SetName(L"ORVOTSP");
    mem.Open(0, 0, nullptr);
    ASSERT_TRUE(mem.IsMapped());
    EXPECT_STREQ(L"Global\\SharedMemORVOAPITSPORVOTSP", mem.Name());
    StrCopy(g_pProviderSettings->NumberFormat, L"3");
    StrCopy(g_pProviderSettings->LineFormat, L"0");
    g_pProviderSettings->ReinitRequested = 0;

    ASSERT_EQ(0, RunChildRole(L"shared-mem-peer", L"3", kChildTimeoutMs));

    EXPECT_STREQ(L"2", g_pProviderSettings->LineFormat);
    EXPECT_EQ(1u, g_pProviderSettings->ReinitRequested);
    g_pProviderSettings->ReinitRequested = 0;
}

TEST(SharedMemTest, OpensOfOneNameShareTheRecordAProviderCopyHasItsOwn) {
    const std::wstring standard = UniqueSuffix(L"ORVOTSP");
    CSharedMem first;
    first.SetName(standard.c_str());
    first.Open(0, 0, nullptr);
    ASSERT_TRUE(first.IsMapped());
    ProviderSettings* pFirst = g_pProviderSettings;
    StrCopy(pFirst->Name, L"K1234");

    CSharedMem second;
    second.SetName(standard.c_str());
    second.Open(0, 0, nullptr);
    ASSERT_TRUE(second.IsMapped());
    EXPECT_NE(pFirst, g_pProviderSettings);  // a view of its own
    EXPECT_STREQ(L"K1234", g_pProviderSettings->Name);
    StrCopy(g_pProviderSettings->LineFormat, L"1");
    EXPECT_STREQ(L"1", pFirst->LineFormat);

    const std::wstring copy = standard + L"_2";
    CSharedMem copyMem;
    copyMem.SetName(copy.c_str());
    copyMem.Open(0, 0, nullptr);
    ASSERT_TRUE(copyMem.IsMapped());
    EXPECT_EQ(std::wstring(SHARED_FILE_NAME) + copy, copyMem.Name());
    // A new section starts zeroed.
    const BYTE* pBytes = reinterpret_cast<const BYTE*>(g_pProviderSettings);
    for (size_t i = 0; i < sizeof(ProviderSettings); ++i) ASSERT_EQ(0, pBytes[i]) << "byte " << i;
    StrCopy(g_pProviderSettings->NumberFormat, L"3");
    EXPECT_STREQ(L"", pFirst->NumberFormat);
}

TEST(SharedMemTest, NamePartsAreCleanedAndCut) {
    const struct {
        std::wstring given;
        std::wstring suffix;
    } cases[] = {
        {L"A&B,C:D.E F", L"A_B_C_D_E_F"},
        {std::wstring(300, L'x'), std::wstring(255, L'x')},
    };
    for (const auto& c : cases) {
        CSharedMem mem;
        mem.SetName(c.given.c_str());
        EXPECT_EQ(c.suffix, mem.m_szSuffix);
    }
}

TEST(SharedMemTest, OptionalNameParts) {
    const std::wstring suffix = UniqueSuffix(L"PARTS");
    const std::wstring base = std::wstring(SHARED_FILE_NAME) + suffix;

    CSharedMem perUser;
    perUser.SetName(suffix.c_str());
    perUser.Open(1, 0, nullptr);
    wchar_t szUser[128] = {};
    DWORD cchUser = 127;
    ASSERT_TRUE(GetUserNameW(szUser, &cchUser));
    EXPECT_EQ(base + szUser, perUser.Name());

    // The checksums are decimal numbers, the same in every object, different for
    // different texts; the module's folder counts without regard to case.
    auto checksumPart = [&](DWORD bPerModule, const wchar_t* pszExtra) {
        CSharedMem mem;
        mem.SetName(suffix.c_str());
        mem.Open(0, bPerModule, pszExtra);
        std::wstring name = mem.Name();
        EXPECT_EQ(0u, name.find(base));
        std::wstring part = name.substr(base.size());
        EXPECT_FALSE(part.empty());
        for (wchar_t ch : part) EXPECT_TRUE(iswdigit(ch)) << "in " << part.size() << " characters";
        return part;
    };
    StrCopy(g_szModulePath, L"C:\\Windows\\System32\\ORVOTSP.TSP");
    const std::wstring upper = checksumPart(1, nullptr);
    EXPECT_EQ(checksumPart(0, L"dialog"), checksumPart(0, L"dialog"));
    EXPECT_NE(checksumPart(0, L"dialog"), checksumPart(0, L"service"));
    StrCopy(g_szModulePath, L"c:\\windows\\system32\\other.tsp");
    EXPECT_EQ(upper, checksumPart(1, nullptr));
}

// Without a section, or after closing it, the process works on a private record.
TEST(SharedMemTest, FallsBackToThePrivateRecord) {
    CSharedMem good;
    good.SetName(UniqueSuffix(L"GOOD").c_str());
    good.Open(0, 0, nullptr);
    ASSERT_TRUE(good.IsMapped());
    ProviderSettings* pShared = g_pProviderSettings;
    good.Close();
    EXPECT_FALSE(good.IsMapped());
    ASSERT_NE(nullptr, g_pProviderSettings);
    EXPECT_NE(pShared, g_pProviderSettings);

    // A backslash names an object folder that does not exist: no section can be had.
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
