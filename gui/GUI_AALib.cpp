// The general antialiasing engine. Spans in quarter pixels accumulate
// coverage in lineOpacityBuffer, where cell i belongs to pixel column
// aa_x0 + i; the pending pixel row is written out on a row change or at exit.
// Cells of 15 or 16 are written solid (both mean the full weight), cells of
// 1 to 14 are blended one by one, so a row may hold separate runs.
//
// Names: sub* are quarter pixels, px* pixel columns, cell* indices into the
// opacity line (px - aa_x0); the engine's state is in pixels.
#include "gui/GUI_AALib.h"

#include "gui/GUICC_M332.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Common.h"
#include "host/platform.h"

uint8_t lineOpacityBuffer[LINE_OPACITY_BUFFER_BYTES];

// Coverage from which a cell is written solid: 15 and 16 both blend with
// the full weight of eight eighths.
static constexpr uint8_t SOLID_COVERAGE = kSubPerPixelArea - 1;

static constexpr int32_t IDLE_MIN = 16383;
static constexpr int32_t IDLE_MAX = -16383;

static int32_t aa_x0;                     // pixel column of cell 0
static int32_t aa_x1;                     // last pixel column reserved
static int32_t aa_x0_InUse = IDLE_MIN;    // lowest pixel column touched in the pending row
static int32_t aa_x1_InUse = IDLE_MAX;    // highest pixel column touched
static int32_t aa_y = IDLE_MAX;           // pending pixel row

static void _ResetAALib() {
    aa_x0 = 0;
    aa_x1 = 0;
    aa_x0_InUse = IDLE_MIN;
    aa_x1_InUse = IDLE_MAX;
    aa_y = IDLE_MAX;
}
SIM_REGISTER_RESET(_ResetAALib);

static void _CleanLine() {
    int32_t cellCount = aa_x1 - aa_x0 + 1;
    if (cellCount > (int32_t)LINE_OPACITY_BUFFER_BYTES) cellCount = (int32_t)LINE_OPACITY_BUFFER_BYTES;
    for (int32_t cell = 0; cell < cellCount; cell++) lineOpacityBuffer[cell] = 0;
    aa_y = IDLE_MAX;
    aa_x0_InUse = IDLE_MIN;
    aa_x1_InUse = IDLE_MAX;
}

static void _FlushLine() {
    if (aa_y < 0) return;   // nothing pending
    const uint8_t *cells = lineOpacityBuffer;   // cell px - aa_x0 is pixel column px
    int32_t px = aa_x0_InUse;
    while (px <= aa_x1_InUse) {
        uint8_t coverage = cells[px - aa_x0];
        if (coverage == 0) {
            px++;
        } else if (coverage < SOLID_COVERAGE) {
            MixColorLineM332(px, aa_y, &cells[px - aa_x0], 1);
            px++;
        } else {
            // A solid run continues only over cells of exactly 16: a 15 inside
            // a run starts a run of its own, with the same result.
            int32_t pxEnd = px;
            while (pxEnd + 1 <= aa_x1_InUse && cells[pxEnd + 1 - aa_x0] == kSubPerPixelArea) pxEnd++;
            FillHLineOpt8(px, aa_y, pxEnd);
            px = pxEnd + 1;
        }
    }
    _CleanLine();
}

void AA_Init(int32_t subX0, int32_t subX1) {
    if (subX0 < GUI_Context.subClipX0) subX0 = GUI_Context.subClipX0;
    if (subX1 > GUI_Context.subClipX1) subX1 = GUI_Context.subClipX1;
    if (subX1 < subX0) subX1 = subX0;
    aa_x0 = subToPixel(subX0);
    aa_x1 = subToPixel(subX1);
    // The reserved range never exceeds the buffer: the clip lies within the
    // screen, and a clip outside it collapses the range to one column.
    if (aa_x1 - aa_x0 >= (int32_t)LINE_OPACITY_BUFFER_BYTES) aa_x1 = aa_x0 + (int32_t)LINE_OPACITY_BUFFER_BYTES - 1;
    _CleanLine();
}

void AA_DrawHLine(int32_t subX0, int32_t subY, int32_t subX1) {
    if (subX0 < GUI_Context.subClipX0) subX0 = GUI_Context.subClipX0;
    if (subX1 > GUI_Context.subClipX1) subX1 = GUI_Context.subClipX1;
    // A span outside the extent reserved by AA_Init would land outside the
    // cells that are cleared after the flush (or outside the buffer); the
    // primitives never produce one, and it is trimmed to the reservation.
    if (subX0 < pixelFirstSub(aa_x0)) subX0 = pixelFirstSub(aa_x0);
    if (subX1 > pixelLastSub(aa_x1)) subX1 = pixelLastSub(aa_x1);
    if (subX1 < subX0) return;
    const int32_t px0 = subToPixel(subX0), px1 = subToPixel(subX1);
    if (subToPixel(subY) != aa_y) {
        _FlushLine();
        aa_y = subToPixel(subY);
    }
    if (px0 < aa_x0_InUse) aa_x0_InUse = px0;
    if (px1 > aa_x1_InUse) aa_x1_InUse = px1;
    AA_AddSpanCoverage(&lineOpacityBuffer[px0 - aa_x0], subX0, subX1);
}

void AA_Exit() { _FlushLine(); }

bool AA_IsIdle() { return aa_y == IDLE_MAX && aa_x0_InUse == IDLE_MIN && aa_x1_InUse == IDLE_MAX; }
