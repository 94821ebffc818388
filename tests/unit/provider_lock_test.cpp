// The model's one lock: re-entrant for its holder, traced with owner codes.
#include <gtest/gtest.h>

#include <future>

#include "model/ProviderLock.h"
#include "support/TraceCapture.h"

namespace {

bool OtherThreadCanEnter() {
    return std::async(std::launch::async, [] {
               if (!TryEnterCriticalSection(&ProviderLock)) return false;
               LeaveCriticalSection(&ProviderLock);
               return true;
           }).get();
}

TEST(ProviderLockTest, NestedEntryNeitherBlocksNorLosesTheOuterHold) {
    CTraceCapture capture(6);
    {
        CProviderLockGuard outer(LockOwner::lineMakeCall);
        {
            CProviderLockGuard inner(LockOwner::RaiseCallMsg);
            EXPECT_EQ(g_dwLockOwner, LockOwner::RaiseCallMsg);
        }
        // The inner exit clears the owner code although the outer holder still holds the lock.
        EXPECT_EQ(g_dwLockOwner, 0u);
        EXPECT_FALSE(OtherThreadCanEnter()) << "the outer holder must still hold the lock";
    }
    EXPECT_TRUE(OtherThreadCanEnter()) << "the lock must be free after the outer exit";
    EXPECT_EQ(capture.Messages(),
              (std::vector<std::wstring>{L"CS_BEGIN 21 (0)", L"CS_BEGIN 51 (21)", L"CS_END 51 (51)", L"CS_END 21 (0)"}));
}

// The HTTP client asks this to report a PBX request made inside the lock.
TEST(ProviderLockTest, NamesItsHolderOnly) {
    std::promise<DWORD> entered;
    std::promise<void> release;
    std::thread holder([&] {
        CProviderLockGuard lock(LockOwner::DispatchEvents);
        entered.set_value(GetCurrentThreadId());
        release.get_future().wait();
    });
    const DWORD dwHolder = entered.get_future().get();
    EXPECT_TRUE(ProviderLockHeldBy(dwHolder));
    EXPECT_FALSE(ProviderLockHeldBy(GetCurrentThreadId()));
    release.set_value();
    holder.join();
    EXPECT_FALSE(ProviderLockHeldBy(dwHolder));
    {
        CProviderLockGuard lock(LockOwner::lineDrop);
        EXPECT_TRUE(ProviderLockHeldBy(GetCurrentThreadId()));
    }
    EXPECT_FALSE(ProviderLockHeldBy(GetCurrentThreadId()));
}

}  // namespace
