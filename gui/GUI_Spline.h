// A smooth curve y = f(x) through points whose x values strictly increase:
// a natural cubic spline, drawn column by column with the pen's thickness.
#pragma once
#include <cstdint>

#include "gui/GUI_Polygon.h"

// Points in quarter pixels, at least two, x strictly increasing; other lists
// draw nothing.
void GUI_Spline(const GUI_POINT *points, int32_t n);

// out[i] = spline value at x = points[0].x + i, for i = 0..count - 1.
void CubicSpline_1D(const GUI_POINT *points, int32_t n, float *out, int32_t count);
// Spline value at x given the second derivatives y2; i is the index of the
// sample in its sweep (0 restarts the bracket search).
float Splint(const GUI_POINT *points, const float *y2, int32_t n, float x, int32_t i);
