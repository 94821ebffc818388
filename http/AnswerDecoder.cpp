#include "http/AnswerDecoder.h"

namespace {
constexpr char32_t kByteOrderMark = 0xFEFF;
}  // namespace

void CAnswerDecoder::Reset() {
    *this = CAnswerDecoder();
}

std::wstring CAnswerDecoder::Decode(const BYTE* pbChunk, DWORD cbChunk) {
    std::wstring sText;
    if (pbChunk == nullptr || cbChunk == 0) return sText;
    if (!m_bDecided && !m_bUtf16) {
        if (m_bAtStart && m_nNeeded == 0 && cbChunk >= 2 && pbChunk[0] == 0xFF && pbChunk[1] == 0xFE) {
            m_bUtf16 = m_bDecided = true;
        } else if (cbChunk >= MinTellingChunk) {
            m_bUtf16 = pbChunk[1] == 0 && pbChunk[3] == 0 && pbChunk[5] == 0;
            m_bDecided = pbChunk[0] != 0;
        }
    }
    sText.reserve(cbChunk);
    if (m_bUtf16) {
        DecodeUtf16(pbChunk, cbChunk, sText);
    } else {
        DecodeUtf8(pbChunk, cbChunk, sText);
    }
    return sText;
}

std::wstring CAnswerDecoder::Finish() {
    std::wstring sText;
    if (m_nNeeded != 0) Emit(Replacement, sText);
    m_nNeeded = 0;
    return sText;
}

void CAnswerDecoder::DecodeUtf16(const BYTE* pbChunk, DWORD cbChunk, std::wstring& sText) {
    DWORD i = 0;
    if (m_bHeldByte && cbChunk > 0) {
        m_bHeldByte = false;
        Emit(static_cast<char32_t>(m_byHeld | (pbChunk[i++] << 8)), sText);
    }
    for (; i + 1 < cbChunk; i += 2) Emit(static_cast<char32_t>(pbChunk[i] | (pbChunk[i + 1] << 8)), sText);
    if (i < cbChunk) {
        m_bHeldByte = true;
        m_byHeld = pbChunk[i];
    }
}

// The decoder of the WHATWG Encoding standard: a byte that cannot continue
// the sequence under way ends it with U+FFFD and is then looked at afresh.
void CAnswerDecoder::DecodeUtf8(const BYTE* pbChunk, DWORD cbChunk, std::wstring& sText) {
    for (DWORD i = 0; i < cbChunk;) {
        const BYTE b = pbChunk[i];
        if (m_nNeeded == 0) {
            ++i;
            if (b < 0x80) {
                Emit(b, sText);
            } else if (b >= 0xC2 && b <= 0xDF) {
                m_nNeeded = 1;
                m_chPending = b & 0x1F;
            } else if (b >= 0xE0 && b <= 0xEF) {
                if (b == 0xE0) m_byLower = 0xA0;  // no overlong forms
                if (b == 0xED) m_byUpper = 0x9F;  // no surrogates
                m_nNeeded = 2;
                m_chPending = b & 0x0F;
            } else if (b >= 0xF0 && b <= 0xF4) {
                if (b == 0xF0) m_byLower = 0x90;
                if (b == 0xF4) m_byUpper = 0x8F;  // nothing beyond U+10FFFF
                m_nNeeded = 3;
                m_chPending = b & 0x07;
            } else {
                Emit(Replacement, sText);
            }
            continue;
        }
        if (b < m_byLower || b > m_byUpper) {
            m_nNeeded = 0;
            m_byLower = 0x80;
            m_byUpper = 0xBF;
            Emit(Replacement, sText);
            continue;  // the same byte again, as the start of what follows
        }
        ++i;
        m_byLower = 0x80;
        m_byUpper = 0xBF;
        m_chPending = m_chPending << 6 | (b & 0x3F);
        if (--m_nNeeded == 0) Emit(m_chPending, sText);
    }
}

void CAnswerDecoder::Emit(char32_t ch, std::wstring& sText) {
    const bool bFirst = m_bAtStart;
    m_bAtStart = false;
    if (bFirst && ch == kByteOrderMark) return;
    if (ch > 0xFFFF) {
        ch -= 0x10000;
        sText.push_back(static_cast<wchar_t>(0xD800 + (ch >> 10)));
        sText.push_back(static_cast<wchar_t>(0xDC00 + (ch & 0x3FF)));
    } else {
        sText.push_back(static_cast<wchar_t>(ch));
    }
}
