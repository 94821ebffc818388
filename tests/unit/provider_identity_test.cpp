// Which settings key, log folder and shared section a copy of the library
// uses, by its file name and host process.
#include <gtest/gtest.h>

#include "common/BoundedString.h"
#include "config/CSharedMem.h"
#include "config/ProviderIdentity.h"

namespace {
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
