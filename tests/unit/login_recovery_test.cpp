// The background login's schedule: a retry once per failure, after a pause
// that grows with each failure in a row, and none after a success.
#include <gtest/gtest.h>

#include <windows.h>

#include "manager/LoginRecovery.h"

namespace {

// Polls until a retry is due; the milliseconds that took, or -1 at the watchdog.
LONGLONG MillisecondsUntilDue(DWORD dwWatchdogMs) {
    const ULONGLONG qwStart = GetTickCount64();
    while (!LoginRetryDue()) {
        if (GetTickCount64() - qwStart > dwWatchdogMs) return -1;
        Sleep(20);
    }
    return static_cast<LONGLONG>(GetTickCount64() - qwStart);
}

TEST(LoginRecoveryTest, EachFailureBringsOneRetryAfterAGrowingPause) {
    NoteLoginOutcome(true);
    EXPECT_FALSE(LoginRetryDue());
    // Pauses from the upper half of 1 s, 2 s, 4 s.
    const DWORD steps[] = {1000, 2000, 4000};
    for (DWORD dwStep : steps) {
        SCOPED_TRACE(dwStep);
        const DWORD dwPause = NoteLoginOutcome(false);
        EXPECT_GE(dwPause, dwStep / 2);
        EXPECT_LE(dwPause, dwStep);
        EXPECT_FALSE(LoginRetryDue()) << "not before its pause";
        EXPECT_GE(MillisecondsUntilDue(dwStep + 10000), 0) << "a failed login must be retried";
        EXPECT_FALSE(LoginRetryDue()) << "one retry per failure";
    }
    // A success ends the retries and starts the next failure at the first step.
    EXPECT_EQ(NoteLoginOutcome(true), 0u);
    EXPECT_FALSE(LoginRetryDue());
    EXPECT_LE(NoteLoginOutcome(false), 1000u);
    NoteLoginOutcome(true);
    EXPECT_FALSE(LoginRetryDue());
}

}  // namespace
