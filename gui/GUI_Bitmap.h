// Copies of 8-bit index rectangles into the current drawing surface.
#pragma once
#include <cstdint>

void GUI_DrawBitmap(int32_t x, int32_t y, int32_t width, int32_t height, int32_t rowLength, const uint8_t *pixels,
                    int transparent);
// Row copiers: no clipping, the caller keeps the span inside the surface.
void DrawBitmapSimpleLine(int32_t x, int32_t y, int32_t count, const uint8_t *pixels);
void DrawBitmapTransLine(int32_t x, int32_t y, int32_t count, const uint8_t *pixels);
