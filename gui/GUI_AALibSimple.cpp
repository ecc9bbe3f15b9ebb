// The simple antialiasing engine. A pending row is written as a blended left
// fringe, one solid run from the first to the last pixel of coverage 15 or
// more (whatever lies between them: the row is taken to be one convex run),
// and a blended right fringe.
//
// Names: sub* are quarter pixels, px* pixel columns; here cell px of the
// opacity line is pixel column px.
#include "gui/GUI_AALibSimple.h"

#include "gui/GUICC_M332.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_AALib.h"
#include "gui/GUI_Common.h"
#include "host/platform.h"

// Coverage from which a pixel counts as solid: 15 and 16 both blend with the
// full weight of eight eighths.
static constexpr uint8_t SOLID_COVERAGE = kSubPerPixelArea - 1;

static constexpr int32_t IDLE_Y = -1;
static constexpr int32_t IDLE_X_MIN = SCREEN_WIDTH;
static constexpr int32_t IDLE_X_MAX = -1;

static int32_t aa_pending_lines = 0;       // spans gathered into the pending row
static int32_t aa_y = IDLE_Y;              // pending pixel row
static int32_t aa_xMin = IDLE_X_MIN;       // lowest pixel column touched
static int32_t aa_xMax = IDLE_X_MAX;       // highest pixel column touched

static void _SetIdle() {
    aa_pending_lines = 0;
    aa_y = IDLE_Y;
    aa_xMin = IDLE_X_MIN;
    aa_xMax = IDLE_X_MAX;
}
SIM_REGISTER_RESET(_SetIdle);

void AA_InitSimple(int32_t subX0, int32_t subX1) {
    if (subX1 < subX0) {
        int32_t t = subX0;
        subX0 = subX1;
        subX1 = t;
    }
    if (subX0 < GUI_Context.subClipX0) subX0 = GUI_Context.subClipX0;
    if (subX1 > GUI_Context.subClipX1) subX1 = GUI_Context.subClipX1;
    if (subX0 > subX1) return;
    // The cells cleared are counted from the extent's width, not from its
    // last pixel: an extent that starts late in a pixel may leave its last
    // pixel's cell as it was (it is zero between shapes anyway).
    const int32_t firstCell = subToPixel(subX0);
    int32_t cellCount = ((subX1 - subX0) >> kSubShift) + 1;
    if (firstCell + cellCount > (int32_t)LINE_OPACITY_BUFFER_BYTES) {
        cellCount = (int32_t)LINE_OPACITY_BUFFER_BYTES - firstCell;
    }
    for (int32_t i = 0; i < cellCount; i++) lineOpacityBuffer[firstCell + i] = 0;
}

void AA_FlushLine() {
    if (aa_xMax >= 0 && aa_xMin <= aa_xMax) {
        uint8_t *cells = lineOpacityBuffer;
        int32_t pxSolidFirst = aa_xMin;
        while (pxSolidFirst <= aa_xMax && cells[pxSolidFirst] < SOLID_COVERAGE) pxSolidFirst++;
        if (pxSolidFirst > aa_xMin) MixColorLineM332(aa_xMin, aa_y, &cells[aa_xMin], pxSolidFirst - aa_xMin);
        int32_t pxSolidLast = aa_xMax;
        while (pxSolidLast >= pxSolidFirst && cells[pxSolidLast] < SOLID_COVERAGE) pxSolidLast--;
        if (pxSolidFirst <= pxSolidLast) FillHLineOpt8(pxSolidFirst, aa_y, pxSolidLast);
        if (pxSolidLast < aa_xMax) {
            MixColorLineM332(pxSolidLast + 1, aa_y, &cells[pxSolidLast + 1], aa_xMax - pxSolidLast);
        }
        for (int32_t px = aa_xMin; px <= aa_xMax; px++) cells[px] = 0;
    }
    _SetIdle();
}

void AA_DrawHLineSimple(int32_t subX0, int32_t subY, int32_t subX1) {
    if (subX0 < GUI_Context.subClipX0) subX0 = GUI_Context.subClipX0;
    if (subX1 > GUI_Context.subClipX1) subX1 = GUI_Context.subClipX1;
    if (subX1 < subX0) return;
    if (subX0 <= 0 && subX1 <= 0) return;   // the lone subpixel column 0 is dropped
    // The quarter-pixel clip lies within the screen, so the cells stay inside
    // the buffer; a clip stored outside the screen leaves no span at all.
    if (subToPixel(subX1) >= (int32_t)LINE_OPACITY_BUFFER_BYTES) return;
    const int32_t px0 = subToPixel(subX0), px1 = subToPixel(subX1);
    if (aa_pending_lines > 0 && subToPixel(subY) != aa_y) AA_FlushLine();
    aa_y = subToPixel(subY);
    aa_pending_lines++;
    if (px0 < aa_xMin) aa_xMin = px0;
    if (px1 > aa_xMax) aa_xMax = px1;
    AA_AddSpanCoverage(&lineOpacityBuffer[px0], subX0, subX1);
}

void AA_ExitSimple() {
    if (aa_pending_lines > 0) AA_FlushLine();
}

bool AA_IsIdleSimple() {
    return aa_pending_lines == 0 && aa_y == IDLE_Y && aa_xMin == IDLE_X_MIN && aa_xMax == IDLE_X_MAX;
}
