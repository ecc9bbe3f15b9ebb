// The general 4 x 4 supersampling antialiasing engine. A shape is drawn as
// AA_Init, any number of spans on subpixel rows, AA_Exit. Each pixel row is
// gathered in lineOpacityBuffer as coverage counts (0..16) and written out
// when the shape moves to another pixel row or ends. Any number of disjoint
// spans may share a row.
#pragma once
#include <cstdint>
#include "host/config.h"

// One coverage byte per frame-buffer column (plus a small margin), shared by
// both antialiasing engines and the transparent image lines.
extern uint8_t lineOpacityBuffer[LINE_OPACITY_BUFFER_BYTES];

// All coordinates are in quarter pixels.
void AA_Init(int32_t x0, int32_t x1);
void AA_DrawHLine(int32_t x0, int32_t y, int32_t x1);
void AA_Exit();
