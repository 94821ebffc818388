#include "config/CSimpleCRC.h"

#include <array>

namespace {
// The CCITT polynomial's table; any fixed table gives names that agree in
// every process, which is all the checksum is for.
constexpr std::array<WORD, 256> MakeTable() {
    std::array<WORD, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned value = i << 8;
        for (int bit = 0; bit < 8; ++bit) value = (value & 0x8000) ? (value << 1) ^ 0x1021 : value << 1;
        table[i] = static_cast<WORD>(value);
    }
    return table;
}
constexpr std::array<WORD, 256> kTable = MakeTable();
}  // namespace

WORD CSimpleCRC::Checksum(const BYTE* pData, size_t cbData) const {
    unsigned value = 0xFFFF;
    for (size_t i = 0; i < cbData; ++i) value = ((value << 8) ^ kTable[value >> 8] ^ pData[i]) & 0xFFFF;
    return static_cast<WORD>(value);
}
