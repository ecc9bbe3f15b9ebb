// Polygon fill on the subpixel grid. For each subpixel row the crossings with
// the edges come from per-edge inverse slopes computed once per polygon. Each
// edge includes its upper end and excludes its lower one, so horizontal edges
// never cross and a vertex the boundary passes through counts once. The
// general fill sorts all crossings of a row and fills between pairs
// (even-odd); the convex fill stops at the first two crossings.
#include "gui/GUI_Polygon.h"

#include "gui/GUI_AALib.h"
#include "gui/GUI_AALibSimple.h"
#include "gui/GUI_Common.h"

static constexpr int32_t MAX_CROSSINGS = 32;

static float dyinv[POLYGON_MAX_POINTS];   // inverse slope of the edge ending at vertex i
static int32_t isecX[MAX_CROSSINGS];      // crossings of the current row, ascending
static int32_t numIsecX;

static void Polygon_Add(int32_t x) {
    if (numIsecX >= MAX_CROSSINGS) return;
    int32_t i = numIsecX;
    while (i > 0 && isecX[i - 1] >= x) {
        isecX[i] = isecX[i - 1];
        i--;
    }
    isecX[i] = x;
    numIsecX++;
}

static void _ComputeInverseSlopes(const GUI_POINT *points, int32_t n) {
    for (int32_t i = 0; i < n; i++) {
        const GUI_POINT &prev = points[i == 0 ? n - 1 : i - 1];
        const GUI_POINT &cur = points[i];
        // A horizontal edge never crosses a row; its slope is never read.
        int32_t dy = prev.y - cur.y;
        dyinv[i] = dy == 0 ? 0.0f : (float)(prev.x - cur.x) / (float)dy;
    }
}

// Whether the edge ending at vertex i crosses row y, and where.
static inline bool _Crossing(const GUI_POINT *points, int32_t n, int32_t i, int32_t y, int32_t *x) {
    const GUI_POINT &prev = points[i == 0 ? n - 1 : i - 1];
    const GUI_POINT &cur = points[i];
    if (!((cur.y <= y && y < prev.y) || (prev.y <= y && y < cur.y))) return false;
    *x = cur.x + (int32_t)(dyinv[i] * (float)(y - cur.y));
    return true;
}

static void _ClampRows(int32_t *ymin, int32_t *ymax) {
    if (*ymax > GUI_Context.subClipY1) *ymax = GUI_Context.subClipY1;
    if (*ymin < GUI_Context.subClipY0) *ymin = GUI_Context.subClipY0;
}

void FillPolygon(const GUI_POINT *points, int32_t n, int32_t ymin, int32_t ymax) {
    if (n < 1 || n > POLYGON_MAX_POINTS) return;
    _ClampRows(&ymin, &ymax);
    _ComputeInverseSlopes(points, n);
    for (int32_t y = ymin; y <= ymax; y++) {
        numIsecX = 0;
        for (int32_t i = 0; i < n; i++) {
            int32_t x;
            if (_Crossing(points, n, i, y, &x)) Polygon_Add(x);
        }
        for (int32_t k = 0; k + 1 < numIsecX; k += 2) AA_DrawHLine(isecX[k], y, isecX[k + 1]);
    }
}

void FillPolygonSimple(const GUI_POINT *points, int32_t n, int32_t ymin, int32_t ymax) {
    if (n < 1 || n > POLYGON_MAX_POINTS) return;
    _ClampRows(&ymin, &ymax);
    _ComputeInverseSlopes(points, n);
    for (int32_t y = ymin; y <= ymax; y++) {
        int32_t found = 0, first = 0;
        for (int32_t i = 0; i < n; i++) {
            int32_t x;
            if (!_Crossing(points, n, i, y, &x)) continue;
            if (found == 0) {
                first = x;
                found = 1;
                continue;
            }
            if (x < first) AA_DrawHLineSimple(x, y, first);
            else AA_DrawHLineSimple(first, y, x);
            break;
        }
    }
}

void GUI_FillPolygon(const GUI_POINT *points, int32_t n, int32_t simple) {
    // More vertices than the slope table holds: the callers never pass them,
    // and such a polygon is not drawn.
    if (n < 1 || n > POLYGON_MAX_POINTS) return;
    int32_t xmin = points[0].x, xmax = points[0].x, ymin = points[0].y, ymax = points[0].y;
    for (int32_t i = 1; i < n; i++) {
        if (points[i].x < xmin) xmin = points[i].x;
        if (points[i].x > xmax) xmax = points[i].x;
        if (points[i].y < ymin) ymin = points[i].y;
        if (points[i].y > ymax) ymax = points[i].y;
    }
    if (simple == 0 && n > 3) {
        AA_Init(xmin, xmax);
        FillPolygon(points, n, ymin, ymax);
        AA_Exit();
    } else {
        AA_InitSimple(xmin, xmax);
        FillPolygonSimple(points, n, ymin, ymax);
        AA_ExitSimple();
    }
}
