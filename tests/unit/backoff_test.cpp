// The retry pause and the background login's schedule built on it.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "common/Backoff.h"
#include "manager/LoginRecovery.h"

namespace {

TEST(BackoffTest, PausesDoubleUpToTheLimitWithinTheUpperHalfOfEachStep) {
    const struct { DWORD dwFirst, dwMax; uint32_t uSeed; std::vector<DWORD> steps; } cases[] = {
        {1000, 30000, 1, {1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}},
        {500, 1500, 7, {500, 1000, 1500, 1500}},
        {1, 4, 3, {1, 2, 4, 4}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.dwFirst << ".." << c.dwMax << " seed " << c.uSeed);
        CBackoff backoff(c.dwFirst, c.dwMax, c.uSeed);
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const DWORD dwDelay = backoff.NextDelay();
            EXPECT_LE(dwDelay, c.steps[i]) << "failure " << i + 1;
            EXPECT_GE(dwDelay, c.steps[i] - c.steps[i] / 2) << "failure " << i + 1;
        }
        // Many more failures never go past the limit.
        for (int i = 0; i < 100; ++i) EXPECT_LE(backoff.NextDelay(), c.dwMax);
        backoff.Reset();
        EXPECT_EQ(backoff.Failures(), 0u);
        const DWORD dwAfterReset = backoff.NextDelay();
        EXPECT_LE(dwAfterReset, c.dwFirst);
        EXPECT_GE(dwAfterReset, c.dwFirst - c.dwFirst / 2);
    }
}

// Providers that lost the same server come back spread out, not at once.
TEST(BackoffTest, PausesOfDifferentSeedsSpreadOverTheStep) {
    std::vector<DWORD> pauses;
    for (uint32_t uSeed = 1; uSeed <= 50; ++uSeed) {
        CBackoff backoff(1000, 30000, uSeed * 2654435761u);
        for (int i = 0; i < 5; ++i) backoff.NextDelay();
        pauses.push_back(backoff.NextDelay());  // the step of 30 s
    }
    DWORD dwLow = 30000, dwHigh = 0;
    for (DWORD dwPause : pauses) {
        dwLow = std::min(dwLow, dwPause);
        dwHigh = std::max(dwHigh, dwPause);
    }
    EXPECT_GE(dwLow, 15000u);
    EXPECT_LE(dwHigh, 30000u);
    EXPECT_GT(dwHigh - dwLow, 5000u);
}

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
