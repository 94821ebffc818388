#include "pbx/Base64.h"

#include <new>

namespace {

// The six-bit value of a Base64 character, -1 for anything outside the alphabet.
int SextetValue(wchar_t c) {
    if (c >= L'A' && c <= L'Z') return c - L'A';
    if (c >= L'a' && c <= L'z') return c - L'a' + 26;
    if (c >= L'0' && c <= L'9') return c - L'0' + 52;
    if (c == L'+') return 62;
    if (c == L'/') return 63;
    return -1;
}

// Number of "=" that end the text, at most two: a third is a misplaced one
// and fails as a character outside the alphabet.
size_t PaddingLength(const wchar_t* pszText, size_t cch) {
    size_t nPad = 0;
    while (nPad < 2 && nPad < cch && pszText[cch - 1 - nPad] == L'=') ++nPad;
    return nPad;
}

}  // namespace

bool Base64Decode(const wchar_t* pszText, size_t cch, std::string& sBytes) {
    sBytes.clear();
    if (pszText == nullptr || cch % 4 != 0) return false;

    const size_t cchData = cch - PaddingLength(pszText, cch);
    try {
        std::string sDecoded;
        sDecoded.reserve(cchData / 4 * 3 + 2);
        unsigned nBits = 0;   // bits received but not yet given out as a byte
        int nBitCount = 0;
        for (size_t i = 0; i < cchData; ++i) {
            const int nSextet = SextetValue(pszText[i]);
            if (nSextet < 0) return false;
            nBits = (nBits << 6 | static_cast<unsigned>(nSextet)) & 0xFFFF;
            nBitCount += 6;
            if (nBitCount >= 8) {
                nBitCount -= 8;
                sDecoded += static_cast<char>((nBits >> nBitCount) & 0xFF);
            }
        }
        // Left-over bits of a padded group: an encoder always writes them as zero.
        if ((nBits & ((1u << nBitCount) - 1)) != 0) return false;
        sBytes.swap(sDecoded);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
