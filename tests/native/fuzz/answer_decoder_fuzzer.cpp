// The answer decoder on any bytes, cut into two chunks where the input's odd
// last byte says: the text does not depend on where the chunks end, and a
// UTF-8 answer's text is well-formed UTF-16 (no lone surrogate). Seeds in
// corpus/answer_decoder/ are answers and streams as PBXs write them (raw and
// escaped UTF-8, a byte-order mark, UTF-16) and broken bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzInput.h"
#include "http/AnswerDecoder.h"

namespace {

std::wstring Decode(const uint8_t* pData, size_t cb, size_t cbFirst, bool& bUtf16) {
    CAnswerDecoder decoder;
    std::wstring sText = decoder.Decode(pData, static_cast<DWORD>(cbFirst));
    sText += decoder.Decode(pData + cbFirst, static_cast<DWORD>(cb - cbFirst));
    sText += decoder.Finish();
    bUtf16 = decoder.IsUtf16();
    return sText;
}

bool WellFormed(const std::wstring& sText) {
    for (size_t i = 0; i < sText.size(); ++i) {
        const unsigned c = static_cast<unsigned>(sText[i]);
        if (c >= 0xDC00 && c <= 0xDFFF) return false;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= sText.size() || sText[i + 1] < 0xDC00 || sText[i + 1] > 0xDFFF) return false;
            ++i;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cb) {
    const size_t cbText = cb % 2 != 0 ? cb - 1 : cb;
    const size_t cbFirst = cbText == 0 ? 0 : FuzzTail(pData, cb) % (cbText + 1);
    bool bUtf16Whole = false, bUtf16Split = false;
    const std::wstring sWhole = Decode(pData, cbText, cbText, bUtf16Whole);
    const std::wstring sSplit = Decode(pData, cbText, cbFirst, bUtf16Split);
    // The form is told from the first long chunk: a split before it may tell otherwise.
    if (bUtf16Whole == bUtf16Split && cbFirst >= CAnswerDecoder::MinTellingChunk && sWhole != sSplit)
        FuzzFail("the text does not depend on where the chunks end");
    if (!bUtf16Whole && !WellFormed(sWhole)) FuzzFail("UTF-8 decodes to well-formed UTF-16");
    return 0;
}
