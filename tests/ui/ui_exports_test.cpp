// The UI exports called in this process: results, argument tracing, and the
// installation check against the TAPI32 stand-in's provider list.
// ctest-lock: registry
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/BoundedString.h"
#include "config/ProviderIdentity.h"
#include "config/ProviderList.h"
#include "manager/Installation.h"
#include "model/ProviderState.h"
#include "provider/TspiExports.h"
#include "support/RegistryFixture.h"
#include "support/TestFiles.h"
#include "support/TraceCapture.h"

namespace {

HMODULE LoadTapi32Double() { return LoadLibraryW(GetEnv(L"ORVO_TAPI32_DOUBLE").c_str()); }

class UiExportsTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(LoadTapi32Double(), nullptr) << "ORVO_TAPI32_DOUBLE: " << ToUtf8(GetEnv(L"ORVO_TAPI32_DOUBLE"));
        ASSERT_EQ(GetModuleHandleW(L"TAPI32.DLL"), LoadTapi32Double()) << "TAPI32.DLL is not the stand-in";
        FreeLibrary(GetModuleHandleW(L"TAPI32.DLL"));
        StrCopy(g_szTSPName, L"ORVOTSP");
    }
    void TearDown() override { FreeLibrary(GetModuleHandleW(L"TAPI32.DLL")); }

    CRegistrySnapshot m_providers{HKEY_LOCAL_MACHINE, TAPI_PROVIDERS_KEY};
};

// One export per way of tracing: callback, handle, numbers, text, buffers and
// a failure; the result of a refusal; an export that traces from level 2 only.
TEST_F(UiExportsTest, ExportsTraceTheirArgumentsByTapiNameAndTheirResult) {
    struct Case {
        const wchar_t* pszExport;
        DWORD dwLevel;
        std::function<LONG()> call;
        std::vector<const wchar_t*> params;  // in order
        LONG lResult;
    };
    auto* pfnCallback = reinterpret_cast<TUISPIDLLCALLBACK>(0x1234);
    // lineConfigDialogEdit leaves the output configuration untouched.
    BYTE params[8] = {}, out[64], before[64];
    memset(out, 0xA5, sizeof(out));
    reinterpret_cast<VARSTRING*>(out)->dwTotalSize = sizeof(out);
    memcpy(before, out, sizeof(out));
    auto* pOut = reinterpret_cast<VARSTRING*>(out);
    auto hwnd = reinterpret_cast<HWND>(0x5678);
    const std::vector<Case> cases = {
        {L"TUISPI_lineConfigDialogEdit", 1,
         [&] { return TUISPI_lineConfigDialogEdit(pfnCallback, 3, hwnd, L"tapi/line", params, 8, pOut); },
         {L"_lpfnUIDLLCallback", L"_dwDeviceID", L"_hwndOwner", L"_lpszDeviceClass", L"_lpDeviceConfigIn",
          L"_dwSize", L"_lpDeviceConfigOut"},
         LINEERR_OPERATIONUNAVAIL},
        // This process does not run from the system folder: it refuses with 1.
        {L"TUISPI_DllInstall", 1, [&] { return TUISPI_DllInstall(5); }, {L"_dwParam"}, 1},
        {L"TUISPI_providerSetInitialData", 2, [&] { return TUISPI_providerSetInitialData(L"x=1"); },
         {L"_pszParams"}, 0},
    };
    ASSERT_TRUE(SetProviderList({}));
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.pszExport));
        const std::wstring prefix = std::wstring(L"Func.") + c.pszExport + L".";
        auto linesOf = [&](const CTraceCapture& capture) {
            std::vector<std::wstring> lines;
            for (const std::wstring& message : capture.Messages())
                if (message.rfind(prefix, 0) == 0) lines.push_back(message);
            return lines;
        };
        {
            CTraceCapture below(c.dwLevel - 1);
            EXPECT_EQ(c.call(), c.lResult);
            EXPECT_TRUE(linesOf(below).empty());
        }
        CTraceCapture capture(c.dwLevel);
        EXPECT_EQ(c.call(), c.lResult);
        std::vector<std::wstring> lines = linesOf(capture);
        ASSERT_GE(lines.size(), c.params.size() + 2);
        EXPECT_EQ(lines.front(), prefix + L"Begin");
        for (size_t i = 0; i < c.params.size(); ++i)
            EXPECT_EQ(lines[1 + i].rfind(prefix + L"Param." + c.params[i] + L" ", 0), 0u) << ToUtf8(lines[1 + i]);
        wchar_t szEnd[128];
        StrFormat(szEnd, L"Func.%s.End.Result 0x%08X", c.pszExport, static_cast<DWORD>(c.lResult));
        EXPECT_EQ(lines.back(), szEnd);
    }
    EXPECT_EQ(memcmp(out, before, sizeof(out)), 0);
}

TEST_F(UiExportsTest, DeviceClassAndParameterTextAreTracedOrNamedNull) {
    CTraceCapture capture(2);
    TUISPI_lineConfigDialogEdit(nullptr, 0, nullptr, nullptr, nullptr, 0, nullptr);
    TUISPI_lineConfigDialogEdit(nullptr, 0, nullptr, L"comm/datamodem", nullptr, 0, nullptr);
    TUISPI_providerSetInitialData(nullptr);
    TUISPI_providerSetInitialData(L"Server=pbx");
    for (const wchar_t* pszLine : {L"Func.TUISPI_lineConfigDialogEdit.Param._lpszDeviceClass NULL",
                                   L"Func.TUISPI_lineConfigDialogEdit.Param._lpszDeviceClass comm/datamodem",
                                   L"Func.TUISPI_providerSetInitialData.Param._pszParams NULL",
                                   L"Func.TUISPI_providerSetInitialData.Param._pszParams Server=pbx"})
        EXPECT_TRUE(capture.Contains(pszLine)) << ToUtf8(pszLine);
}

// TAPI must not list the provider twice: any listed entry whose file name,
// after its last backslash, is ours in any case blocks the installation.
TEST_F(UiExportsTest, InstallRefusesWhenTapiAlreadyListsThisFileName) {
    struct Case {
        const wchar_t* pszTSPName;
        ProviderList listed;
        LONG lExpected;
    };
    ProviderList manyThenOurs;  // ours after forty others
    for (DWORD i = 0; i < 40; ++i)
        manyThenOurs.emplace_back(L"C:\\Windows\\System32\\provider" + std::to_wstring(i) + L".tsp", i);
    manyThenOurs.emplace_back(L"orvotsp.tsp", 99);
    const std::vector<Case> cases = {
        {L"ORVOTSP", {}, 0},
        {L"ORVOTSP", {{L"unimodem.tsp", 1}, {L"ORVOTSP.TSP", 2}}, LINEERR_NOMULTIPLEINSTANCE},
        {L"ORVOTSP", {{L"C:\\WINDOWS\\system32\\orvotsp.tsp", 2}}, LINEERR_NOMULTIPLEINSTANCE},
        {L"ORVOTSP", {{L"XORVOTSP.TSP", 3}}, 0},
        {L"ORVOTSP", {{L"ORVOTSP.TSP.OLD", 3}}, 0},
        {L"ORVOTSP", {{L"", 3}, {L"orvotsp.tsp", 4}}, LINEERR_NOMULTIPLEINSTANCE},
        {L"ORVOTSP", manyThenOurs, LINEERR_NOMULTIPLEINSTANCE},
        {L"ORVOTSP_2", {{L"ORVOTSP.TSP", 3}}, 0},
        {L"ORVOTSP_2", {{L"C:\\WINDOWS\\SYSTEM32\\orvotsp_2.tsp", 3}}, LINEERR_NOMULTIPLEINSTANCE},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(testing::Message() << "case " << i);
        StrCopy(g_szTSPName, c.pszTSPName);
        ASSERT_TRUE(SetProviderList(c.listed));
        g_dwPermanentProviderID = 0;
        EXPECT_EQ(TUISPI_providerInstall(nullptr, nullptr, 30 + static_cast<DWORD>(i)), c.lExpected);
        EXPECT_EQ(g_dwPermanentProviderID, 30 + i);
    }
}

TEST_F(UiExportsTest, InstallPassesOnTheErrorOfTheProviderListAndFailsWithoutTapi32) {
    ASSERT_TRUE(SetProviderList({}));
    ASSERT_TRUE(SetEnvironmentVariableW(L"ORVO_TAPI32_LIST_RESULT", L"80000050"));
    EXPECT_EQ(TUISPI_providerInstall(nullptr, nullptr, 7), static_cast<LONG>(0x80000050));
    SetEnvironmentVariableW(L"ORVO_TAPI32_LIST_RESULT", nullptr);
    // Only the stand-in may be loaded (tapi32=n): without it there is no TAPI32.
    while (GetModuleHandleW(L"TAPI32.DLL") != nullptr) FreeLibrary(GetModuleHandleW(L"TAPI32.DLL"));
    EXPECT_EQ(TUISPI_providerInstall(nullptr, nullptr, 7), LINEERR_OPERATIONFAILED);
    ASSERT_NE(LoadTapi32Double(), nullptr);
}

// Only an installer started from the system folder (or below it) may install or remove.
TEST(UiInstallHostTest, SystemFolderIsRecognisedByTheHostsFolderOnly) {
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"C:\\WINDOWS\\SYSTEM32\\RUNDLL32.EXE", true}, {L"C:\\WINDOWS\\SYSTEM32\\SUB\\SETUP.EXE", true},
        {L"C:\\PROGRAM FILES\\ORVO\\SETUP.EXE", false}, {L"C:\\TOOLS\\SYSTEM32.EXE", false},
        {L"C:\\WINDOWS\\SYSWOW64\\RUNDLL32.EXE", false},  {L"", false}};
    const std::wstring saved = g_szProcessPath;
    for (const auto& [pszProcessPath, bExpected] : cases) {
        StrCopy(g_szProcessPath, pszProcessPath);
        EXPECT_EQ(IsHostInSystemFolder(), bExpected) << ToUtf8(pszProcessPath);
    }
    StrCopy(g_szProcessPath, saved.c_str());
}

}  // namespace
