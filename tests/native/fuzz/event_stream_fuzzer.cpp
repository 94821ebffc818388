// The event-stream framing on any text: the events and the last event id do
// not depend on how the stream is cut into writes. The odd last byte of an
// input picks the cuts, so that every seed is also fed whole.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "http/EventStreamFraming.h"

namespace {

std::vector<StreamEvent> FeedInPieces(const std::wstring& sUnits, unsigned nCutSeed, std::wstring& sLastId) {
    CEventStreamFraming framing;
    framing.BeginStream();
    std::vector<StreamEvent> events;
    size_t nPos = 0;
    unsigned nState = nCutSeed * 2654435761u + 1;
    while (nPos < sUnits.size()) {
        nState = nState * 1103515245u + 12345u;
        const size_t cch = nCutSeed == 0 ? sUnits.size() : 1 + (nState >> 16) % 7;
        const size_t cchPiece = cch < sUnits.size() - nPos ? cch : sUnits.size() - nPos;
        // Each piece in a block of its own size, so that a read past it shows.
        std::vector<WCHAR> piece(sUnits.begin() + nPos, sUnits.begin() + nPos + cchPiece);
        for (StreamEvent& event : framing.Feed(piece.data(), piece.size())) events.push_back(std::move(event));
        nPos += cchPiece;
    }
    sLastId = framing.LastEventId();
    return events;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cb) {
    const std::wstring sUnits = FuzzUnits(pData, cb);
    std::wstring sWholeId, sCutId;
    const std::vector<StreamEvent> whole = FeedInPieces(sUnits, 0, sWholeId);
    const std::vector<StreamEvent> cut = FeedInPieces(sUnits, FuzzTail(pData, cb) + 1, sCutId);
    if (whole.size() != cut.size()) FuzzFail("the same number of events whatever the cuts");
    for (size_t i = 0; i < whole.size(); ++i)
        if (whole[i].sData != cut[i].sData || whole[i].sId != cut[i].sId)
            FuzzFail("the same events whatever the cuts");
    if (sWholeId != sCutId) FuzzFail("the same last event id whatever the cuts");
    return 0;
}
