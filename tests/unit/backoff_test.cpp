// The pause before a retry: doubling from the first step up to the limit,
// each pause in the upper half of its step, and back to the start after a success.
#include <gtest/gtest.h>

#include <vector>

#include "common/Backoff.h"

namespace {

TEST(BackoffTest, PausesDoubleUpToTheLimitWithinTheUpperHalfOfEachStep) {
    const struct { DWORD dwFirst, dwMax; uint32_t uSeed; std::vector<DWORD> steps; } cases[] = {
        {1000, 30000, 1, {1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}},
        {1000, 30000, 0xDEADBEEF, {1000, 2000, 4000, 8000, 16000, 30000, 30000}},
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

}  // namespace
