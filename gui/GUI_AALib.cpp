// The general antialiasing engine. Spans in quarter pixels accumulate
// coverage in lineOpacityBuffer, where cell i belongs to pixel column
// aa_x0 + i; the pending pixel row is written out on a row change or at exit.
// Cells of 15 or 16 are written solid (both mean the full weight), cells of
// 1 to 14 are blended one by one, so a row may hold separate runs.
#include "gui/GUI_AALib.h"

#include "gui/GUICC_M332.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Common.h"
#include "host/platform.h"

uint8_t lineOpacityBuffer[LINE_OPACITY_BUFFER_BYTES];

static constexpr int32_t IDLE_MIN = 16383;
static constexpr int32_t IDLE_MAX = -16383;

static int32_t aa_x0;                     // pixel column of cell 0
static int32_t aa_x1;                     // last pixel column reserved
static int32_t aa_x0_InUse = IDLE_MIN;    // lowest column touched in the pending row
static int32_t aa_x1_InUse = IDLE_MAX;    // highest column touched
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
    int32_t count = aa_x1 - aa_x0 + 1;
    if (count > (int32_t)LINE_OPACITY_BUFFER_BYTES) count = (int32_t)LINE_OPACITY_BUFFER_BYTES;
    for (int32_t i = 0; i < count; i++) lineOpacityBuffer[i] = 0;
    aa_y = IDLE_MAX;
    aa_x0_InUse = IDLE_MIN;
    aa_x1_InUse = IDLE_MAX;
}

static void _FlushLine() {
    if (aa_y < 0) return;   // nothing pending
    const uint8_t *cells = lineOpacityBuffer;   // cell i is pixel column aa_x0 + i
    int32_t x = aa_x0_InUse;
    while (x <= aa_x1_InUse) {
        uint8_t c = cells[x - aa_x0];
        if (c == 0) {
            x++;
        } else if (c < 15) {
            MixColorLineM332(x, aa_y, &cells[x - aa_x0], 1);
            x++;
        } else {
            // A solid run continues only over cells of exactly 16: a 15 inside
            // a run starts a run of its own, with the same result.
            int32_t end = x;
            while (end + 1 <= aa_x1_InUse && cells[end + 1 - aa_x0] == 16) end++;
            FillHLineOpt8(x, aa_y, end);
            x = end + 1;
        }
    }
    _CleanLine();
}

void AA_Init(int32_t x0, int32_t x1) {
    if (x0 < GUI_Context.subClipX0) x0 = GUI_Context.subClipX0;
    if (x1 > GUI_Context.subClipX1) x1 = GUI_Context.subClipX1;
    if (x1 < x0) x1 = x0;
    aa_x0 = x0 >> 2;
    aa_x1 = x1 >> 2;
    // The reserved range never exceeds the buffer: the clip lies within the
    // screen, and a clip outside it collapses the range to one column.
    if (aa_x1 - aa_x0 >= (int32_t)LINE_OPACITY_BUFFER_BYTES) aa_x1 = aa_x0 + (int32_t)LINE_OPACITY_BUFFER_BYTES - 1;
    _CleanLine();
}

void AA_DrawHLine(int32_t x0, int32_t y, int32_t x1) {
    if (x0 < GUI_Context.subClipX0) x0 = GUI_Context.subClipX0;
    if (x1 > GUI_Context.subClipX1) x1 = GUI_Context.subClipX1;
    // A span outside the extent reserved by AA_Init would land outside the
    // cells that are cleared after the flush (or outside the buffer); the
    // primitives never produce one, and it is trimmed to the reservation.
    if (x0 < aa_x0 * 4) x0 = aa_x0 * 4;
    if (x1 > aa_x1 * 4 + 3) x1 = aa_x1 * 4 + 3;
    if (x1 < x0) return;
    int32_t p0 = x0 >> 2, p1 = x1 >> 2;
    if ((y >> 2) != aa_y) {
        _FlushLine();
        aa_y = y >> 2;
    }
    if (p0 < aa_x0_InUse) aa_x0_InUse = p0;
    if (p1 > aa_x1_InUse) aa_x1_InUse = p1;
    uint8_t *cells = lineOpacityBuffer;
    const int32_t c0 = p0 - aa_x0, c1 = p1 - aa_x0;
    if (c0 == c1) {
        cells[c0] = (uint8_t)(cells[c0] + (x1 - x0 + 1));
        return;
    }
    cells[c0] = (uint8_t)(cells[c0] + (4 - (x0 & 3)));
    for (int32_t c = c0 + 1; c < c1; c++) cells[c] = (uint8_t)(cells[c] + 4);
    cells[c1] = (uint8_t)(cells[c1] + ((x1 & 3) + 1));
}

void AA_Exit() { _FlushLine(); }

// True when no row is pending (the state between shapes). An inspection of
// this file's private state for the test suite, which declares it itself:
// no device module needs it, so the module header does not offer it.
bool AA_IsIdle() { return aa_y == IDLE_MAX && aa_x0_InUse == IDLE_MIN && aa_x1_InUse == IDLE_MAX; }
