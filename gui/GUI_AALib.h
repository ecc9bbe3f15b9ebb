// The general 4 x 4 supersampling antialiasing engine. A shape is drawn as
// AA_Init, any number of spans on subpixel rows, AA_Exit. Each pixel row is
// gathered in lineOpacityBuffer as coverage counts (0..16) and written out
// when the shape moves to another pixel row or ends. Any number of disjoint
// spans may share a row.
#pragma once
#include <cstdint>
#include "gui/GUI_Units.h"
#include "host/config.h"

// The opacity line: one coverage byte per frame-buffer column (plus a small
// margin), shared by both antialiasing engines and the transparent image
// lines. A user borrows it only while neither engine holds a pending row.
extern uint8_t lineOpacityBuffer[LINE_OPACITY_BUFFER_BYTES];

// All coordinates are in quarter pixels.
void AA_Init(int32_t subX0, int32_t subX1);
void AA_DrawHLine(int32_t subX0, int32_t subY, int32_t subX1);
void AA_Exit();

// True when no row is pending: the state between shapes, in which the
// opacity line may be lent out.
bool AA_IsIdle();

// Adds a span's coverage to the opacity line: each pixel column gains the
// number of its quarter-pixel columns that the span (subX0 to subX1
// inclusive, already clipped) covers, so that a pixel covered on all four
// subpixel rows reaches kSubPerPixelArea. `firstCell` is the cell of the
// span's first pixel column. Both engines accumulate through this.
static inline void AA_AddSpanCoverage(uint8_t *firstCell, int32_t subX0, int32_t subX1) {
    const int32_t lastCell = subToPixel(subX1) - subToPixel(subX0);
    if (lastCell == 0) {
        firstCell[0] = (uint8_t)(firstCell[0] + (subX1 - subX0 + 1));
        return;
    }
    firstCell[0] = (uint8_t)(firstCell[0] + (kSubPerPixel - (subX0 & kSubMask)));
    for (int32_t cell = 1; cell < lastCell; cell++) firstCell[cell] = (uint8_t)(firstCell[cell] + kSubPerPixel);
    firstCell[lastCell] = (uint8_t)(firstCell[lastCell] + ((subX1 & kSubMask) + 1));
}
