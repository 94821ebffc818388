// The provider as tapisrv starts, identifies and stops it, through tapihost.
// ctest-lock: registry
#include <gtest/gtest.h>

#include <cstring>

#include "support/RegistryFixture.h"
#include "support/TestFiles.h"
#include "tools/tapihost/TapiHost.h"

namespace {

class LifecycleTest : public testing::Test {
protected:
    void SetUp() override {
        m_path = GetEnv(L"ORVO_TSP_PATH");
        ASSERT_FALSE(m_path.empty()) << "ORVO_TSP_PATH not set";
        ASSERT_TRUE(m_host.Load(m_path)) << "cannot load " << ToUtf8(m_path);
    }

    std::wstring m_path;
    COfflineProviderSettings m_settings;
    CTapiHost m_host;
};

TEST_F(LifecycleTest, VersionNegotiationSettlesOnTheHighestCommonVersion) {
    struct Case {
        DWORD dwLow, dwHigh;
        LONG lExpected;
        DWORD dwExpectedVersion;  // 0xDEADBEEF: left unwritten
    };
    const Case cases[] = {
        {0x00010004, 0x00030000, 0, 0x00020002},
        {0x00020000, 0x00020000, 0, 0x00020000},
        {0x00020002, 0x00020002, 0, 0x00020002},
        {0x00010003, 0x00010004, 0, 0x00010004},
        {0x00030000, 0x00030001, LINEERR_INCOMPATIBLEAPIVERSION, 0xDEADBEEF},
        {0x00020001, 0x00020000, LINEERR_INCOMPATIBLEAPIVERSION, 0xDEADBEEF},
    };
    for (DWORD dwDeviceID : {DWORD(INITIALIZE_NEGOTIATION), DWORD(0), DWORD(5)}) {
        for (const Case& c : cases) {
            DWORD dwVersion = 0xDEADBEEF;
            EXPECT_EQ(m_host.NegotiateTSPIVersion(dwDeviceID, c.dwLow, c.dwHigh, &dwVersion), c.lExpected)
                << std::hex << c.dwLow << ".." << c.dwHigh;
            EXPECT_EQ(dwVersion, c.dwExpectedVersion) << std::hex << c.dwLow << ".." << c.dwHigh;
        }
    }
    EXPECT_EQ(m_host.NegotiateTSPIVersion(INITIALIZE_NEGOTIATION, 0x00020000, 0x00020002, nullptr),
              LINEERR_INVALPOINTER);
}

TEST_F(LifecycleTest, StartsWithoutAccountAndOffersNoDevices) {
    DWORD dwVersion = 0;
    ASSERT_EQ(m_host.NegotiateTSPIVersion(INITIALIZE_NEGOTIATION, 0x00020000, 0x00020002, &dwVersion), 0);
    DWORD dwLines = 99;
    DWORD dwPhones = 99;
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

TEST_F(LifecycleTest, OtherLifecycleExportsGiveTheirFixedAnswers) {
    using DevFn = LONG(WINAPI*)(DWORD_PTR, DWORD);
    using ExtFn = LONG(WINAPI*)(DWORD, DWORD, DWORD, DWORD, LPDWORD);
    using WndFn = LONG(WINAPI*)(HWND, DWORD);
    DWORD dwExt = 0xDEADBEEF;
    EXPECT_EQ(m_host.ExportAs<ExtFn>("TSPI_lineNegotiateExtVersion")(0, 0x20002, 1, 2, &dwExt), 0);
    EXPECT_EQ(dwExt, 0u);
    dwExt = 0xDEADBEEF;
    EXPECT_EQ(m_host.ExportAs<ExtFn>("TSPI_phoneNegotiateExtVersion")(0, 0x20002, 1, 2, &dwExt),
              PHONEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(dwExt, 0xDEADBEEFu);
    DWORD dwVersion = 0xDEADBEEF;
    EXPECT_EQ(m_host.ExportAs<LONG(WINAPI*)(DWORD, DWORD, DWORD, LPDWORD)>("TSPI_phoneNegotiateTSPIVersion")(
                  0, 0x20000, 0x20002, &dwVersion),
              PHONEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(dwVersion, 0xDEADBEEFu);
    EXPECT_EQ(m_host.ExportAs<LONG(WINAPI*)(HDRVLINE, DWORD)>("TSPI_lineSelectExtVersion")(nullptr, 1),
              LINEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(m_host.ExportAs<LONG(WINAPI*)(HDRVPHONE, DWORD)>("TSPI_phoneSelectExtVersion")(nullptr, 1),
              PHONEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(m_host.ExportAs<DevFn>("TSPI_providerCreateLineDevice")(1, 0), 0);
    EXPECT_EQ(m_host.ExportAs<DevFn>("TSPI_providerCreatePhoneDevice")(1, 0), LINEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(m_host.ExportAs<WndFn>("TSPI_providerConfig")(nullptr, 7), 0);
    EXPECT_EQ(m_host.ExportAs<WndFn>("TSPI_providerInstall")(nullptr, 7), 0);
    EXPECT_EQ(m_host.ExportAs<WndFn>("TSPI_providerRemove")(nullptr, 7), 0);
    EXPECT_EQ(m_host.ExportAs<LONG(WINAPI*)(HDRVDIALOGINSTANCE)>("TSPI_providerFreeDialogInstance")(nullptr), 0);
    EXPECT_EQ(m_host.ExportAs<LONG(WINAPI*)(DWORD_PTR, DWORD, LPVOID, DWORD)>("TSPI_providerGenericDialogData")(
                  0, 1, nullptr, 0),
              LINEERR_OPERATIONUNAVAIL);
}

// Every phone request is refused, with any arguments, and touches nothing.
TEST_F(LifecycleTest, EveryPhoneRequestIsRefusedAndLeavesBuffersUntouched) {
    BYTE buffer[512];
    memset(buffer, 0xA5, sizeof(buffer));
    DWORD dwOut = 0xDEADBEEF;
    HDRVPHONE hdPhone = reinterpret_cast<HDRVPHONE>(0x1234);
    auto* hpOut = reinterpret_cast<HDRVPHONE*>(buffer);
    auto* pVar = reinterpret_cast<VARSTRING*>(buffer);
    auto* phIcon = reinterpret_cast<HICON*>(buffer);
    const CTapiHost& h = m_host;
    using P = HDRVPHONE;
    const std::vector<std::pair<const char*, LONG>> results = {
        {"TSPI_phoneClose", h.ExportAs<LONG(WINAPI*)(P)>("TSPI_phoneClose")(hdPhone)},
        {"TSPI_phoneDevSpecific", h.ExportAs<LONG(WINAPI*)(DWORD, P, LPVOID, DWORD)>("TSPI_phoneDevSpecific")(
                                      1, hdPhone, buffer, 16)},
        {"TSPI_phoneGetButtonInfo",
         h.ExportAs<LONG(WINAPI*)(P, DWORD, LPVOID)>("TSPI_phoneGetButtonInfo")(hdPhone, 0, buffer)},
        {"TSPI_phoneGetData",
         h.ExportAs<LONG(WINAPI*)(P, DWORD, LPVOID, DWORD)>("TSPI_phoneGetData")(hdPhone, 0, buffer, 16)},
        {"TSPI_phoneGetDevCaps",
         h.ExportAs<LONG(WINAPI*)(DWORD, DWORD, DWORD, LPVOID)>("TSPI_phoneGetDevCaps")(0, 0x20002, 0, buffer)},
        {"TSPI_phoneGetDisplay", h.ExportAs<LONG(WINAPI*)(P, VARSTRING*)>("TSPI_phoneGetDisplay")(hdPhone, pVar)},
        {"TSPI_phoneGetExtensionID",
         h.ExportAs<LONG(WINAPI*)(DWORD, DWORD, LPVOID)>("TSPI_phoneGetExtensionID")(0, 0x20002, buffer)},
        {"TSPI_phoneGetGain", h.ExportAs<LONG(WINAPI*)(P, DWORD, LPDWORD)>("TSPI_phoneGetGain")(hdPhone, 1, &dwOut)},
        {"TSPI_phoneGetHookSwitch",
         h.ExportAs<LONG(WINAPI*)(P, LPDWORD)>("TSPI_phoneGetHookSwitch")(hdPhone, &dwOut)},
        {"TSPI_phoneGetID", h.ExportAs<LONG(WINAPI*)(P, VARSTRING*, LPCWSTR, HANDLE)>("TSPI_phoneGetID")(
                                hdPhone, pVar, nullptr, nullptr)},
        {"TSPI_phoneGetIcon",
         h.ExportAs<LONG(WINAPI*)(DWORD, LPCWSTR, HICON*)>("TSPI_phoneGetIcon")(0, L"tapi/phone", phIcon)},
        {"TSPI_phoneGetLamp", h.ExportAs<LONG(WINAPI*)(P, DWORD, LPDWORD)>("TSPI_phoneGetLamp")(hdPhone, 0, &dwOut)},
        {"TSPI_phoneGetRing",
         h.ExportAs<LONG(WINAPI*)(P, LPDWORD, LPDWORD)>("TSPI_phoneGetRing")(hdPhone, &dwOut, &dwOut)},
        {"TSPI_phoneGetStatus", h.ExportAs<LONG(WINAPI*)(P, LPVOID)>("TSPI_phoneGetStatus")(hdPhone, buffer)},
        {"TSPI_phoneGetVolume",
         h.ExportAs<LONG(WINAPI*)(P, DWORD, LPDWORD)>("TSPI_phoneGetVolume")(hdPhone, 1, &dwOut)},
        {"TSPI_phoneOpen", h.ExportAs<LONG(WINAPI*)(DWORD, HTAPIPHONE, P*, DWORD, PHONEEVENT)>("TSPI_phoneOpen")(
                               0, reinterpret_cast<HTAPIPHONE>(0x99), hpOut, 0x20002, nullptr)},
        {"TSPI_phoneSetButtonInfo", h.ExportAs<LONG(WINAPI*)(DWORD, P, DWORD, LPVOID)>("TSPI_phoneSetButtonInfo")(
                                        1, hdPhone, 0, buffer)},
        {"TSPI_phoneSetData", h.ExportAs<LONG(WINAPI*)(DWORD, P, DWORD, LPVOID, DWORD)>("TSPI_phoneSetData")(
                                  1, hdPhone, 0, buffer, 16)},
        {"TSPI_phoneSetDisplay",
         h.ExportAs<LONG(WINAPI*)(DWORD, P, DWORD, DWORD, LPCWSTR, DWORD)>("TSPI_phoneSetDisplay")(
             1, hdPhone, 0, 0, L"x", 2)},
        {"TSPI_phoneSetGain",
         h.ExportAs<LONG(WINAPI*)(DWORD, P, DWORD, DWORD)>("TSPI_phoneSetGain")(1, hdPhone, 1, 100)},
        {"TSPI_phoneSetHookSwitch",
         h.ExportAs<LONG(WINAPI*)(DWORD, P, DWORD, DWORD)>("TSPI_phoneSetHookSwitch")(1, hdPhone, 1, 1)},
        {"TSPI_phoneSetLamp",
         h.ExportAs<LONG(WINAPI*)(DWORD, P, DWORD, DWORD)>("TSPI_phoneSetLamp")(1, hdPhone, 0, 1)},
        {"TSPI_phoneSetRing",
         h.ExportAs<LONG(WINAPI*)(DWORD, P, DWORD, DWORD)>("TSPI_phoneSetRing")(1, hdPhone, 0, 1)},
        {"TSPI_phoneSetStatusMessages",
         h.ExportAs<LONG(WINAPI*)(P, DWORD, DWORD, DWORD)>("TSPI_phoneSetStatusMessages")(hdPhone, 1, 1, 1)},
        {"TSPI_phoneSetVolume",
         h.ExportAs<LONG(WINAPI*)(DWORD, P, DWORD, DWORD)>("TSPI_phoneSetVolume")(1, hdPhone, 1, 1)},
    };
    EXPECT_EQ(results.size(), 25u);
    for (const auto& [name, result] : results) EXPECT_EQ(result, PHONEERR_OPERATIONUNAVAIL) << name;
    for (BYTE b : buffer) ASSERT_EQ(b, 0xA5) << "a refused phone request wrote into a buffer";
    EXPECT_EQ(dwOut, 0xDEADBEEFu);
    EXPECT_TRUE(m_host.Events().empty());
}

}  // namespace
