// Solid fills on aligned 32-bit words. A row is written as a leading partial
// word (masked), whole words, and a trailing partial word (masked). Words are
// moved with memcpy so that no pointer is ever cast to a wider type; the
// compiler turns these into single aligned stores.
#include "gui/GUIDRV_Lin_8.h"
#include <cstring>
#include "gui/GUI_Common.h"
#include "host/platform.h"

alignas(16) uint8_t fb[FB_SIZE_BYTES];

static void _ResetFrameBuffer() { memset(fb, 0, sizeof fb); }
SIM_REGISTER_RESET(_ResetFrameBuffer);

uint8_t *GetPixelAddr_8bit(int32_t x, int32_t y) {
    return GUI_Context.device.vram + (intptr_t)x + (intptr_t)GUI_Context.device.xSize * y;
}

static inline void _StoreWord(uint8_t *p, uint32_t v) { memcpy(p, &v, 4); }
static inline uint32_t _LoadWord(const uint8_t *p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

// Mask of the bytes [from, to) of a little-endian word.
static inline uint32_t _ByteMask(int from, int to) {
    uint32_t m = 0;
    for (int i = from; i < to; i++) m |= 0xFFu << (8 * i);
    return m;
}

// Fills pixels x0..x1 of one row starting at rowBase, with the three-column
// scheme. unrollWords is 8 for single lines and 16 for rectangle rows.
static inline void _FillRow(uint8_t *rowBase, int32_t x0, int32_t x1, uint32_t colorWord, int unrollWords) {
    int32_t x = x0;
    int lead = x & 3;
    if (lead) {
        uint8_t *w = rowBase + (x - lead);
        int last = (x1 - (x - lead) < 3) ? (int)(x1 - (x - lead)) + 1 : 4;
        uint32_t mask = _ByteMask(lead, last);
        _StoreWord(w, (_LoadWord(w) & ~mask) | (colorWord & mask));
        x = x - lead + 4;
        if (x > x1) return;
    }
    int32_t remaining = x1 - x + 1;
    uint8_t *p = rowBase + x;
    const int32_t unrollPixels = unrollWords * 4;
    while (remaining >= unrollPixels) {
        for (int i = 0; i < unrollWords; i++) _StoreWord(p + 4 * i, colorWord);
        p += unrollPixels;
        remaining -= unrollPixels;
    }
    while (remaining >= 4) {
        _StoreWord(p, colorWord);
        p += 4;
        remaining -= 4;
    }
    if (remaining > 0) {
        uint32_t mask = _ByteMask(0, remaining);
        _StoreWord(p, (_LoadWord(p) & ~mask) | (colorWord & mask));
    }
}

void FillHLineOpt8(int32_t x0, int32_t y, int32_t x1) {
    uint32_t colorWord = GUI_Context.colorIndex * 0x01010101u;
    _FillRow(GetPixelAddr_8bit(0, y), x0, x1, colorWord, 8);
}

void FillRectOpt8(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    uint32_t colorWord = GUI_Context.colorIndex * 0x01010101u;
    int unroll = (x1 - x0 + 1) >= 64 ? 16 : 8;
    // Rows are written from the bottom up, as the device does.
    for (int32_t y = y1; y >= y0; y--) {
        _FillRow(GetPixelAddr_8bit(0, y), x0, x1, colorWord, unroll);
    }
}
