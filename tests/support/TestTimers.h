// The provider's timers in the integration tests. A test program runs them
// shortened by the divisor ORVO_TEST_TIME_DIVISOR gives (10 when the
// environment does not say), so that no test waits out a production timer;
// the runs with 1 keep the production lengths and so cover the long timers.
#pragma once

#include <windows.h>

#include <string>

#include "common/TimerScale.h"

constexpr DWORD kDefaultTestTimeDivisor = 10;

DWORD TestTimeDivisor();

// Writes the divisor as the provider's TestTimeDivisor under the settings key
// (nothing for 1: the value is missing, as on a customer's machine), and has
// ScaledMs in this test program give the lengths the provider will use.
bool ApplyTestTimeDivisor(const std::wstring& key);
