// CRC-32 of uploads: polynomial 0x04C11DB7, most significant bit first,
// initial value 0, no final inversion. The table is computed by the compiler.
#include <array>

#include "host/platform.h"

static constexpr std::array<uint32_t, 256> _MakeCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i << 24;
        for (int k = 0; k < 8; k++) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : (c << 1);
        table[i] = c;
    }
    return table;
}

static constexpr std::array<uint32_t, 256> kCrcTable = _MakeCrcTable();
static_assert(kCrcTable[1] == 0x04C11DB7u);

uint32_t CRC_Calculate(const uint8_t *data, uint32_t length) {
    uint32_t crc = 0;
    for (uint32_t i = 0; i < length; i++) crc = kCrcTable[((crc >> 24) ^ data[i]) & 0xFF] ^ (crc << 8);
    return crc;
}
