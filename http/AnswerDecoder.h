// Turns the answer's byte chunks into text. A body that is UTF-16LE (it
// starts with the byte-order mark FF FE, or bytes 1, 3 and 5 of its first
// telling chunk are zero) is taken as it is; any other body is UTF-8: a
// byte-order mark at its start is skipped, a character split between two
// chunks is put together, every byte that cannot be part of a character
// becomes U+FFFD (one for each longest broken start of a sequence), and NUL
// is a character like any other. Platform-free, so that it can be built
// natively for sanitizers and fuzzers.
#pragma once

#include <cstddef>
#include <string>

#include "common/Types.h"

class CAnswerDecoder {
public:
    // Chunks shorter than this do not decide the text form.
    static constexpr DWORD MinTellingChunk = 9;
    static constexpr wchar_t Replacement = 0xFFFD;

    // Starts a new answer.
    void Reset();
    // The text of the next chunk; a character it leaves unfinished is held
    // back for the next one.
    std::wstring Decode(const BYTE* pbChunk, DWORD cbChunk);
    // The end of the answer: a character left unfinished becomes U+FFFD.
    std::wstring Finish();
    bool IsUtf16() const { return m_bUtf16; }

private:
    void DecodeUtf16(const BYTE* pbChunk, DWORD cbChunk, std::wstring& sText);
    void DecodeUtf8(const BYTE* pbChunk, DWORD cbChunk, std::wstring& sText);
    // Appends a character, except a byte-order mark that starts the answer.
    void Emit(char32_t ch, std::wstring& sText);

    bool m_bUtf16 = false;
    bool m_bDecided = false;
    bool m_bAtStart = true;     // no character of the answer given out yet
    // A UTF-16 unit split between two chunks waits here for its second byte.
    bool m_bHeldByte = false;
    BYTE m_byHeld = 0;
    // The UTF-8 sequence under way: its bits so far, the bytes it still
    // needs and the range its next byte must be in.
    char32_t m_chPending = 0;
    int m_nNeeded = 0;
    BYTE m_byLower = 0x80;
    BYTE m_byUpper = 0xBF;
};
