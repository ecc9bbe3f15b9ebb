// Arcs. The arc is cut into at most four quadrant pieces; each is mirrored
// onto one canonical quadrant and rasterised row by row, its straight ends
// interpolated along the start and end rays. Angles grow counter-clockwise
// as seen on the screen (90 degrees points up). With the round pen a disc
// closes each end of the band.
#include "gui/GUI_Arc.h"

#include <cmath>

#include "gui/GUI_AALibSimple.h"
#include "gui/GUI_Circle.h"
#include "gui/GUI_Common.h"
#include "gui/GUI_Float.h"

int32_t calcInterSectLin(float y, float ya, float yb, float xa, float xb) {
    float d = yb - ya;
    if (-1.0f < d && d < 1.0f) return GUI_TruncToInt(xa);   // nearly horizontal
    return GUI_TruncToInt(0.5f + ((xb - xa) * (y - ya) / d + xa));
}

void drawArc90(int32_t cx, int32_t cy, float R, float Ri, float a, float b, int32_t sx, int32_t sy) {
    float sa, ca, sb, cb;
    sincosf(a * 0.017453292f, &sa, &ca);
    sincosf(b * 0.017453292f, &sb, &cb);
    const int32_t Ri2 = GUI_TruncToInt(Ri * Ri), R2 = GUI_TruncToInt(R * R);
    const int32_t yLo = GUI_TruncToInt(sa * Ri);         // inner end of the start ray
    const int32_t yHi = GUI_TruncToInt(0.5f + sb * R);   // outer end of the end ray
    AA_InitSimple(GUI_TruncToInt((float)cx - R), GUI_TruncToInt((float)cx + R));
    for (int32_t y = yHi; y >= yLo; y--) {
        const int32_t row = sy * y + cy;
        if (row < GUI_Context.subClipY0 || row > GUI_Context.subClipY1) continue;
        const float fy = (float)y;
        int32_t xo, xi;
        if (sa * R > fy) xo = calcInterSectLin(fy, sa * Ri, sa * R, ca * Ri, ca * R);
        else xo = GUI_RootWidth((float)(R2 - y * y));
        if (fy > sb * Ri) xi = calcInterSectLin(fy, sb * Ri, sb * R, cb * Ri, cb * R);
        else xi = GUI_RootWidth((float)(Ri2 - y * y));
        if (sx > 0) AA_DrawHLineSimple(cx + xi, row, cx + xo);
        else AA_DrawHLineSimple(cx - xo, row, cx - xi);
    }
    AA_ExitSimple();
}

// The quadrant pieces of the arc from s to e degrees, s <= e; a start
// below 0 counts from 0.
static void _DrawQuadrants(int32_t cx, int32_t cy, float R, float Ri, float s, float e) {
    for (int32_t q = 0; q < 4 && e > 0.0f; q++) {
        if (s < 90.0f) {
            if (s < 0.0f) s = 0.0f;
            const float eq = e < 90.0f ? e : 90.0f;
            switch (q) {
            case 0: drawArc90(cx, cy, R, Ri, s, eq, +1, -1); break;
            case 1: drawArc90(cx, cy, R, Ri, 90.0f - eq, 90.0f - s, -1, -1); break;
            case 2: drawArc90(cx, cy, R, Ri, s, eq, -1, +1); break;
            default: drawArc90(cx, cy, R, Ri, 90.0f - eq, 90.0f - s, +1, +1); break;
            }
        }
        e = e - 90.0f;
        s = s - 90.0f;
    }
}

static void _EndDisc(int32_t cx, int32_t cy, int32_t rx, int32_t angle) {
    const int32_t half = (int32_t)(GUI_Context.penSize >> 1);
    const float rc = (float)(rx - half);   // the middle of the band
    const float g = ((float)angle * 0.25f) * 0.017453292f;
    float sn, cs;
    sincosf(g, &sn, &cs);
    GUI_FillCircle(cx + GUI_TruncToInt(cs * rc), cy - GUI_TruncToInt(sn * rc), half);
}

void GUI_DrawArc(int32_t cx, int32_t cy, int32_t rx, int32_t ry, int32_t a0, int32_t a1) {
    (void)ry;
    float s = (float)a0 * 0.25f, e = (float)a1 * 0.25f;
    const float R = (float)rx;
    float Ri = R - (float)GUI_Context.penSize;
    // A pen wider than the radius would put the inner circle on the far side
    // of the centre; the band is then the full sector.
    if (Ri < 0.0f) Ri = 0.0f;
    // An end angle below the start would hand the quadrant pieces a local
    // start above their local end, for which the band has no meaning: no
    // band is drawn, as for an end angle of 0. The round pen's end discs
    // are drawn either way.
    if (s <= e) _DrawQuadrants(cx, cy, R, Ri, s, e);
    if (GUI_Context.penShape == 0) {
        _EndDisc(cx, cy, rx, a0);
        _EndDisc(cx, cy, rx, a1);
    }
}
