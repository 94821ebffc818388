// What the fuzz targets share: how an input's bytes become the product's text,
// and how a broken property ends the run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// An input is UTF-16LE, as the product holds text: two bytes per unit,
// widened to a wchar_t. An odd last byte is not part of the text (FuzzTail).
inline std::wstring FuzzUnits(const uint8_t* pData, size_t cb) {
    std::wstring sUnits(cb / 2, L'\0');
    for (size_t i = 0; i < sUnits.size(); ++i)
        sUnits[i] = static_cast<wchar_t>(pData[2 * i] | (pData[2 * i + 1] << 8));
    return sUnits;
}

// The odd last byte of an input, 0 when the size is even: lets a mutation
// vary a setting (a buffer's spare room) while every seed stays plain text.
inline unsigned FuzzTail(const uint8_t* pData, size_t cb) { return cb % 2 != 0 ? pData[cb - 1] : 0; }

// The units in a heap block of exactly their size plus the terminator, so that
// AddressSanitizer sees any read or write past the end of the text. Units
// after an embedded NUL stay in the block, as they would in a receive buffer.
inline std::vector<wchar_t> FuzzTerminatedText(const std::wstring& sUnits, size_t cchSpare = 0) {
    std::vector<wchar_t> text(sUnits.size() + 1 + cchSpare, L'\0');
    sUnits.copy(text.data(), sUnits.size());
    return text;
}

// Stops the run with the broken property; libFuzzer then saves the input.
[[noreturn]] inline void FuzzFail(const char* pszProperty) {
    fprintf(stderr, "property broken: %s\n", pszProperty);
    abort();
}
