// Circles and ellipses, rasterised row by row on the subpixel grid. Each
// subpixel row's extent is solved in closed form (square roots, a quadratic
// for rotated ellipses) in single precision and handed to an antialiasing
// engine: fills and the circle outline take the simple engine (the circle
// outline in two halves, so that each pass has one run per row), the ellipse
// outlines the general one, since their rows cross the hole as two runs.
#include "gui/GUI_Circle.h"

#include <cmath>

#include "gui/GUI_AALib.h"
#include "gui/GUI_AALibSimple.h"
#include "gui/GUI_Common.h"
#include "gui/GUI_Float.h"

// First row offset of the common row loop: rows above the clip's top are
// skipped without walking them.
static inline int32_t _FirstRow(int32_t cy, int32_t n) {
    int32_t dy = -n;
    if (cy + dy < GUI_Context.subClipY0) dy = GUI_Context.subClipY0 - cy;
    return dy;
}

void GUI_FillCircle(int32_t cx, int32_t cy, int32_t r) {
    AA_InitSimple(cx - r, cx + r);
    for (int32_t dy = _FirstRow(cy, r); dy <= r; dy++) {
        int32_t y = cy + dy;
        if (y > GUI_Context.subClipY1) break;
        int32_t w = GUI_RootWidth((float)(r * r - dy * dy));
        AA_DrawHLineSimple(cx - w, y, cx + w);
    }
    AA_ExitSimple();
}

void GUI_DrawCircle(int32_t cx, int32_t cy, int32_t r) {
    const int32_t ri = r - (int32_t)GUI_Context.penSize;
    // With ri <= 0 no row crosses the hole, and the outline is a full disc.
    for (int32_t side = -1; side <= 1; side += 2) {
        if (side < 0) AA_InitSimple(cx - r, cx);
        else AA_InitSimple(cx, cx + r);
        for (int32_t dy = _FirstRow(cy, r); dy <= r; dy++) {
            int32_t y = cy + dy;
            if (y > GUI_Context.subClipY1) break;
            int32_t w = GUI_RootWidth((float)(r * r - dy * dy));
            int32_t wi = 0;
            bool acrossHole = !(dy < -ri || dy > ri);
            if (acrossHole) wi = GUI_RootWidth((float)(ri * ri - dy * dy));
            if (side < 0) {
                AA_DrawHLineSimple(cx - w, y, acrossHole ? cx - wi : cx);
            } else {
                AA_DrawHLineSimple(acrossHole ? cx + wi : cx, y, cx + w);
            }
        }
        AA_ExitSimple();
    }
}

void GUI_FillEllipse(int32_t cx, int32_t cy, int32_t rx, int32_t ry) {
    if (ry == 0) return;
    const int32_t m = rx > ry ? rx : ry;
    AA_InitSimple(cx - m, cx + m);
    const float a2 = (float)(rx * rx);
    const float k = a2 / (float)(ry * ry);
    for (int32_t dy = _FirstRow(cy, ry); dy <= ry; dy++) {
        int32_t y = cy + dy;
        if (y > GUI_Context.subClipY1) break;
        int32_t w = GUI_RootWidth(a2 - (float)(dy * dy) * k);
        AA_DrawHLineSimple(cx - w, y, cx + w);
    }
    AA_ExitSimple();
}

void GUI_DrawEllipse(int32_t cx, int32_t cy, int32_t rx, int32_t ry) {
    if (ry == 0) return;   // as the fill: no rows to solve (and no division by zero)
    AA_Init(cx - rx, cx + rx);
    const int32_t pen = (int32_t)GUI_Context.penSize;
    // The band is one subpixel narrower than the pen.
    const int32_t rxi = rx - pen + 1, ryi = ry - pen + 1;
    const float a2 = (float)(rx * rx), k = a2 / (float)(ry * ry);
    // A pen so wide that an inner radius is zero or negative leaves no hole:
    // the outline is the filled ellipse.
    const bool hole = rxi > 0 && ryi > 0;
    const float ai2 = hole ? (float)(rxi * rxi) : 0.0f;
    const float ki = hole ? ai2 / (float)(ryi * ryi) : 0.0f;
    for (int32_t dy = _FirstRow(cy, ry); dy <= ry; dy++) {
        int32_t y = cy + dy;
        if (y > GUI_Context.subClipY1) break;
        int32_t d2 = dy * dy;
        int32_t w = GUI_RootWidth(a2 - (float)d2 * k);
        int32_t xl = cx - w, xr = cx + w;
        if (hole && -ryi < dy && dy < ryi) {
            int32_t wi = GUI_RootWidth(ai2 - (float)d2 * ki);
            AA_DrawHLine(xl, y, cx - wi);
            AA_DrawHLine(cx + wi, y, xr);
        } else {
            AA_DrawHLine(xl, y, xr);
        }
    }
    AA_Exit();
}

// Coefficients of a rotated ellipse's row quadratic.
//
// The ellipse with half axes p and q, turned by t, is u^2 / p^2 + v^2 / q^2
// = 1 with u = x cos t + y sin t and v = y cos t - x sin t (x and y from the
// centre). Multiplied out, row y meets it where
//     a x^2 + 2 b y x + (c y^2 - 1) = 0,
//     a = (q^2 cos^2 t + p^2 sin^2 t) / (p^2 q^2),
//     b = (q^2 - p^2) sin t cos t / (p^2 q^2),
//     c = (q^2 sin^2 t + p^2 cos^2 t) / (p^2 q^2),
// that is at x = -(b / a) y +- sqrt(b^2 y^2 - a (c y^2 - 1)) / a. The record
// keeps P = 2a, Q = 2b, R = 2ac and S = b / a, so that the discriminant is
// (y Q)^2 - 2 (y^2 R - P) and the row's half width its root over P.
struct _RotEllipse {
    float P, Q, R, S;
};

// Angles come in quarter degrees.
static constexpr float kDegreesPerQuarterDegree = 0.25f;
static constexpr float kRadiansPerDegree = 0.017453292f;   // pi / 180, rounded to float

static _RotEllipse _RotCoefficients(int32_t p, int32_t q, int32_t angle) {
    const float t = ((float)angle * kDegreesPerQuarterDegree) * kRadiansPerDegree;
    float sn, cs;
    sincosf(t, &sn, &cs);
    const float A = (float)(p * p), B = (float)(q * q), AB = A * B;
    const float cc = cs * cs, ss = sn * sn, sc = cs * sn;
    _RotEllipse e;
    e.P = 2.0f * (A * ss + B * cc) / AB;
    e.Q = (B - A) * (2.0f * sc) / AB;
    e.R = (B * ss + A * cc) * e.P / AB;
    e.S = (B - A) * sc / (B * cc + A * ss);
    return e;
}

// The row's extent at offset dy, or false when the row misses the ellipse.
static bool _RotRow(const _RotEllipse &e, int32_t cx, int32_t dy, int32_t *xl, int32_t *xr) {
    const float tq = (float)dy * e.Q, t2 = tq * tq;
    const float u = ((float)(dy * dy) * e.R - e.P) * 2.0f;
    if (u > t2) return false;
    const float h = sqrtf(t2 - u) / e.P;
    *xl = cx - GUI_TruncToInt((float)dy * e.S + h);
    *xr = cx + GUI_TruncToInt(h - (float)dy * e.S);
    return true;
}

void GUI_FillEllipseRot(int32_t cx, int32_t cy, int32_t rx, int32_t ry, int32_t angle) {
    // A zero radius leaves the quadratic without a solution (a division by
    // zero); such an ellipse is not drawn.
    if (rx == 0 || ry == 0) return;
    const int32_t m = rx > ry ? rx : ry;
    AA_InitSimple(cx - m, cx + m);
    const _RotEllipse e = _RotCoefficients(rx, ry, angle);
    for (int32_t dy = _FirstRow(cy, m); dy <= m; dy++) {
        int32_t y = cy + dy;
        if (y > GUI_Context.subClipY1) break;
        int32_t xl, xr;
        if (_RotRow(e, cx, dy, &xl, &xr)) AA_DrawHLineSimple(xl, y, xr);
    }
    AA_ExitSimple();
}

void GUI_DrawEllipseRot(int32_t cx, int32_t cy, int32_t rx, int32_t ry, int32_t angle) {
    if (rx == 0 || ry == 0) return;
    const int32_t pen = (int32_t)GUI_Context.penSize;
    const int32_t rxi = rx - pen + 1, ryi = ry - pen + 1;
    const int32_t m = rx > ry ? rx : ry;
    AA_Init(cx - m, cx + m);
    const _RotEllipse outer = _RotCoefficients(rx, ry, angle);
    // As for the axis-parallel outline: no inner ellipse when an inner radius
    // is zero or negative (the outline is then the filled ellipse).
    const bool hole = rxi > 0 && ryi > 0;
    const _RotEllipse inner = hole ? _RotCoefficients(rxi, ryi, angle) : outer;
    for (int32_t dy = _FirstRow(cy, m); dy <= m; dy++) {
        int32_t y = cy + dy;
        if (y > GUI_Context.subClipY1) break;
        int32_t xl, xr, xil, xir;
        if (!_RotRow(outer, cx, dy, &xl, &xr)) continue;
        if (!hole || !_RotRow(inner, cx, dy, &xil, &xir)) {
            AA_DrawHLine(xl, y, xr);
        } else {
            AA_DrawHLine(xl, y, xil);
            AA_DrawHLine(xir, y, xr);
        }
    }
    AA_Exit();
}
