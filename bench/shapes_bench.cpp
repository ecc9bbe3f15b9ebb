// Antialiased shapes: the engines' span accumulation and flush dominate.
#include "bench/bench.h"
#include "gui/GUI_Circle.h"
#include "gui/GUI_Common.h"
#include "gui/GUI_Line.h"
#include "gui/GUI_Polygon.h"

BENCH_CASE(fillCircle_radius_150px, 500) {
    GUI_SetColor(0xFF3366CC);
    GUI_FillCircle(320 * 4, 200 * 4, 150 * 4);
}

BENCH_CASE(drawEllipseRot_outline, 500) {
    GUI_SetColor(0xFFCC6633);
    GUI_SetPenSize(12);
    GUI_DrawEllipseRot(320 * 4, 200 * 4, 250 * 4, 120 * 4, 200);
}

BENCH_CASE(drawPath_thick_zigzag, 500) {
    static GUI_POINT points[16];
    for (int i = 0; i < 16; i++) points[i] = GUI_POINT{(20 + i * 38) * 4, (i & 1 ? 350 : 50) * 4};
    GUI_SetColor(0xFFFFFFFF);
    GUI_SetPenSize(24);
    GUI_DrawPath(points, 16);
}
