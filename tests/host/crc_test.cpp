#include <gtest/gtest.h>

#include "host/platform.h"

TEST(Crc32, CheckValueOfDigits) {
    const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(CRC_Calculate(digits, sizeof digits), 0x89A1897Fu);
}

TEST(Crc32, EmptyInputIsZero) { EXPECT_EQ(CRC_Calculate(nullptr, 0), 0u); }

TEST(Crc32, MatchesBitwiseDefinition) {
    // A bit-at-a-time CRC written straight from the polynomial.
    uint8_t data[300];
    for (int i = 0; i < 300; i++) data[i] = (uint8_t)(i * 37 + 11);
    uint32_t crc = 0;
    for (uint8_t b : data) {
        crc ^= (uint32_t)b << 24;
        for (int k = 0; k < 8; k++) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    EXPECT_EQ(CRC_Calculate(data, sizeof data), crc);
}
