// The line exports of the built provider as tapisrv calls them, before any
// login: the provider offers no lines, so every device and handle is refused.
// ctest-lock: registry
#include <gtest/gtest.h>

#include <cstring>

#include "support/RegistryFixture.h"
#include "support/TestFiles.h"
#include "tools/tapihost/TapiHost.h"

namespace {

class LineExportsIntegrationTest : public testing::Test {
protected:
    void SetUp() override {
        std::wstring path = GetEnv(L"ORVO_TSP_PATH");
        ASSERT_FALSE(path.empty()) << "ORVO_TSP_PATH not set";
        ASSERT_TRUE(m_host.Load(path));
        DWORD dwLines = 99;
        ASSERT_EQ(m_host.Start(&dwLines), 0);
        ASSERT_EQ(dwLines, 0u);
    }
    void TearDown() override {
        EXPECT_EQ(m_host.Shutdown(), 0);
        EXPECT_TRUE(m_host.LineEvents().empty());
    }

    static DWORD Field(const std::vector<BYTE>& record, size_t offset) {
        DWORD dw = 0;
        std::memcpy(&dw, record.data() + offset, sizeof(dw));
        return dw;
    }

    COfflineProviderSettings m_settings;
    CTapiHost m_host;
};

TEST_F(LineExportsIntegrationTest, NoDeviceCanBeOpenedOrQueried) {
    const DWORD base = CTapiHost::kLineDeviceIDBase;
    HTAPILINE htLine = reinterpret_cast<HTAPILINE>(static_cast<ULONG_PTR>(0x42));
    HDRVLINE hdLine = reinterpret_cast<HDRVLINE>(static_cast<ULONG_PTR>(0x77));
    EXPECT_EQ(m_host.OpenLine(base, htLine, &hdLine), LINEERR_BADDEVICEID);
    EXPECT_EQ(hdLine, reinterpret_cast<HDRVLINE>(static_cast<ULONG_PTR>(0x77)));
    EXPECT_EQ(m_host.OpenLine(base, htLine, nullptr), LINEERR_INVALPOINTER);
    EXPECT_EQ(m_host.OpenLine(base, nullptr, &hdLine), LINEERR_INVALLINEHANDLE);
    EXPECT_EQ(m_host.CloseLine(nullptr), LINEERR_INVALLINEHANDLE);

    std::vector<BYTE> record;
    EXPECT_EQ(m_host.GetDevCaps(base, 1024, &record), LINEERR_NODEVICE);
    EXPECT_EQ(Field(record, 4), 0u);  // nothing written
    EXPECT_EQ(m_host.GetAddressCaps(base, 0, 1024, &record), LINEERR_NODEVICE);
    EXPECT_EQ(m_host.GetAddressCaps(base + 5, 1, 1024, &record), LINEERR_INVALADDRESSID);
    EXPECT_EQ(m_host.GetLineDevStatus(nullptr, 256, &record), LINEERR_INVALPOINTER);
    EXPECT_EQ(m_host.GetAddressStatus(nullptr, 0, 256, &record), LINEERR_INVALLINEHANDLE);
}

TEST_F(LineExportsIntegrationTest, GetIdChecksClassAndSizeBeforeTheLine) {
    std::vector<BYTE> record;
    EXPECT_EQ(m_host.GetLineID(nullptr, nullptr, LINECALLSELECT_LINE, L"tapi/line", 24, &record), 0);
    EXPECT_EQ(Field(record, 4), 28u);  // dwNeededSize
    EXPECT_EQ(Field(record, 8), 0u);   // nothing else
    EXPECT_EQ(m_host.GetLineID(nullptr, nullptr, LINECALLSELECT_LINE, L"tapi/line", 64, &record),
              LINEERR_INVALLINEHANDLE);
    EXPECT_EQ(m_host.GetLineID(nullptr, nullptr, LINECALLSELECT_LINE, L"wave/in", 64, &record),
              LINEERR_INVALDEVICECLASS);
    EXPECT_EQ(m_host.GetLineID(nullptr, nullptr, LINECALLSELECT_LINE, nullptr, 64, &record), LINEERR_INVALPOINTER);
}

TEST_F(LineExportsIntegrationTest, ExtensionIdIsZeroedAndOnlyVoiceIsDetected) {
    using GetExtensionIDFn = LONG(WINAPI*)(DWORD, DWORD, LINEEXTENSIONID*);
    using SetDefaultMediaDetectionFn = LONG(WINAPI*)(HDRVLINE, DWORD);
    auto getExtensionID = m_host.ExportAs<GetExtensionIDFn>("TSPI_lineGetExtensionID");
    auto setDetection = m_host.ExportAs<SetDefaultMediaDetectionFn>("TSPI_lineSetDefaultMediaDetection");
    ASSERT_NE(getExtensionID, nullptr);
    ASSERT_NE(setDetection, nullptr);
    LINEEXTENSIONID id;
    std::memset(&id, 0x55, sizeof(id));
    EXPECT_EQ(getExtensionID(0, 0x00020002, &id), 0);
    EXPECT_EQ(id.dwExtensionID0 | id.dwExtensionID1 | id.dwExtensionID2 | id.dwExtensionID3, 0u);
    EXPECT_EQ(setDetection(nullptr, LINEMEDIAMODE_INTERACTIVEVOICE), 0);
    EXPECT_EQ(setDetection(nullptr, LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_DATAMODEM), LINEERR_INVALMEDIAMODE);
}

}  // namespace
