// The flash is a plain byte array that starts as zeros on every run; writes
// go through FLASH_write_data, the one place a device would program flash.
#include "cache/flash.h"

#include <cstring>
#include "host/bytes.h"
#include "host/platform.h"

uint8_t __FLASH[FLASH_SIZE_BYTES];
uint8_t orvDynData[512];
uint8_t orvConstData[2048];

static void _ResetFlash() {
    memset(__FLASH, 0, sizeof __FLASH);
    memset(orvDynData, 0, sizeof orvDynData);
    memset(orvConstData, 0, sizeof orvConstData);
}
SIM_REGISTER_RESET(_ResetFlash);

void FLASH_write_data(uint8_t *flashAddress, const uint8_t *source, uint32_t length) {
    memmove(flashAddress, source, length);
}

void FLASH_read_data(uint8_t *destination, const uint8_t *flashAddress, uint32_t length) {
    memmove(destination, flashAddress, length);
}

void loadFlashData() {
    memset(orvDynData, 0, sizeof orvDynData);
    wr32le(orvDynData + 0, 0xDEADBEEFu);
    wr32le(orvDynData + 508, 0xBAADBEEFu);
    wr32le(orvDynData + 4, 1);
    FLASH_write_data(FLASH_Address(FLASH_DYNDATA_OFFSET), orvDynData, sizeof orvDynData);
    memset(orvConstData, 0, sizeof orvConstData);
    wr32le(orvConstData + 0, 0xDEADBEEFu);
    wr32le(orvConstData + 2044, 0xBAADBEEFu);
    wr32le(orvConstData + 4, 1);
    memcpy(orvConstData + 8, "113000400001", 12);
}
