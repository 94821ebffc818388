// The framing of the call event stream, and events sent again after a
// reconnection delivered once.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "http/EventStreamFraming.h"
#include "pbx/DeliveredEvents.h"

namespace {

using Events = std::vector<std::pair<std::wstring, std::wstring>>;  // (data, id) in delivery order

// A stream as a PBX (or a proxy in between) may write it: every kind of line
// end, comments as heartbeats, ids, "data:" with and without the blank,
// data split over lines, nested objects, values holding "data: ", "id: "
// and braces, fields the provider does not use, and empty lines without
// data. It starts with a byte-order mark.
const std::wstring kRecordedStream =
    L"\xFEFF: stream opened\n"
    L"retry: 3000\n"
    L"\n"
    L"id: 1\n"
    L"data: {\"uuid\":\"a1\",\"extension\":\"21\",\"state\":\"ring\",\"direction\":\"inbound\"}\n"
    L"\n"
    L": heartbeat\n"
    L"id: 2\r\n"
    L"data:{\"uuid\":\"a1\",\"extension\":\"21\",\"state\":\"answer\"}\r\n"
    L"\r\n"
    L"id: 3\r"
    L"event: call\r"
    L"data: {\"uuid\":\"b2\",\"caller\":\"Call id: 7\",\r"
    L"data:  \"callee\":\"data: 8\",\r"
    L": a comment between the lines of one event\r"
    L"data: \"meta\":{\"room\":\"Office {Berlin}\",\"tags\":[{\"k\":\"}\"}]}}\r"
    L"\r"
    L"\n"
    L"id:4\n"
    L"data\n"
    L"\n"
    L"id: 5\n"
    L"data: \n"
    L"data: {\"uuid\":\"c3\"}\n"
    L"unknown: field\n"
    L"Data: not a data field\n"
    L"\n"
    L"\n"
    L"id\n"
    L"data: {\"uuid\":\"d4\",\"state\":\"hangup\"}\n"
    L"\n"
    L"id: 6\n"
    L"data: {\"uuid\":\"e5\"}\r\n"
    L"\r\n"
    L": the last event is followed by a comment\n";

const Events kRecordedEvents = {
    {L"{\"uuid\":\"a1\",\"extension\":\"21\",\"state\":\"ring\",\"direction\":\"inbound\"}", L"1"},
    {L"{\"uuid\":\"a1\",\"extension\":\"21\",\"state\":\"answer\"}", L"2"},
    {L"{\"uuid\":\"b2\",\"caller\":\"Call id: 7\",\n \"callee\":\"data: 8\",\n"
     L"\"meta\":{\"room\":\"Office {Berlin}\",\"tags\":[{\"k\":\"}\"}]}}",
     L"3"},
    // "data" alone is a data line with an empty value.
    {L"", L"4"},
    {L"\n{\"uuid\":\"c3\"}", L"5"},
    // "id" alone resets the last event id.
    {L"{\"uuid\":\"d4\",\"state\":\"hangup\"}", L""},
    {L"{\"uuid\":\"e5\"}", L"6"},
};

Events ToPairs(const std::vector<StreamEvent>& events) {
    Events pairs;
    for (const StreamEvent& event : events) pairs.emplace_back(event.sData, event.sId);
    return pairs;
}

// Feeds the text in the pieces that the cut positions (ascending) make of it.
Events FeedInPieces(CEventStreamFraming& framing, const std::wstring& text, const std::vector<size_t>& cuts) {
    Events events;
    size_t nStart = 0;
    std::vector<size_t> ends = cuts;
    ends.push_back(text.size());
    for (size_t nEnd : ends) {
        const Events piece = ToPairs(framing.Feed(text.data() + nStart, nEnd - nStart));
        events.insert(events.end(), piece.begin(), piece.end());
        nStart = nEnd;
    }
    return events;
}

Events FeedInPieces(const std::wstring& text, const std::vector<size_t>& cuts) {
    CEventStreamFraming framing;
    return FeedInPieces(framing, text, cuts);
}

// In one write, cut once at every position, and one unit at a time.
TEST(EventStreamFraming, RecordedStreamGivesItsEventsHoweverItIsCut) {
    CEventStreamFraming framing;
    EXPECT_EQ(FeedInPieces(framing, kRecordedStream, {}), kRecordedEvents);
    EXPECT_EQ(framing.LastEventId(), L"6");
    EXPECT_EQ(framing.OversizedEvents(), 0u);
    std::vector<size_t> everyUnit;
    for (size_t nCut = 0; nCut <= kRecordedStream.size(); ++nCut) {
        SCOPED_TRACE("cut at " + std::to_string(nCut));
        ASSERT_EQ(FeedInPieces(kRecordedStream, {nCut}), kRecordedEvents);
        if (nCut > 0 && nCut < kRecordedStream.size()) everyUnit.push_back(nCut);
    }
    EXPECT_EQ(FeedInPieces(kRecordedStream, everyUnit), kRecordedEvents);
}

// What lies between streams and beyond the limits: each row feeds writes,
// some of them on a new connection, and lists the events and last id.
TEST(EventStreamFraming, StreamsEndsAndLimits) {
    const std::wstring longValue(CEventStreamFraming::MaxEventUnits, L'x');
    static const wchar_t kNulId[] = L"id: 5\nid: a\0b\ndata: x\n\n";
    struct Write { bool bNewStream; std::wstring text; };
    const struct {
        const char* pszName;
        std::vector<Write> writes;
        Events events;
        std::wstring lastId;
        DWORD dwOversized;
    } cases[] = {
        {"an event cut off by the end of its stream is lost, its id too",
         {{false, L"id: 1\ndata: {\"a\":1}\n\nid: 2\ndata: {\"half"}, {true, L"data: {\"b\":2}\n\n"}},
         {{L"{\"a\":1}", L"1"}, {L"{\"b\":2}", L"1"}}, L"1", 0},
        {"the last id carries over to the next stream",
         {{false, L"id: 7\ndata: x\n\n"}, {true, L"data: y\n\n"}}, {{L"x", L"7"}, {L"y", L"7"}}, L"7", 0},
        {"a CR ending one stream does not swallow the LF that starts the next",
         {{false, L"data: x\r"}, {true, L"\ndata: y\n\n"}}, {{L"y", L""}}, L"", 0},
        {"a new stream may start with a byte-order mark",
         {{false, L"data: x\n\n"}, {true, L"\xFEFF" L"data: y\n\n"}}, {{L"x", L""}, {L"y", L""}}, L"", 0},
        {"a byte-order mark elsewhere is text", {{false, L"data: \xFEFF\n\n"}}, {{L"\xFEFF", L""}}, L"", 0},
        {"an event longer than the limit is dropped whole, the next one arrives",
         {{false, L"id: 1\ndata: " + longValue + L"\ndata: more\n\nid: 2\ndata: {\"c\":3}\n\n"}},
         {{L"{\"c\":3}", L"2"}}, L"2", 1},
        {"a line without end longer than the limit costs only its event",
         {{false, L"data: " + longValue}, {false, longValue + L"\n\ndata: z\n\n"}}, {{L"z", L""}}, L"", 1},
        {"an event just within the limit arrives",
         {{false, L"data: " + std::wstring(CEventStreamFraming::MaxEventUnits - 8, L'y') + L"\n\n"}},
         {{std::wstring(CEventStreamFraming::MaxEventUnits - 8, L'y'), L""}}, L"", 0},
        {"an id holding NUL is ignored", {{false, std::wstring(kNulId, std::size(kNulId) - 1)}},
         {{L"x", L"5"}}, L"5", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        CEventStreamFraming framing;
        Events events;
        for (const Write& write : c.writes) {
            if (write.bNewStream) framing.BeginStream();
            const Events piece = ToPairs(framing.Feed(write.text.data(), write.text.size()));
            events.insert(events.end(), piece.begin(), piece.end());
        }
        EXPECT_EQ(events, c.events);
        EXPECT_EQ(framing.LastEventId(), c.lastId);
        EXPECT_EQ(framing.OversizedEvents(), c.dwOversized);
    }
}

// The framing tells an event's own id from one left over from an earlier event.
TEST(DeliveredEventsTest, ReplayedEventsAreDeliveredOnceAndEventsWithoutIdAlways) {
    CEventStreamFraming framing;
    CDeliveredEvents delivered;
    using Deliveries = std::vector<std::pair<std::wstring, bool>>;  // each event's data, and whether delivered first
    auto deliver = [&](const std::wstring& text) {
        Deliveries result;
        for (const StreamEvent& event : framing.Feed(text.data(), text.size()))
            result.emplace_back(event.sData, !event.bOwnId || delivered.FirstDelivery(event.sId));
        return result;
    };
    EXPECT_EQ(deliver(L"id: 7\ndata: a\n\ndata: b\n\nid: 8\ndata: c\n\n"),
              (Deliveries{{L"a", true}, {L"b", true}, {L"c", true}}));
    EXPECT_EQ(framing.LastEventId(), L"8");
    // The next stream starts its replay one event early, and an event without an id follows.
    framing.BeginStream();
    EXPECT_EQ(deliver(L"id: 8\ndata: c\n\nid: 9\ndata: d\n\ndata: e\n\n"),
              (Deliveries{{L"c", false}, {L"d", true}, {L"e", true}}));
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
