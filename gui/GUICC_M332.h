// RGB332 colour: conversions between 32-bit colours and indices, and the
// mixing routines that blend into the current device with partial coverage.
#pragma once
#include <cstdint>

extern const uint8_t M332_3bitColor[8];
extern const uint8_t M332_2bitColor[4];

uint8_t Color2Index_M332(uint32_t color);
uint32_t Index2Color_M332(uint8_t index);

// Spread form of an index: green in bits 14-12, red in 8-6, blue in 2-1,
// with zero guard bits between the fields to absorb borrows.
static inline uint32_t M332_Spread(uint8_t index) {
    return (((uint32_t)index << 10) | ((uint32_t)index << 1)) & 0x71C7u;
}

// fore and back are spread colours; f is the foreground weight in eighths (0..8).
uint8_t M332_Mix(uint32_t fore, uint32_t back, uint32_t f);

void MixColorLineM332(int32_t x, int32_t y, const uint8_t *opacities, int32_t count);
void Mix2bitBlockM332(int32_t x, int32_t y0, int32_t y1, const uint8_t *data, int32_t end,
                      int32_t bytesPerRow, int32_t skip);
void Mix4bitBlockM332(int32_t x, int32_t y0, int32_t y1, const uint8_t *data, int32_t end,
                      int32_t bytesPerRow, int32_t skip);
void MixIndexLineM332(const uint8_t *src, int32_t x, int32_t y, const uint8_t *alphas, int32_t count,
                      int32_t step);
