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

void Mix2bitBlockM332(int32_t x, int32_t y0, int32_t y1, const uint8_t *data, int32_t end,
                      int32_t bytesPerRow, int32_t skip) {
    const uint8_t color = GUI_Context.colorIndex;
    const uint32_t fore = M332_Spread(color);
    for (int32_t row = y0; row < y1; row++) {
        uint8_t *dst = GetPixelAddr_8bit(x, row);
        const uint8_t *src = data + (int64_t)(row - y0) * bytesPerRow;
        uint32_t bits = 0;
        int32_t i = skip;
        if (skip >= 1) bits = (uint8_t)(*src++ << (2 * skip));
        while (i < end) {
            if ((i & 3) == 0) {
                bits = *src++;
                if (bits == 0) {
                    i += 4;
                    dst += 4;
                    continue;
                }
            }
            uint32_t v = (bits >> 6) & 3;
            bits = (bits << 2) & 0xFF;
            if (v == 3) {
                *dst = color;
            } else if (v != 0) {
                *dst = M332_Mix(fore, M332_Spread(*dst), 3 * v);
            }
            i++;
            dst++;
        }
    }
}

void Mix4bitBlockM332(int32_t x, int32_t y0, int32_t y1, const uint8_t *data, int32_t end,
                      int32_t bytesPerRow, int32_t skip) {
    const uint8_t color = GUI_Context.colorIndex;
    const uint32_t fore = M332_Spread(color);
    for (int32_t row = y0; row < y1; row++) {
        uint8_t *dst = GetPixelAddr_8bit(x, row);
        const uint8_t *src = data + (int64_t)(row - y0) * bytesPerRow;
        uint32_t bits = 0;
        int32_t i = skip;
        if (skip >= 1) bits = (uint8_t)(*src++ << (4 * skip));
        while (i < end) {
            if ((i & 1) == 0) {
                bits = *src++;
                if (bits == 0) {
                    i += 2;
                    dst += 2;
                    continue;
                }
            }
            uint32_t v = (bits >> 4) & 15;
            bits = (bits << 4) & 0xFF;
            if (v == 15) {
                *dst = color;
            } else if (v != 0) {
                *dst = M332_Mix(fore, M332_Spread(*dst), v >> 1);
            }
            i++;
            dst++;
        }
    }
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
