// Masking on any text of an exchange, in a buffer with exactly as much spare
// room as the input's odd last byte says (0 to 15 units): the masking never
// reads or writes outside the buffer and leaves it terminated.
#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "http/MaskSecrets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cb) {
    const std::wstring sUnits = FuzzUnits(pData, cb);
    std::vector<wchar_t> buffer = FuzzTerminatedText(sUnits, FuzzTail(pData, cb) % 16);
    MaskSecrets(buffer.data(), buffer.size());
    if (wmemchr(buffer.data(), L'\0', buffer.size()) == nullptr) FuzzFail("the masked text is terminated");
    return 0;
}
