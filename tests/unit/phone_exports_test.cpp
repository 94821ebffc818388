// The phone refusals as the trace log shows them.
#include <gtest/gtest.h>

#include "provider/TspiExports.h"
#include "support/TraceCapture.h"

namespace {

TEST(PhoneExportsTest, RefusalsTraceBeginAndEndAtLevelFive) {
    CTraceCapture capture(5);
    HDRVPHONE hdPhone = nullptr;
    EXPECT_EQ(TSPI_phoneOpen(0, nullptr, &hdPhone, 0x20002, nullptr), PHONEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(hdPhone, nullptr);
    EXPECT_EQ(TSPI_phoneGetID(nullptr, nullptr, nullptr, nullptr), PHONEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(TSPI_phoneGetIcon(0, L"tapi/phone", nullptr), PHONEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(capture.Messages(), (std::vector<std::wstring>{
                                      L"Func.TSPI_phoneOpen.Begin",
                                      L"Func.TSPI_phoneOpen.End.Result 0x9000001D",
                                      L"Func.TSPI_phoneGetID.Begin",
                                      L"Func.TSPI_phoneGetID.Param._lpszDeviceClass NULL",
                                      L"Func.TSPI_phoneGetID.End.Result 0x9000001D",
                                      L"Func.TSPI_phoneGetIcon.Begin",
                                      L"Func.TSPI_phoneGetIcon.Param._lpszDeviceClass tapi/phone",
                                      L"Func.TSPI_phoneGetIcon.End.Result 0x9000001D",
                                  }));
}

TEST(PhoneExportsTest, BelowLevelFiveNothingIsWritten) {
    CTraceCapture capture(4);
    EXPECT_EQ(TSPI_phoneClose(nullptr), PHONEERR_OPERATIONUNAVAIL);
    EXPECT_TRUE(capture.Messages().empty());
}

TEST(PhoneExportsTest, NegotiationAbortNamesTheErrorAndCheckNumber) {
    CTraceCapture capture(1);
    DWORD dwVersion = 0;
    EXPECT_EQ(TSPI_lineNegotiateTSPIVersion(0, 0x00030000, 0x00030000, &dwVersion), LINEERR_INCOMPATIBLEAPIVERSION);
    EXPECT_TRUE(capture.Contains(L"Func.TSPI_lineNegotiateTSPIVersion.Abort.Error.LINEERR_INCOMPATIBLEAPIVERSION.#2"));
    EXPECT_TRUE(capture.Contains(L"Func.TSPI_lineNegotiateTSPIVersion.End.Result 0x8000000C"));
}

}  // namespace
