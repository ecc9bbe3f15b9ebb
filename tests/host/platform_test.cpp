// The platform services: the upload CRC, the response channel's framing and
// its one silent refusal, and the fatal-error exit.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "host/bytes.h"
#include "host/platform.h"
#include "tests/support/device_fixture.h"

TEST(Crc32, CheckValueAndTheBitwiseDefinition) {
    const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(CRC_Calculate(digits, sizeof digits), 0x89A1897Fu);
    EXPECT_EQ(CRC_Calculate(nullptr, 0), 0u);
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

using SendData = BareDeviceTest;

// Up to 1024 bytes go out with their length little-endian and the marker;
// a longer payload is logged like any other and then dropped.
TEST_F(SendData, FramesPayloadsUpTo1024BytesAndDropsLongerOnes) {
    testsupport::LogCapture log;
    static uint8_t big[1025];
    big[0] = 0x5A;
    for (uint16_t n : {300, 1024, 1025}) {
        testsupport::clearCaptures();
        sendData(big, n);
        const nimbra::Bytes &out = testsupport::capturedPackets();
        ASSERT_EQ(out.size(), n > 1024 ? 0u : n + 4u) << n;
        if (n <= 1024) {
            EXPECT_EQ(rd16le(out.data()), n);
            EXPECT_EQ(out[2], 0xAA);
            EXPECT_EQ(out[3], 0xFF);
            EXPECT_EQ(out[4], 0x5A);
        }
    }
    EXPECT_EQ(log.text(), "Sending back 300 bytes\nSending back 1024 bytes\nSending back 1025 bytes\n");
}

TEST(ErrorHandlerDeathTest, LogsItsLineClosesTheLogAndAborts) {
    const std::string path = ::testing::TempDir() + "nimbra_error_handler.log";
    remove(path.c_str());
    EXPECT_DEATH(
        {
            logfd = fopen(path.c_str(), "w");
            Error_Handler();
        },
        "");
    EXPECT_EQ(nimbra::readFile(path), (nimbra::Bytes{'E', 'r', 'r', 'r', 'o', 'r', ' ', 'H', 'a', 'n', 'd', 'l', 'e',
                                                       'r', '!', '\n'}));
    remove(path.c_str());
}
