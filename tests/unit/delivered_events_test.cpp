// Events the PBX sends again after a reconnection are delivered once: the
// framing tells an event's own id from one left over from an earlier event,
// and the delivered ids are remembered, a bounded number of them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/EventStreamFraming.h"
#include "pbx/DeliveredEvents.h"

namespace {

// Fed through the framing: each event's data and whether it was a first delivery.
std::vector<std::pair<std::wstring, bool>> Deliver(CEventStreamFraming& framing, CDeliveredEvents& delivered,
                                                   const std::wstring& text) {
    std::vector<std::pair<std::wstring, bool>> result;
    for (const StreamEvent& event : framing.Feed(text.data(), text.size()))
        result.emplace_back(event.sData, !event.bOwnId || delivered.FirstDelivery(event.sId));
    return result;
}

TEST(DeliveredEventsTest, ReplayedEventsAreDeliveredOnceAndEventsWithoutIdAlways) {
    CEventStreamFraming framing;
    CDeliveredEvents delivered;
    const auto first = Deliver(framing, delivered, L"id: 7\ndata: a\n\ndata: b\n\nid: 8\ndata: c\n\n");
    const std::vector<std::pair<std::wstring, bool>> firstExpected = {{L"a", true}, {L"b", true}, {L"c", true}};
    EXPECT_EQ(first, firstExpected);
    EXPECT_EQ(framing.LastEventId(), L"8");

    // The next stream starts its replay one event early, and an event without an id follows.
    framing.BeginStream();
    const auto second = Deliver(framing, delivered, L"id: 8\ndata: c\n\nid: 9\ndata: d\n\ndata: e\n\n");
    const std::vector<std::pair<std::wstring, bool>> secondExpected = {{L"c", false}, {L"d", true}, {L"e", true}};
    EXPECT_EQ(second, secondExpected);

    framing.ForgetLastEventId();
    EXPECT_EQ(framing.LastEventId(), L"");
}

TEST(DeliveredEventsTest, OnlyTheLatestIdsAreRememberedAndEmptyIdsNeverRepeat) {
    CDeliveredEvents delivered;
    for (size_t i = 0; i <= CDeliveredEvents::kRemembered; ++i)
        ASSERT_TRUE(delivered.FirstDelivery(L"id-" + std::to_wstring(i)));
    EXPECT_TRUE(delivered.FirstDelivery(L"id-0")) << "the oldest id is forgotten";
    EXPECT_FALSE(delivered.FirstDelivery(L"id-" + std::to_wstring(CDeliveredEvents::kRemembered)));
    EXPECT_TRUE(delivered.FirstDelivery(L""));
    EXPECT_TRUE(delivered.FirstDelivery(L""));
    delivered.Forget();
    EXPECT_TRUE(delivered.FirstDelivery(L"id-5"));

    // Long ids are remembered as far as their characters fit the budget, the newest always.
    const std::wstring longId(CDeliveredEvents::kRememberedChars / 4, L'x');
    for (wchar_t c = L'a'; c <= L'h'; ++c) ASSERT_TRUE(delivered.FirstDelivery(c + longId));
    EXPECT_FALSE(delivered.FirstDelivery(L'h' + longId));
    EXPECT_FALSE(delivered.FirstDelivery(L'f' + longId));
    EXPECT_TRUE(delivered.FirstDelivery(L'a' + longId)) << "more than the budget was kept";
    const std::wstring hugeId(2 * CDeliveredEvents::kRememberedChars, L'y');
    EXPECT_TRUE(delivered.FirstDelivery(hugeId));
    EXPECT_FALSE(delivered.FirstDelivery(hugeId));
}

}  // namespace
