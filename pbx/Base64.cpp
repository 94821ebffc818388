#include "pbx/Base64.h"

#include <new>

namespace {

enum class Alphabet { Unknown, Standard, UrlSafe };

// The six-bit value of a Base64 character, -1 for anything outside the
// alphabets or in the other alphabet than the one the text started with.
int SextetValue(wchar_t c, Alphabet& alphabet) {
    if (c >= L'A' && c <= L'Z') return c - L'A';
    if (c >= L'a' && c <= L'z') return c - L'a' + 26;
    if (c >= L'0' && c <= L'9') return c - L'0' + 52;
    const Alphabet own = (c == L'+' || c == L'/') ? Alphabet::Standard
                         : (c == L'-' || c == L'_') ? Alphabet::UrlSafe
                                                    : Alphabet::Unknown;
    if (own == Alphabet::Unknown) return -1;
    if (alphabet == Alphabet::Unknown) alphabet = own;
    if (alphabet != own) return -1;
    return (c == L'+' || c == L'-') ? 62 : 63;
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
    if (pszText == nullptr) return false;
    const size_t nPad = PaddingLength(pszText, cch);
    // Padded: whole groups. Unpadded: a last group of two or three characters at most.
    if (nPad != 0 ? cch % 4 != 0 : cch % 4 == 1) return false;

    const size_t cchData = cch - nPad;
    Alphabet alphabet = Alphabet::Unknown;
    try {
        std::string sDecoded;
        sDecoded.reserve(cchData / 4 * 3 + 2);
        unsigned nBits = 0;   // bits received but not yet given out as a byte
        int nBitCount = 0;
        for (size_t i = 0; i < cchData; ++i) {
            const int nSextet = SextetValue(pszText[i], alphabet);
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
