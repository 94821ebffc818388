// Ends a test run whose current test hangs, after showing where every thread
// stands. The limit is ORVO_TEST_HANG_SECONDS (default 150 s).
#pragma once

void InstallHangWatchdog();
