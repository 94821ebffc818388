#include "support/TestTimers.h"

#include <cwchar>

#include "support/TestFiles.h"
#include "tools/tapihost/ProviderSetup.h"

DWORD TestTimeDivisor() {
    const std::wstring text = GetEnv(L"ORVO_TEST_TIME_DIVISOR");
    if (text.empty()) return kDefaultTestTimeDivisor;
    const unsigned long ulDivisor = wcstoul(text.c_str(), nullptr, 10);
    return ulDivisor != 0 ? static_cast<DWORD>(ulDivisor) : 1;
}

bool ApplyTestTimeDivisor(const std::wstring& key) {
    const DWORD dwDivisor = SetTimerDivisor(TestTimeDivisor());
    return dwDivisor == 1 || WriteDwordSetting(key, L"TestTimeDivisor", dwDivisor);
}
