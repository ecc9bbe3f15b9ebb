// Antialiased polygon fill: a scanline fill on the subpixel grid.
#pragma once
#include <cstdint>

// A vertex in quarter pixels.
struct GUI_POINT {
    int32_t x;
    int32_t y;
};

constexpr int32_t POLYGON_MAX_POINTS = 64;

// Fills the polygon (closed implicitly). simple selects the convex fill;
// triangles always take it.
void GUI_FillPolygon(const GUI_POINT *points, int32_t n, int32_t simple);

// Row fills for rows ymin..ymax into an already opened engine shape: the
// general even-odd fill (general engine) and the convex fill (simple engine).
void FillPolygon(const GUI_POINT *points, int32_t n, int32_t ymin, int32_t ymax);
void FillPolygonSimple(const GUI_POINT *points, int32_t n, int32_t ymin, int32_t ymax);
