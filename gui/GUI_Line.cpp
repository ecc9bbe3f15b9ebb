// Strokes. A solid segment is a rotated rectangle filled by the convex
// polygon fill; axis-parallel segments whose ends lie on pixel boundaries are
// filled as solid pixel rectangles instead. Dashes are shorter solid
// segments, dots filled circles. Each segment, dash, dot, join and cap is a
// separate antialiased shape, so overlapping fringes are blended twice.
#include "gui/GUI_Line.h"

#include <cmath>

#include "gui/GUI_AALibSimple.h"
#include "gui/GUI_Circle.h"
#include "gui/GUI_Common.h"
#include "gui/GUI_Rect.h"
#include "gui/GUI_Units.h"

static inline int32_t _Pen() { return (int32_t)GUI_Context.penSize; }

void GL_DrawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    const int32_t pen = _Pen();
    const int32_t half = pen >> 1;
    const GUI_ContextRecord &c = GUI_Context;
    if (y0 + half < c.subClipY0 && y1 + half < c.subClipY0) return;
    if (y0 - half > c.subClipY1 && y1 - half > c.subClipY1) return;
    const int32_t dx = x0 - x1, dy = y0 - y1;
    if (dx == 0 && dy == 0) return;
    int32_t xmin = x0 < x1 ? x0 : x1, xmax = x0 < x1 ? x1 : x0;
    int32_t ymin = y0 < y1 ? y0 : y1, ymax = y0 < y1 ? y1 : y0;

    if ((dx == 0 || dy == 0) && ((xmin | xmax | ymin | ymax) & kSubMask) == 0) {
        // Pixel-aligned and axis-parallel: a solid rectangle, both ends
        // included; the pen is split into a above/left and b below/right
        // (quarter pixels, then rounded to pixels).
        const int32_t aq = (pen - 1) / 2;
        const int32_t bq = aq + ((pen - 1) & 1);
        const int32_t a = subToNearestPixel(aq), b = subToNearestPixel(bq);
        const int32_t x0 = subToNearestPixel(xmin), x1 = subToNearestPixel(xmax);
        const int32_t y0 = subToNearestPixel(ymin), y1 = subToNearestPixel(ymax);
        if (dx == 0) GUI_FillRect(x0 - a, y0, x1 + b, y1);
        else GUI_FillRect(x0, y0 - a, x1, y1 + b);
        return;
    }

    // The direction perpendicular to the segment; the stroke is drawn half a
    // pixel wider than the pen.
    const float angle = atan2f((float)dy, (float)dx) + 1.5707964f;
    float sn, cs;
    sincosf(angle, &sn, &cs);
    const int32_t w = pen + 2;
    const int32_t px = (int32_t)(cs * (float)w), py = (int32_t)(sn * (float)w);
    int32_t pa, pb, qa, qb;
    if (px > 0) {
        pa = (px + 1) >> 1;
        pb = px >> 1;
    } else {
        pa = px >> 1;
        pb = (px - 1) >> 1;
    }
    if (py > 0) {
        qa = (py + 1) >> 1;
        qb = py >> 1;
        ymin -= qb;
        ymax += qa;
    } else {
        qa = py >> 1;
        qb = (py - 1) >> 1;
        ymin += qa;
        ymax -= qb;
    }
    const GUI_POINT quad[4] = {
        {x0 + pa, y0 + qa},
        {x0 - pb, y0 - qb},
        {x1 - pb, y1 - qb},
        {x1 + pa, y1 + qa},
    };
    AA_InitSimple(xmin - w, xmax + w);
    FillPolygonSimple(quad, 4, ymin, ymax);
    AA_ExitSimple();
}

static void _Dashed(int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t dx, int32_t dy, float len, int32_t pen) {
    // A pen of 0 makes dashes of no length: nothing to draw, and counting
    // the periods would divide by zero.
    if (pen <= 0) return;
    const int32_t period = 6 * pen;   // a dash of three pens, a gap of three
    if (len > (float)period) {
        const float f = (float)period / len;
        const int32_t stepx = (int32_t)((float)dx * f), stepy = (int32_t)((float)dy * f);
        const int32_t dashx = stepx >> 1, dashy = stepy >> 1;
        const int32_t n = (int32_t)(len / (float)period);
        int32_t x = x0, y = y0;
        for (int32_t i = 0; i < n; i++) {
            GL_DrawLine(x, y, x + dashx, y + dashy);
            x += stepx;
            y += stepy;
        }
        const int32_t rx = x1 - x, ry = y1 - y, h = period >> 1;
        if (rx * rx + ry * ry > h * h) GL_DrawLine(x, y, x + dashx, y + dashy);
        else GL_DrawLine(x, y, x1, y1);
    } else if (len >= (float)(4 * pen)) {
        GL_DrawLine(x0, y0, (x0 + x1) >> 1, (y0 + y1) >> 1);
    }
}

static void _Dotted(int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t dx, int32_t dy, float len, int32_t pen) {
    // A pen of 0 makes dots of no radius: nothing to draw, and counting the
    // dots would divide by zero.
    if (pen <= 0) return;
    const int32_t r = (pen - 1) >> 1;
    const int32_t spacing = 2 * pen;
    if (len > (float)spacing) {
        const float f = (float)spacing / len;
        const int32_t stepx = (int32_t)((float)dx * f), stepy = (int32_t)((float)dy * f);
        const int32_t n = (int32_t)(len / (float)spacing);
        int32_t x = x0, y = y0;
        for (int32_t i = 0; i < n; i++) {   // no dot is added at the end point
            GUI_FillCircle(x, y, r);
            x += stepx;
            y += stepy;
        }
    } else if (len > (float)(3 * (pen >> 1))) {
        GUI_FillCircle(x0, y0, r);
        GUI_FillCircle(x1, y1, r);
    } else {
        GUI_FillCircle((x0 + x1) >> 1, (y0 + y1) >> 1, r);
    }
}

void GL_DrawLineSpecial(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    const int32_t dx = x1 - x0, dy = y1 - y0;
    if (dx == 0 && dy == 0) return;
    const int32_t pen = _Pen();
    const int32_t half = pen >> 1;
    const float len = sqrtf((float)(dx * dx + dy * dy));
    switch (GUI_Context.lineStyle) {
    case 1: _Dashed(x0, y0, x1, y1, dx, dy, len, pen); break;
    case 2: _Dotted(x0, y0, x1, y1, dx, dy, len, pen); break;
    case 3: {
        // A dash shortened by two pens at each end, with a dot at each end.
        // Below four pens the dash runs backwards; it is drawn all the same.
        const float f = (float)(2 * pen) / len;
        const int32_t ex = (int32_t)((float)dx * f), ey = (int32_t)((float)dy * f);
        GL_DrawLine(x0 + ex, y0 + ey, x1 - ex, y1 - ey);
        GUI_FillCircle(x0, y0, half);
        GUI_FillCircle(x1, y1, half);
        break;
    }
    default: break;
    }
}

void GUI_DrawPath(const GUI_POINT *points, int32_t count) {
    if (count <= 1) return;
    const int32_t pen = _Pen();
    const int32_t r = (pen - 1) >> 1;
    const GUI_ContextRecord &c = GUI_Context;
    for (int32_t i = 1; i < count; i++) {
        const int32_t xa = points[i - 1].x, ya = points[i - 1].y;
        const int32_t xb = points[i].x, yb = points[i].y;
        // A segment wholly outside the clip (with the margin of the pen) is
        // skipped with its join.
        if (xa + r < c.subClipX0 && xb + r < c.subClipX0) continue;
        if (xa - r > c.subClipX1 && xb - r > c.subClipX1) continue;
        if (ya + r < c.subClipY0 && yb + r < c.subClipY0) continue;
        if (ya - r > c.subClipY1 && yb - r > c.subClipY1) continue;
        if (c.lineStyle == 0) {
            GL_DrawLine(xa, ya, xb, yb);
            if (r > 1 && i < count - 1) GUI_FillCircle(xb, yb, r);
        } else {
            GL_DrawLineSpecial(xa, ya, xb, yb);
        }
    }
    if (c.lineStyle == 0 && c.penShape == 0) {
        // Caps are drawn even when their segments were skipped; the disc
        // clips itself.
        GUI_FillCircle(points[0].x, points[0].y, r);
        GUI_FillCircle(points[count - 1].x, points[count - 1].y, r);
    }
}
