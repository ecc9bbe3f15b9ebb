// Bitmap copies clipped exactly on all four sides. Index 0 (black) is the
// transparent colour of transparent copies.
#include "gui/GUI_Bitmap.h"

#include <cstring>
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Common.h"

void DrawBitmapSimpleLine(int32_t x, int32_t y, int32_t count, const uint8_t *pixels) {
    if (count > 0) memcpy(GetPixelAddr_8bit(x, y), pixels, (size_t)count);
}

void DrawBitmapTransLine(int32_t x, int32_t y, int32_t count, const uint8_t *pixels) {
    uint8_t *dst = GetPixelAddr_8bit(x, y);
    for (int32_t i = 0; i < count; i++) {
        if (pixels[i]) dst[i] = pixels[i];
    }
}

void GUI_DrawBitmap(int32_t x, int32_t y, int32_t width, int32_t height, int32_t rowLength, const uint8_t *pixels,
                    int transparent) {
    const GUI_ContextRecord &c = GUI_Context;
    // 64-bit intermediates: positions and sizes come from the host.
    int64_t h = height;
    int64_t y0 = y;
    if (y0 < c.clipY0) {
        int64_t d = c.clipY0 - y0;
        h -= d;
        if (h < 1) return;
        pixels += d * rowLength;
        y0 = c.clipY0;
    }
    int64_t below = ((int64_t)y + height - 1) - c.clipY1;
    if (below > 0) {
        h -= below;
        if (h < 1) return;
    }
    int64_t span = width;
    int64_t right = ((int64_t)x + width - 1) - c.clipX1;
    if (right > 0) span = width - right;
    int64_t x0 = x;
    if (x0 < c.clipX0) {
        int64_t d = c.clipX0 - x0;
        span -= d;
        pixels += d;
        x0 = c.clipX0;
    }
    if (span < 1) return;
    for (int64_t row = 0; row < h; row++) {
        if (transparent) {
            DrawBitmapTransLine((int32_t)x0, (int32_t)(y0 + row), (int32_t)span, pixels);
        } else {
            DrawBitmapSimpleLine((int32_t)x0, (int32_t)(y0 + row), (int32_t)span, pixels);
        }
        pixels += rowLength;
    }
}
