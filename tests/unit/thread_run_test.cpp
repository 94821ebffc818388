// A run owns its threads: a thread that outlives its run (a PBX request that
// would not give up in time) must not act for the next one, and the next
// run's threads must not wait for it.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

#include "common/UniqueHandle.h"
#include "manager/DelayedReply.h"
#include "manager/RequestThreads.h"
#include "manager/ThreadRun.h"
#include "model/ProviderState.h"
#include "support/LineModelFixture.h"
#include "support/ProviderThreads.h"

// Armed for one thread: its next nothrow allocation fails, as when memory
// runs out at the moment a run's request queue is set up.
std::atomic<DWORD> g_dwFailNextNothrowNewOn{0};

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    DWORD dwArmed = GetCurrentThreadId();
    if (g_dwFailNextNothrowNewOn.compare_exchange_strong(dwArmed, 0)) return nullptr;
    return std::malloc(size != 0 ? size : 1);
}

namespace {

constexpr DWORD kWatchdogMs = 10000;

UniqueHandle NewEvent() { return UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr)); }

// What a run thread saw once its stuck step was over.
struct StuckThread {
    UniqueHandle release = NewEvent();
    UniqueHandle seen = NewEvent();
    std::atomic<bool> bMayAct{true};
};

TEST(ThreadRunTest, AThreadThatOutlivesItsRunNeverActsForTheNextOne) {
    auto earlier = CThreadRun::Create(L"earlier");
    ASSERT_TRUE(earlier);
    auto stuck = std::make_shared<StuckThread>();
    const UniqueHandle earlierThread(StartRunThread(earlier, [stuck](CThreadRun&) {
        // Waits for something other than its own wake event, as a request that does not give up.
        WaitForSingleObject(stuck->release.get(), INFINITE);
        stuck->bMayAct = CurrentThreadMayAct();
        SetEvent(stuck->seen.get());
    }));
    ASSERT_TRUE(earlierThread);
    earlier->AskToStop();

    // The next run starts beside it, with a block of its own.
    auto next = CThreadRun::Create(L"next");
    ASSERT_TRUE(next);
    EXPECT_NE(next->Wake(), earlier->Wake());
    std::atomic<bool> bNextMayAct{false};
    const UniqueHandle nextThread(StartRunThread(next, [&](CThreadRun& run) {
        bNextMayAct = CurrentThreadMayAct() && run.Running();
    }));
    ASSERT_EQ(WaitForSingleObject(nextThread.get(), kWatchdogMs), WAIT_OBJECT_0);
    EXPECT_TRUE(bNextMayAct);

    SetEvent(stuck->release.get());
    ASSERT_EQ(WaitForSingleObject(stuck->seen.get(), kWatchdogMs), WAIT_OBJECT_0);
    EXPECT_FALSE(stuck->bMayAct) << "the earlier run's thread still acts";
    EXPECT_FALSE(earlier->Running());
    EXPECT_TRUE(next->Running());
    EXPECT_TRUE(CurrentThreadMayAct()) << "a thread of tapisrv always may";
    ASSERT_EQ(WaitForSingleObject(earlierThread.get(), kWatchdogMs), WAIT_OBJECT_0);
}

// A shutdown while a make-call's command hangs: the command's completion
// belongs to the stopped run and is never sent; the next run's requests are
// served meanwhile by a request thread of their own.
TEST(ThreadRunTest, ACompletionOfAStoppedRunIsNeverSentAndTheNextRunIsServedMeanwhile) {
    CEventRecorder::Reset();
    g_pfnAsyncCompletion = &CEventRecorder::Completion;
    const ModuleRange range = RangeOf(GetModuleHandleW(nullptr));
    const DWORD dwBefore = ThreadsStartedIn(range);
    auto stuck = std::make_shared<StuckThread>();
    StartReplyRequest(1, [stuck]() -> LONG {
        SetEvent(stuck->seen.get());
        WaitForSingleObject(stuck->release.get(), INFINITE);
        return 0;
    });
    ASSERT_EQ(WaitForSingleObject(stuck->seen.get(), kWatchdogMs), WAIT_OBJECT_0);
    EndRequestThreads();

    StartReplyRequest(2, LINEERR_OPERATIONFAILED);
    ASSERT_TRUE(WaitUntil([] { return RecordedCompletion(2).has_value(); })) << "the next run waits for the stopped one";
    EXPECT_EQ(RecordedCompletion(2), LINEERR_OPERATIONFAILED);

    // The stuck command returns; its thread ends without a word to TAPI.
    SetEvent(stuck->release.get());
    EXPECT_EQ(SettledThreadsStartedIn(range, dwBefore + 1), dwBefore + 1);
    EndRequestThreads();
    EXPECT_EQ(SettledThreadsStartedIn(range, dwBefore), dwBefore);
    EXPECT_FALSE(RecordedCompletion(1).has_value());
    g_pfnAsyncCompletion = nullptr;
}

// A request whose reply cannot be queued (no request thread or no memory for
// one) is completed at once with the failure: never left without an answer.
TEST(ThreadRunTest, ARequestThatCannotBeQueuedIsCompletedAtOnce) {
    CEventRecorder::Reset();
    g_pfnAsyncCompletion = &CEventRecorder::Completion;
    EndRequestThreads();
    g_dwFailNextNothrowNewOn = GetCurrentThreadId();
    StartReplyRequest(3, 0);
    g_dwFailNextNothrowNewOn = 0;
    EXPECT_EQ(RecordedCompletion(3), LINEERR_NOMEM) << "the request was left without its completion";
    g_pfnAsyncCompletion = nullptr;
}

}  // namespace
