// RGB332 conversions and the spread-colour mixing routines. Mixing works on
// the three fields at once: the guard bits of the spread form absorb the
// borrows of the field-wise subtraction, so no per-pixel conversion to 24-bit
// colour is needed.
#include "gui/GUICC_M332.h"
#include "gui/GUI_Common.h"
#include "gui/GUIDRV_Lin_8.h"

const uint8_t M332_3bitColor[8] = {0x00, 0x25, 0x49, 0x6D, 0x92, 0xB6, 0xDB, 0xFF};
const uint8_t M332_2bitColor[4] = {0x00, 0x55, 0xAA, 0xFF};

uint8_t Color2Index_M332(uint32_t color) {
    uint32_t r = (color >> 16) & 0xFF, g = (color >> 8) & 0xFF, b = color & 0xFF;
    uint32_t r3 = (r * 1799 + 32768) >> 16;
    uint32_t g3 = (g * 1799 + 32768) >> 16;
    uint32_t b2 = (b * 771 + 32768) >> 16;
    return (uint8_t)((r3 << 5) | (g3 << 2) | b2);
}

uint32_t Index2Color_M332(uint8_t index) {
    return 0xFF000000u | ((uint32_t)M332_3bitColor[index >> 5] << 16) |
           ((uint32_t)M332_3bitColor[(index >> 2) & 7] << 8) | M332_2bitColor[index & 3];
}

uint8_t M332_Mix(uint32_t fore, uint32_t back, uint32_t f) {
    uint32_t t = ((fore - back) * f) >> 3;
    t = (t + back) & 0x71C7u;
    return (uint8_t)(((t >> 10) | (t >> 1)) & 0xFF);
}

void MixColorLineM332(int32_t x, int32_t y, const uint8_t *opacities, int32_t count) {
    const uint8_t color = GUI_Context.colorIndex;
    const uint32_t fore = M332_Spread(color);
    uint8_t *dst = GetPixelAddr_8bit(x, y);
    for (int32_t i = 0; i < count; i++) {
        uint8_t pixel = dst[i];
        if (pixel == color) continue;
        dst[i] = M332_Mix(fore, M332_Spread(pixel), (uint32_t)(opacities[i] + 1) >> 1);
    }
}

// Blends the current colour through a coverage bitmap of BPP bits per pixel
// (leftmost pixel in the high bits). A zero byte skips its pixels at once;
// full coverage writes the colour; anything else mixes at weight(v).
template <int BPP>
static void _MixCoverageBlock(int32_t x, int32_t y0, int32_t y1, const uint8_t *data, int32_t end,
                              int32_t bytesPerRow, int32_t skip) {
    constexpr int32_t pixelsPerByte = 8 / BPP;
    constexpr uint32_t full = (1u << BPP) - 1;
    const uint8_t color = GUI_Context.colorIndex;
    const uint32_t fore = M332_Spread(color);
    for (int32_t row = y0; row < y1; row++) {
        uint8_t *dst = GetPixelAddr_8bit(x, row);
        const uint8_t *src = data + (int64_t)(row - y0) * bytesPerRow;
        uint32_t bits = 0;
        int32_t i = skip;
        if (skip >= 1) bits = (uint8_t)(*src++ << (BPP * skip));
        while (i < end) {
            if (i % pixelsPerByte == 0) {
                bits = *src++;
                if (bits == 0) {
                    i += pixelsPerByte;
                    dst += pixelsPerByte;
                    continue;
                }
            }
            uint32_t v = (bits >> (8 - BPP)) & full;
            bits = (bits << BPP) & 0xFF;
            if (v == full) {
                *dst = color;
            } else if (v != 0) {
                // 2 bits: weight 3 or 6 eighths; 4 bits: half the coverage.
                uint32_t weight = BPP == 2 ? 3 * v : v >> 1;
                *dst = M332_Mix(fore, M332_Spread(*dst), weight);
            }
            i++;
            dst++;
        }
    }
}

void Mix2bitBlockM332(int32_t x, int32_t y0, int32_t y1, const uint8_t *data, int32_t end,
                      int32_t bytesPerRow, int32_t skip) {
    _MixCoverageBlock<2>(x, y0, y1, data, end, bytesPerRow, skip);
}

void Mix4bitBlockM332(int32_t x, int32_t y0, int32_t y1, const uint8_t *data, int32_t end,
                      int32_t bytesPerRow, int32_t skip) {
    _MixCoverageBlock<4>(x, y0, y1, data, end, bytesPerRow, skip);
}

void MixIndexLineM332(const uint8_t *src, int32_t x, int32_t y, const uint8_t *alphas, int32_t count,
                      int32_t step) {
    uint8_t *dst = GetPixelAddr_8bit(x, y);
    for (int32_t i = 0; i < count; i++, dst++) {
        uint8_t a = *alphas, c = *src;
        alphas += step;
        src += step;
        if (a == 0) continue;
        if (a == 7) {
            *dst = c;
            continue;
        }
        if (*dst == c) continue;
        *dst = M332_Mix(M332_Spread(c), M332_Spread(*dst), ((uint32_t)a + 15) >> 5);
    }
}
