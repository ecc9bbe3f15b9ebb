// The numbers the device is built on, defined once.
#pragma once
#include <cstdint>

constexpr int SCREEN_WIDTH = 640;           // pixels
constexpr int SCREEN_HEIGHT = 400;          // pixels
constexpr uint32_t FB_SIZE_BYTES = SCREEN_WIDTH * SCREEN_HEIGHT;
constexpr uint32_t FRAME_SIZE_BYTES = 4 + FB_SIZE_BYTES * 4;   // 1024004
constexpr uint32_t RECORD_HEADER_BYTES = 8;
constexpr uint32_t RECORD_MAX_PAYLOAD_BYTES = 2048;
constexpr uint32_t RESPONSE_MAX_PAYLOAD_BYTES = 1024;
constexpr uint16_t DEFAULT_MTU = 490;
constexpr int SIM_VERSION = 119;
constexpr uint32_t POOL_SIZE_BYTES = 430080;
constexpr uint32_t SCRATCH_SIZE_BYTES = 1024;
constexpr uint32_t PACKET_CACHE_SIZE_BYTES = 32768;
constexpr uint32_t LINE_OPACITY_BUFFER_BYTES = 644;
constexpr uint32_t FLASH_SIZE_BYTES = 3u * 1024u * 1024u;

// Result codes of the result report.
constexpr uint8_t RESULT_OK = 0x00;
constexpr uint8_t RESULT_MALFORMED = 0x01;
constexpr uint8_t RESULT_SEQUENCE = 0x02;
constexpr uint8_t RESULT_UNSUPPORTED = 0x03;
constexpr uint8_t RESULT_DECODE_FAILED = 0xC0;
constexpr uint8_t RESULT_CRC_MISMATCH = 0xC1;
constexpr uint8_t RESULT_AUTH_FAILED = 0xE0;
constexpr uint8_t RESULT_COUNTER_REJECTED = 0xE1;
constexpr uint8_t RESULT_OTHER_IDENTITY = 0xE4;
