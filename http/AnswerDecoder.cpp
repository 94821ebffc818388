#include "http/AnswerDecoder.h"

#include <vector>

void CAnswerDecoder::Reset() {
    *this = CAnswerDecoder();
}

std::wstring CAnswerDecoder::Decode(const BYTE* pbChunk, DWORD cbChunk) {
    if (pbChunk == nullptr || cbChunk == 0) return std::wstring();
    if (!m_bDecided && !m_bUtf16 && cbChunk >= MinTellingChunk) {
        m_bUtf16 = pbChunk[1] == 0 && pbChunk[3] == 0 && pbChunk[5] == 0;
        m_bDecided = pbChunk[0] != 0;
    }

    std::wstring sText;
    if (m_bUtf16) {
        std::vector<BYTE> bytes;
        if (m_bHeldByte) bytes.push_back(m_byHeld);
        bytes.insert(bytes.end(), pbChunk, pbChunk + cbChunk);
        m_bHeldByte = bytes.size() % 2 != 0;
        if (m_bHeldByte) {
            m_byHeld = bytes.back();
            bytes.pop_back();
        }
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
            sText.push_back(static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8)));
        }
    } else {
        const int cch = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, reinterpret_cast<LPCSTR>(pbChunk),
                                            static_cast<int>(cbChunk), nullptr, 0);
        if (cch > 0) {
            sText.resize(static_cast<size_t>(cch));
            MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, reinterpret_cast<LPCSTR>(pbChunk),
                                static_cast<int>(cbChunk), sText.data(), cch);
        }
    }
    return sText.substr(0, sText.find(L'\0'));
}
