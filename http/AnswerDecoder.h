// Turns the answer's byte chunks into text. A body that is UTF-16LE (bytes 1,
// 3 and 5 of its first telling chunk are zero) is taken as it is; any other
// body is widened through the ANSI code page, which the PBX operations undo
// where they need the UTF-8 text back.
#pragma once

#include <windows.h>

#include <string>

class CAnswerDecoder {
public:
    // Chunks shorter than this do not decide the text form.
    static constexpr DWORD MinTellingChunk = 9;

    // Starts a new answer.
    void Reset();
    // The chunk's text, ending at its first NUL.
    std::wstring Decode(const BYTE* pbChunk, DWORD cbChunk);
    bool IsUtf16() const { return m_bUtf16; }

private:
    bool m_bUtf16 = false;
    bool m_bDecided = false;
    // A UTF-16 unit split between two chunks waits here for its second byte.
    bool m_bHeldByte = false;
    BYTE m_byHeld = 0;
};
