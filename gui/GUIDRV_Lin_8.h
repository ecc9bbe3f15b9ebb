// The 8-bit linear frame buffer driver: the screen buffer and the solid
// word-wise fills. The fills trust their callers, which clip first.
#pragma once
#include <cstdint>
#include "host/config.h"

extern uint8_t fb[FB_SIZE_BYTES];

uint8_t *GetPixelAddr_8bit(int32_t x, int32_t y);
void FillHLineOpt8(int32_t x0, int32_t y, int32_t x1);
void FillRectOpt8(int32_t x0, int32_t y0, int32_t x1, int32_t y1);
