// The emulated 3 MiB flash and the two device records kept beside it.
#pragma once
#include <cstdint>
#include "host/config.h"

extern uint8_t __FLASH[FLASH_SIZE_BYTES];
extern uint8_t orvDynData[512];
extern uint8_t orvConstData[2048];

constexpr uint32_t FLASH_CALIBRATION_OFFSET = 0x0A0000;
constexpr uint32_t FLASH_DYNDATA_OFFSET = 0x0A4000;

// A flash address is a pointer into __FLASH.
static inline uint8_t *FLASH_Address(uint32_t offset) { return __FLASH + offset; }

// The emulated flash cannot fail: these return nothing to check.
void FLASH_write_data(uint8_t *flashAddress, const uint8_t *source, uint32_t length);
void FLASH_read_data(uint8_t *destination, const uint8_t *flashAddress, uint32_t length);
void loadFlashData();
