// Rectangles: the solid pixel rectangle under every axis-parallel area, the
// rectangular frame, and rectangles with antialiased rounded corners.
#pragma once
#include <cstdint>

void GUI_FillRect(int32_t x0, int32_t y0, int32_t x1, int32_t y1);   // pixels, inclusive

// Quarter pixels: outer edges, corner radius r; frames are pen thick.
void GUI_DrawRect(int32_t x0, int32_t y0, int32_t x1, int32_t y1);
void GUI_FillRoundedRect(int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t r);
void GUI_DrawRoundedRect(int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t r);
// One antialiased frame corner: the quarter ring between radii r and ri
// whose corner point is (x, y). left: nonzero for a left corner; dir: +1 for
// a top corner, -1 for a bottom one.
void DrawRoundedFramePart(int32_t x, int32_t y, int32_t r, int32_t ri, int32_t left, int32_t dir);
