// The spline curve. The natural cubic spline (second derivative 0 at both
// ends) is solved by the tridiagonal sweep, sampled at every subpixel column
// between the first and last point, and drawn as one vertical run per
// column: the pen high plus the curve's rise since the last drawn column, so
// steep parts have no gaps. The run's two end pixels are blended with the
// sixteenths position of the edge inside its pixel. The four subpixel
// columns of a pixel column each draw into it. Temporary arrays come from
// the pool.
#include "gui/GUI_Spline.h"

#include <cmath>

#include "gui/GUICC_M332.h"
#include "gui/GUI_Alloc.h"
#include "gui/GUI_Common.h"
#include "gui/GUI_Float.h"
#include "gui/GUI_Rect.h"
#include "gui/GUI_Units.h"
#include "host/platform.h"

// Bracket of the last evaluated x, carried from sample to sample.
static int32_t klo = 0, khi = 0;

static void _ResetSpline() {
    klo = 0;
    khi = 0;
}
SIM_REGISTER_RESET(_ResetSpline);

float Splint(const GUI_POINT *points, const float *y2, int32_t n, float x, int32_t i) {
    if (i == 0) {
        klo = 0;
        khi = n - 1;
    } else {
        if ((float)points[klo].x > x) klo = 0;
        if (x > (float)points[khi].x) khi = n - 1;
    }
    while (khi - klo > 1) {
        int32_t k = (khi + klo) >> 1;
        if ((float)points[k].x > x) khi = k;
        else klo = k;
    }
    const float h = (float)(points[khi].x - points[klo].x);
    const float a = ((float)points[khi].x - x) / h;
    const float b = (x - (float)points[klo].x) / h;
    return a * (float)points[klo].y + b * (float)points[khi].y +
           ((a * a * a - a) * y2[klo] + (b * b * b - b) * y2[khi]) * h * h / 6.0f;
}

void CubicSpline_1D(const GUI_POINT *points, int32_t n, float *out, int32_t count) {
    float *y2 = (float *)GUI_AllocNoInit((uint32_t)n * sizeof(float));
    float *u = (float *)GUI_AllocNoInit((uint32_t)n * sizeof(float));
    y2[0] = 0.0f;
    u[0] = 0.0f;
    for (int32_t i = 1; i <= n - 2; i++) {
        const float hl = (float)(points[i].x - points[i - 1].x);
        const float hw = (float)(points[i + 1].x - points[i - 1].x);
        const float sig = hl / hw;
        const float p = 2.0f + y2[i - 1] * sig;
        y2[i] = (sig - 1.0f) / p;
        const float d = (float)(points[i + 1].y - points[i].y) / (float)(points[i + 1].x - points[i].x) -
                        (float)(points[i].y - points[i - 1].y) / hl;
        u[i] = (6.0f * d / hw - u[i - 1] * sig) / p;
    }
    y2[n - 1] = 0.0f;
    for (int32_t k = n - 2; k >= 0; k--) y2[k] = u[k] + y2[k] * y2[k + 1];
    GUI_Free(u);
    for (int32_t i = 0; i < count; i++) out[i] = Splint(points, y2, n, (float)(i + points[0].x), i);
    GUI_Free(y2);
}

static inline uint32_t _Round4(uint64_t v) { return (uint32_t)((v + 3) & ~(uint64_t)3); }

void GUI_Spline(const GUI_POINT *points, int32_t n) {
    if (n <= 1) return;
    if (points[n - 1].x < 0) return;
    for (int32_t i = 1; i < n; i++) {
        if (points[i].x <= points[i - 1].x) return;
    }
    const int64_t span = (int64_t)points[n - 1].x - points[0].x + 1;
    // A curve whose samples would not fit the pool is not drawn, rather than
    // stopping the program: the limit is far beyond what the path command
    // can send (about 8200 columns).
    const uint64_t sampleBytes = (uint64_t)span * sizeof(float), arrayBytes = (uint64_t)n * sizeof(float);
    const uint64_t need = (uint64_t)_Round4(sampleBytes) + 2ull * _Round4(arrayBytes);
    if (span > INT32_MAX / (int64_t)sizeof(float) || need > GUI_GetNumFreeBytes()) return;
    const int32_t count = (int32_t)span;

    const PoolMark job;
    float *samples = (float *)GUI_AllocNoInit((uint32_t)count * sizeof(float));
    CubicSpline_1D(points, n, samples, count);

    // A sixteenth of a pixel is a quarter of a quarter pixel.
    constexpr float kSixteenthsPerSub = (float)kSubPerPixel;
    constexpr int32_t kSixteenthMask = kSubPerPixelArea - 1;
    const GUI_ContextRecord &c = GUI_Context;
    const float pen = (float)c.penSize;
    float prev = samples[0];
    for (int32_t i = 0; i < count; i++) {
        const int32_t x = points[0].x + i;
        const float y = samples[i];
        const float half = (pen + fabsf(prev - y)) / 2.0f;
        const float top = y - half, bot = y + half;
        int32_t yt = GUI_TruncToInt(top), yb = GUI_TruncToInt(bot);
        if (x > c.subClipX1) break;
        if (x < c.subClipX0) continue;
        if (yt < c.subClipY0) yt = c.subClipY0;
        if (yb > c.subClipY1) yb = c.subClipY1;
        if (yt > yb) continue;
        const int32_t px = subToNearestPixel(x);
        // The end pixels round to the nearest pixel and can fall one column
        // right of or one row below the clip (off the frame buffer at its
        // right and bottom edges); they are blended only inside the clip.
        const bool columnInside = px >= c.clipX0 && px <= c.clipX1;
        const int32_t topRow = subToNearestPixel(yt), botRow = subToNearestPixel(yb);
        // An end's blend weight is its place inside its pixel, in sixteenths
        // of a pixel (quarter pixels times four, wrapped to the pixel).
        uint8_t ct = (uint8_t)(GUI_TruncToInt(kSixteenthsPerSub * top) & kSixteenthMask);
        if (columnInside && topRow >= c.clipY0 && topRow <= c.clipY1) MixColorLineM332(px, topRow, &ct, 1);
        GUI_FillRect(px, (yt + 3) >> kSubShift, px, (yb + 1) >> kSubShift);
        uint8_t cb = (uint8_t)(GUI_TruncToInt(kSixteenthsPerSub * bot) & kSixteenthMask);
        if (columnInside && botRow >= c.clipY0 && botRow <= c.clipY1) MixColorLineM332(px, botRow, &cb, 1);
        prev = y;
    }
    GUI_Free(samples);
}
