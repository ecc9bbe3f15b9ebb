// Solid and rounded rectangles. Straight parts are solid pixel rectangles;
// only rounded parts go through the simple antialiasing engine. Straight
// parts round quarter pixels to the nearest pixel, halves up (_NearestPx
// below), while the engine puts subpixel v into pixel v >> kSubShift; the
// two meet in the rounded shapes, which is why some bars end one pixel short.
#include "gui/GUI_Rect.h"

#include <cmath>

#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_AALibSimple.h"
#include "gui/GUI_Common.h"
#include "gui/GUI_Units.h"

// Quarter pixels to the nearest pixel, halves rounding up.
static inline int32_t _NearestPx(int32_t sub) { return subToNearestPixel(sub); }

static inline bool _RowVisible(int32_t y) { return y >= GUI_Context.subClipY0 && y <= GUI_Context.subClipY1; }

void GUI_FillRect(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    if (x0 < GUI_Context.clipX0) x0 = GUI_Context.clipX0;
    if (x1 > GUI_Context.clipX1) x1 = GUI_Context.clipX1;
    if (x1 < x0) return;
    if (y0 < GUI_Context.clipY0) y0 = GUI_Context.clipY0;
    if (y1 > GUI_Context.clipY1) y1 = GUI_Context.clipY1;
    if (y1 < y0) return;
    FillRectOpt8(x0, y0, x1, y1);
}

void GUI_DrawRect(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    const int32_t pen = (int32_t)GUI_Context.penSize;
    // The bars share their boundary columns and rows; the frame is solid, so
    // the overlaps do not show.
    GUI_FillRect(_NearestPx(x0), _NearestPx(y0), _NearestPx(x0 + pen), _NearestPx(y1));
    GUI_FillRect(_NearestPx(x1 - pen), _NearestPx(y0), _NearestPx(x1), _NearestPx(y1));
    GUI_FillRect(_NearestPx(x0 + pen), _NearestPx(y0), _NearestPx(x1 - pen), _NearestPx(y0 + pen));
    GUI_FillRect(_NearestPx(x0 + pen), _NearestPx(y1 - pen), _NearestPx(x1 - pen), _NearestPx(y1));
}

// Half chord, rounded to nearest, of a circle of radius r at distance d from
// its centre row.
static inline int32_t _RoundedHalfChord(int32_t r, int32_t d) {
    float v = sqrtf((float)(r * r - d * d)) + 0.5f;
    return v >= 0.0f ? (int32_t)v : 0;
}

void GUI_FillRoundedRect(int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t r) {
    AA_InitSimple(x0, x1);
    // Top band, downwards: rows above the clip are skipped, the band ends at
    // the first row below it.
    int32_t i = 0;
    if (y0 < GUI_Context.subClipY0) i = GUI_Context.subClipY0 - y0;
    for (; i <= r; i++) {
        int32_t y = y0 + i;
        if (y > GUI_Context.subClipY1) break;
        int32_t w = _RoundedHalfChord(r, r - i);
        AA_DrawHLineSimple(x0 + r - w, y, x1 - r + w);
    }
    // The middle's right edge is one pixel left of _NearestPx(x1): the antialiased
    // rows cover subpixel columns x0 to x1. The top band's last row is still
    // pending; pixels already holding the colour stay as they are.
    GUI_FillRect(_NearestPx(x0), _NearestPx(y0 + r), _NearestPx(x1) - 1, _NearestPx(y1 - r));
    // Bottom band, upwards.
    i = 0;
    if (y1 > GUI_Context.subClipY1) i = y1 - GUI_Context.subClipY1;
    for (; i <= r; i++) {
        int32_t y = y1 - i;
        if (y < GUI_Context.subClipY0) break;
        int32_t w = _RoundedHalfChord(r, r - i);
        AA_DrawHLineSimple(x0 + r - w, y, x1 - r + w);
    }
    AA_ExitSimple();
}

void DrawRoundedFramePart(int32_t x, int32_t y, int32_t r, int32_t ri, int32_t left, int32_t dir) {
    if (left) AA_InitSimple(x, x + r);
    else AA_InitSimple(x - r, x);
    // A pen wider than the radius (ri < 0) would, squared, cut a hole as if
    // ri were positive; the corner is then a plain quarter disc, as the
    // circle outline gives for such a pen.
    const int32_t ri2 = ri > 0 ? ri * ri : 0;
    for (int32_t i = 0; i < r; i++) {
        int32_t yy = y + dir * i;
        if (!_RowVisible(yy)) continue;
        int32_t d = r - i, d2 = d * d;
        float outer = sqrtf((float)(r * r - d2));
        int32_t w = outer >= 0.0f ? (int32_t)outer : 0;
        int32_t off = w - r;
        if (d2 < ri2) {
            float inner = sqrtf((float)(ri2 - d2));
            w -= inner >= 0.0f ? (int32_t)inner : 0;
        }
        if (left) AA_DrawHLineSimple(x - off, yy, x - off + w);
        else AA_DrawHLineSimple(x + off - w, yy, x + off);
    }
    AA_ExitSimple();
}

void GUI_DrawRoundedRect(int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t r) {
    const int32_t pen = (int32_t)GUI_Context.penSize;
    const int32_t ri = r - pen;
    DrawRoundedFramePart(x0, y0, r, ri, 1, +1);
    GUI_FillRect(_NearestPx(x0 + r) - 1, _NearestPx(y0), _NearestPx(x1 - r), _NearestPx(y0 + pen) - 1);
    DrawRoundedFramePart(x1, y0, r, ri, 0, +1);
    GUI_FillRect(_NearestPx(x0), _NearestPx(y0 + r) - 1, _NearestPx(x0 + pen) - 1, _NearestPx(y1 - r));
    GUI_FillRect(_NearestPx(x1 - pen), _NearestPx(y0 + r) - 1, _NearestPx(x1) - 1, _NearestPx(y1 - r));
    DrawRoundedFramePart(x0, y1, r, ri, 1, -1);
    GUI_FillRect(_NearestPx(x0 + r) - 1, _NearestPx(y1 - pen), _NearestPx(x1 - r), _NearestPx(y1) - 1);
    DrawRoundedFramePart(x1, y1, r, ri, 0, -1);
}
