// The current TAPI dialing location read from the registry, and the
// manager's CreateFormattedNumber with the format from the shared record.
// ctest-lock: registry
#include <gtest/gtest.h>

#include "common/BoundedString.h"
#include "config/CPredialNumbers.h"
#include "config/ProviderSettings.h"
#include "manager/CGenericTSPIManager.h"
#include "support/RegistryFixture.h"

namespace {
const std::wstring kLocations = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Locations";

class PredialNumbersTest : public testing::Test {
protected:
    // Each test stands for a fresh process, where no country has been read yet.
    void SetUp() override { g_dwCountryCode = 0; }

    static void AddLocation(DWORD dwID, DWORD dwCountry, const std::wstring& areaCode = L"") {
        std::wstring key = kLocations + L"\\Location" + std::to_wstring(dwID);
        ASSERT_TRUE(SetRegDword(HKEY_LOCAL_MACHINE, key, L"Country", dwCountry));
        ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, key, L"AreaCode", areaCode));
    }
    static void SetCurrentID(DWORD dwID) {
        ASSERT_TRUE(SetRegDword(HKEY_LOCAL_MACHINE, kLocations, L"CurrentID", dwID));
    }

    CRegistrySnapshot m_snapshot{HKEY_LOCAL_MACHINE, kLocations};
};

TEST_F(PredialNumbersTest, ReadsTheCurrentLocation) {
    AddLocation(1, 33);
    AddLocation(2, 49, L"030");
    SetCurrentID(2);
    CPredialNumbers predial;
    EXPECT_EQ(2u, predial.m_dwCurrentID);
    EXPECT_STREQ(L"49", predial.m_szCountry);
    EXPECT_EQ(49u, g_dwCountryCode);
    EXPECT_EQ(L"03012345678", predial.Format(L"493012345678", 2));
}

TEST_F(PredialNumbersTest, MissingCurrentLocationFallsBackToTheFirstThatExists) {
    AddLocation(3, 1);
    AddLocation(5, 49);
    SetCurrentID(7);
    CPredialNumbers predial;
    EXPECT_EQ(3u, predial.m_dwCurrentID);
    EXPECT_STREQ(L"1", predial.m_szCountry);
    EXPECT_EQ(L"011493012345678", predial.Format(L"493012345678", 2));
}

TEST_F(PredialNumbersTest, NoReadableLocation) {
    // A current id but no location key: country 0, the default prefixes, nothing created.
    SetCurrentID(4);
    CPredialNumbers predial;
    EXPECT_EQ(0u, g_dwCountryCode);
    EXPECT_EQ(L"0493012345678", predial.Format(L"493012345678", 2));
    EXPECT_EQ(L"00493012345678", predial.Format(L"493012345678", 3));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, kLocations + L"\\Location4"));
}

// A format that is not a number counts as format 0.
TEST_F(PredialNumbersTest, ManagerUsesTheFormatOfTheSharedRecord) {
    StrCopy(g_pProviderSettings->NumberFormat, L"1");
    EXPECT_EQ(L"493012345678", g_Manager.CreateFormattedNumber(L"493012345678"));
    StrCopy(g_pProviderSettings->NumberFormat, L"abc");
    EXPECT_EQ(L"+493012345678", g_Manager.CreateFormattedNumber(L"493012345678"));
}
}  // namespace
