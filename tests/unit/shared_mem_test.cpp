// Which key, log folder and shared section a copy of the library uses, and
// who may open the section.
// ctest-lock: registry
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include "common/BoundedString.h"
#include "config/CSharedMem.h"
#include "config/ProviderIdentity.h"
#include "support/TestFiles.h"
#include "support/Permissions.h"

namespace {

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

// The section a provider makes admits the service accounts only: the
// password is in it. One of the name that others may open was planted, and
// is not used; the process works on a private record then.
TEST(SharedMemTest, SectionAdmitsOnlyTheServiceAccountsAndAPlantedOneIsRefused) {
    const std::wstring made = UniqueSuffix(L"MADE");
    CSharedMem mem;
    ASSERT_NO_FATAL_FAILURE(Open(mem, made));
    EXPECT_FALSE(mem.WasRefused());
    HANDLE hSection = OpenFileMappingW(READ_CONTROL, FALSE, mem.Name());
    ASSERT_NE(hSection, nullptr);
    for (const wchar_t* pszSid : {L"S-1-1-0", L"S-1-5-32-545", L"S-1-5-11", L"S-1-5-4", L"S-1-5-18", L"S-1-5-32-544"}) {
        bool bRead = false;
        const ACCESS_MASK granted = GrantsOn(hSection, SE_KERNEL_OBJECT, pszSid, &bRead).onObject;
        EXPECT_TRUE(bRead);
        const bool bServiceAccount = wcscmp(pszSid, L"S-1-5-18") == 0 || wcscmp(pszSid, L"S-1-5-32-544") == 0;
        EXPECT_EQ(granted, bServiceAccount ? static_cast<ACCESS_MASK>(SECTION_ALL_ACCESS) : 0u) << ToUtf8(pszSid);
    }
    CloseHandle(hSection);
    CSharedMem again;
    ASSERT_NO_FATAL_FAILURE(Open(again, made));
    const ProviderSettings* pShared = g_pProviderSettings;

    const struct {
        const wchar_t* pszWhat;
        const wchar_t* pszSddl;  // null: a NULL DACL
    } planted[] = {
        {L"NULL DACL", nullptr},
        {L"Everyone may read", L"D:(A;;GA;;;BA)(A;;GR;;;WD)"},
        {L"Users may write", L"D:(A;;GA;;;BA)(A;;GA;;;BU)"},
        {L"another account owns it", L"O:S-1-5-21-1-2-3-1001D:P(A;;GA;;;SY)(A;;GA;;;BA)"},
    };
    for (const auto& c : planted) {
        SCOPED_TRACE(ToUtf8(c.pszWhat));
        SECURITY_DESCRIPTOR nullDacl;
        InitializeSecurityDescriptor(&nullDacl, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&nullDacl, TRUE, nullptr, FALSE);
        PSECURITY_DESCRIPTOR pDescriptor = &nullDacl;
        if (c.pszSddl != nullptr) {
            ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.pszSddl, SDDL_REVISION_1, &pDescriptor,
                                                                             nullptr));
        }
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), pDescriptor, FALSE};
        const std::wstring name = UniqueSuffix(L"PLANTED") + std::to_wstring(&c - planted);
        HANDLE hPlanted = CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0,
                                             sizeof(ProviderSettings), (SHARED_FILE_NAME + name).c_str());
        if (c.pszSddl != nullptr) LocalFree(pDescriptor);
        ASSERT_NE(hPlanted, nullptr);
        auto* pPlanted = static_cast<ProviderSettings*>(MapViewOfFile(hPlanted, FILE_MAP_ALL_ACCESS, 0, 0, 0));
        ASSERT_NE(pPlanted, nullptr);

        CSharedMem refusing;
        refusing.SetName(name.c_str());
        refusing.Open(0, 0, nullptr);
        EXPECT_FALSE(refusing.IsMapped());
        EXPECT_TRUE(refusing.WasRefused());
        EXPECT_NE(g_pProviderSettings, pShared) << "no private record";
        StrCopy(g_pProviderSettings->Password, L"not for the planter");
        EXPECT_STREQ(pPlanted->Password, L"");
        UnmapViewOfFile(pPlanted);
        CloseHandle(hPlanted);
    }
}

// Mapped views in this process, counted region by region.
size_t MappedViews() {
    size_t nViews = 0;
    MEMORY_BASIC_INFORMATION info{};
    for (BYTE* p = nullptr; VirtualQuery(p, &info, sizeof(info)) == sizeof(info);
         p = static_cast<BYTE*>(info.BaseAddress) + info.RegionSize)
        if (info.Type == MEM_MAPPED && info.BaseAddress == info.AllocationBase) ++nViews;
    return nViews;
}

// Each load of the library opens the section and each unload closes it: a
// view left mapped would pile up, one per reload, for the life of the host.
TEST(SharedMemTest, CloseGivesTheViewBackSoThatReloadsLeaveViewsFlat) {
    const std::wstring name = UniqueSuffix(L"VIEWS");
    const size_t nBefore = MappedViews();
    for (int i = 0; i < 100; ++i) {
        CSharedMem mem;
        ASSERT_NO_FATAL_FAILURE(Open(mem, name));
        mem.Close();
    }
    EXPECT_EQ(MappedViews(), nBefore);
}

// ORVOTSP-2.TSP and OTHER.TSP are loaded for real in the start-up integration test.
TEST(ProviderIdentityTest, DerivedFromTheFileName) {
    const struct {
        const wchar_t *pszModule, *pszProcess, *pszName, *pszExtension, *pszKey, *pszLogFolder, *pszSection;
    } cases[] = {
        {L"C:\\WINDOWS\\system32\\ORVOTSP.TSP", L"C:\\WINDOWS\\SYSTEM32\\SVCHOST.EXE", L"ORVOTSP", L"",
         L"SOFTWARE\\ORVO\\TAPI", L"ORVO TAPI", L"Global\\SharedMemORVOAPITSPORVOTSP"},
        {L"C:\\x\\ORVOTSP_2.TSP", L"C:\\APP.EXE", L"ORVOTSP_2", L"2", L"SOFTWARE\\ORVO\\2", L"2",
         L"Global\\SharedMemORVOAPITSPORVOTSP_2"},
        {L"C:\\x\\orvotsp_3.tsp", L"C:\\APP.EXE", L"orvotsp_3", L"3", L"SOFTWARE\\ORVO\\3", L"3",
         L"Global\\SharedMemORVOAPITSPorvotsp_3"},
        {L"C:\\x\\ORVOTSPLAB.TSP", L"C:\\APP.EXE", L"ORVOTSPLAB", L"LAB", L"SOFTWARE\\ORVO\\LAB", L"LAB",
         L"Global\\SharedMemORVOAPITSPORVOTSPLAB"},
        {L"C:\\x\\ORVO TSP.2.TSP", L"C:\\APP.EXE", L"ORVO TSP.2", L"", L"SOFTWARE\\ORVO\\ORVO TSP.2", L"ORVO TSP.2",
         L"Global\\SharedMemORVOAPITSPORVO_TSP_2"},
        // The Windows installer loads the library under a temporary name.
        {L"C:\\WINDOWS\\Installer\\MSI1A2B.tmp", L"C:\\WINDOWS\\SYSTEM32\\MSIEXEC.EXE", L"ORVOTSP", L"",
         L"SOFTWARE\\ORVO\\TAPI", L"ORVO TAPI", L"Global\\SharedMemORVOAPITSPORVOTSP"},
    };
    for (const auto& c : cases) {
        StrCopy(g_szProcessPath, c.pszProcess);
        SetupFileDataFromPath(c.pszModule);
        BuildLocalRegPath();
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        EXPECT_STREQ(c.pszModule, g_szModulePath);
        EXPECT_STREQ(c.pszName, g_szTSPName);
        EXPECT_STREQ(c.pszExtension, g_szTSPNameExtension);
        EXPECT_STREQ(c.pszKey, g_szLocalRegPath);
        EXPECT_STREQ(c.pszLogFolder, LogSubfolderName());
        CSharedMem mem;
        mem.SetName(g_szTSPName);
        mem.Open(0, 0, nullptr);
        EXPECT_STREQ(c.pszSection, mem.Name());
    }
}
}  // namespace
