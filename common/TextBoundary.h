// Where a text may be cut without splitting a character: a UTF-8 sequence
// or a UTF-16 surrogate pair is kept whole or left out whole. Platform-free.
#pragma once

#include <cstddef>

// The length of the longest start of the cb bytes of UTF-8 that holds at
// most cbMax bytes and ends between two characters.
inline size_t Utf8CutLength(const char* pBytes, size_t cb, size_t cbMax) {
    if (cb <= cbMax) return cb;
    size_t n = cbMax;
    // Back over the continuation bytes (10xxxxxx) of the character that would be split; a
    // character has at most three.
    for (int nBack = 0; nBack < 3 && n > 0 && (static_cast<unsigned char>(pBytes[n]) & 0xC0) == 0x80; ++nBack) --n;
    return n;
}

// The same for cch units of UTF-16 and at most cchMax units.
inline size_t Utf16CutLength(const wchar_t* pUnits, size_t cch, size_t cchMax) {
    if (cch <= cchMax) return cch;
    const auto isHigh = [](wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; };
    const auto isLow = [](wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; };
    return cchMax > 0 && isHigh(pUnits[cchMax - 1]) && isLow(pUnits[cchMax]) ? cchMax - 1 : cchMax;
}
