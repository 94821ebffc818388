// The strict Base64 decoder on any text, read through its length only (no
// terminator behind it): what it accepts is exactly the encoding of the bytes
// it gives, in one of the two alphabets, padded or not; a refusal leaves no
// bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "pbx/Base64.h"

namespace {

std::wstring Encode(const std::string& sBytes) {
    static const wchar_t kAlphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::wstring sText;
    for (size_t i = 0; i < sBytes.size(); i += 3) {
        const size_t cb = sBytes.size() - i < 3 ? sBytes.size() - i : 3;
        unsigned nGroup = 0;
        for (size_t k = 0; k < 3; ++k)
            nGroup = nGroup << 8 | (k < cb ? static_cast<unsigned char>(sBytes[i + k]) : 0u);
        for (size_t k = 0; k < 4; ++k) sText += k <= cb ? kAlphabet[(nGroup >> (18 - 6 * k)) & 63] : L'=';
    }
    return sText;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cb) {
    const std::wstring sUnits = FuzzUnits(pData, cb);
    const std::vector<wchar_t> text(sUnits.begin(), sUnits.end());
    std::string sBytes = "left over";
    if (Base64Decode(text.data(), text.size(), sBytes)) {
        // The text in the standard alphabet, and padded like its encoding.
        std::wstring sStandard = sUnits;
        const bool bStandardSigns = sUnits.find_first_of(L"+/") != std::wstring::npos;
        const bool bUrlSigns = sUnits.find_first_of(L"-_") != std::wstring::npos;
        if (bStandardSigns && bUrlSigns) FuzzFail("one alphabet per text");
        for (wchar_t& c : sStandard) c = c == L'-' ? L'+' : c == L'_' ? L'/' : c;
        std::wstring sEncoded = Encode(sBytes);
        if (sStandard.find(L'=') == std::wstring::npos)
            sEncoded.erase(sEncoded.find_last_not_of(L'=') + 1);
        if (sEncoded != sStandard) FuzzFail("accepted text is the encoding of its bytes");
    } else if (!sBytes.empty()) {
        FuzzFail("a refusal leaves no bytes");
    }
    return 0;
}
