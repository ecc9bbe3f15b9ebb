// The simple antialiasing engine. A pending row is written as a blended left
// fringe, one solid run from the first to the last pixel of coverage 15 or
// more (whatever lies between them: the row is taken to be one convex run),
// and a blended right fringe.
#include "gui/GUI_AALibSimple.h"

#include "gui/GUICC_M332.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_AALib.h"
#include "gui/GUI_Common.h"
#include "host/platform.h"

static int32_t aa_pending_lines = 0;   // spans gathered into the pending row
static int32_t aa_y = -1;              // pending pixel row
static int32_t aa_xMin = 640;          // lowest pixel column touched
static int32_t aa_xMax = -1;           // highest pixel column touched

static void _SetIdle() {
    aa_pending_lines = 0;
    aa_y = -1;
    aa_xMin = 640;
    aa_xMax = -1;
}
SIM_REGISTER_RESET(_SetIdle);

void AA_InitSimple(int32_t x0, int32_t x1) {
    if (x1 < x0) {
        int32_t t = x0;
        x0 = x1;
        x1 = t;
    }
    if (x0 < GUI_Context.subClipX0) x0 = GUI_Context.subClipX0;
    if (x1 > GUI_Context.subClipX1) x1 = GUI_Context.subClipX1;
    if (x0 > x1) return;
    int32_t first = x0 >> 2;
    int32_t count = ((x1 - x0) >> 2) + 1;
    if (first + count > (int32_t)LINE_OPACITY_BUFFER_BYTES) count = (int32_t)LINE_OPACITY_BUFFER_BYTES - first;
    for (int32_t i = 0; i < count; i++) lineOpacityBuffer[first + i] = 0;
}

void AA_FlushLine() {
    if (aa_xMax >= 0 && aa_xMin <= aa_xMax) {
        uint8_t *cells = lineOpacityBuffer;
        int32_t l = aa_xMin;
        while (l <= aa_xMax && cells[l] < 15) l++;
        if (l > aa_xMin) MixColorLineM332(aa_xMin, aa_y, &cells[aa_xMin], l - aa_xMin);
        int32_t r = aa_xMax;
        while (r >= l && cells[r] < 15) r--;
        if (l <= r) FillHLineOpt8(l, aa_y, r);
        if (r < aa_xMax) MixColorLineM332(r + 1, aa_y, &cells[r + 1], aa_xMax - r);
        for (int32_t x = aa_xMin; x <= aa_xMax; x++) cells[x] = 0;
    }
    _SetIdle();
}

void AA_DrawHLineSimple(int32_t x0, int32_t y, int32_t x1) {
    if (x0 < GUI_Context.subClipX0) x0 = GUI_Context.subClipX0;
    if (x1 > GUI_Context.subClipX1) x1 = GUI_Context.subClipX1;
    if (x1 < x0) return;
    if (x0 <= 0 && x1 <= 0) return;   // the lone subpixel column 0 is dropped
    // The quarter-pixel clip lies within the screen, so the cells stay inside
    // the buffer; a clip stored outside the screen leaves no span at all.
    if ((x1 >> 2) >= (int32_t)LINE_OPACITY_BUFFER_BYTES) return;
    int32_t p0 = x0 >> 2, p1 = x1 >> 2;
    if (aa_pending_lines > 0 && (y >> 2) != aa_y) AA_FlushLine();
    aa_y = y >> 2;
    aa_pending_lines++;
    if (p0 < aa_xMin) aa_xMin = p0;
    if (p1 > aa_xMax) aa_xMax = p1;
    uint8_t *cells = lineOpacityBuffer;
    if (p0 == p1) {
        cells[p0] = (uint8_t)(cells[p0] + (x1 - x0 + 1));
        return;
    }
    cells[p0] = (uint8_t)(cells[p0] + (4 - (x0 & 3)));
    for (int32_t p = p0 + 1; p < p1; p++) cells[p] = (uint8_t)(cells[p] + 4);
    cells[p1] = (uint8_t)(cells[p1] + ((x1 & 3) + 1));
}

void AA_ExitSimple() {
    if (aa_pending_lines > 0) AA_FlushLine();
}

// True when no row is pending (the state between shapes). An inspection of
// this file's private state for the test suite, which declares it itself:
// no device module needs it, so the module header does not offer it.
bool AA_IsIdleSimple() { return aa_pending_lines == 0 && aa_y == -1 && aa_xMin == 640 && aa_xMax == -1; }
