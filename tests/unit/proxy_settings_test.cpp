// Which proxy the PBX requests take, from what WinHTTP's configuration and a
// detection say.
#include <gtest/gtest.h>

#include "http/ProxySettings.h"

namespace {

TEST(ProxySettingsTest, AccountThenMachineWideThenDetectionInThatOrder) {
    const wchar_t* const kAccount = L"account:8080";
    const wchar_t* const kMachine = L"machine:3128";
    const wchar_t* const kDetected = L"detected:8000";
    const struct {
        const wchar_t* pszWhat;
        bool bAccountProxy, bDetectionWanted, bDetected, bDetectedDirect, bMachineProxy;
        const wchar_t* pszExpected;  // empty: direct
    } cases[] = {
        {L"the account's fixed proxy", true, false, false, false, true, kAccount},
        {L"no proxy, no detection: the machine-wide one", false, false, false, false, true, kMachine},
        {L"nothing anywhere: direct", false, false, false, false, false, L""},
        {L"detection found one", true, true, true, false, true, kDetected},
        {L"detection found direct", false, true, true, true, true, L""},
        {L"detection failed, fixed proxy", true, true, false, false, true, kAccount},
        {L"detection failed or not yet done, no fixed proxy", false, true, false, false, true, kMachine},
        {L"a detection is not asked for: its outcome is not used", false, false, true, false, true, kMachine},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.pszWhat)));
        ProxySources sources;
        sources.bAccountNamesProxy = c.bAccountProxy;
        if (c.bAccountProxy) sources.sAccountProxy = kAccount;
        sources.bDetectionWanted = c.bDetectionWanted;
        sources.bDetected = c.bDetected;
        if (c.bDetected && !c.bDetectedDirect) sources.sDetectedProxy = kDetected;
        sources.bMachineNamesProxy = c.bMachineProxy;
        if (c.bMachineProxy) sources.sMachineProxy = kMachine;
        EXPECT_EQ(ChooseProxy(sources).sProxy, c.pszExpected);
    }
}

}  // namespace
