// Rectangles: the solid pixel rectangle under every axis-parallel area.
#pragma once
#include <cstdint>

void GUI_FillRect(int32_t x0, int32_t y0, int32_t x1, int32_t y1);   // pixels, inclusive
