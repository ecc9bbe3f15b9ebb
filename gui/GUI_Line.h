// Strokes of any width and direction: solid and styled segments and paths,
// drawn with the context's pen size, pen shape and line style.
#pragma once
#include <cstdint>

#include "gui/GUI_Polygon.h"

// Draws the open polyline through count points (quarter pixels), with round
// joins at inner vertices and, for the round pen, round caps.
void GUI_DrawPath(const GUI_POINT *points, int32_t count);
// One solid segment with flat ends (quarter pixels).
void GL_DrawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1);
// One segment in line style 1 (dashed), 2 (dotted) or 3 (dash-dot).
void GL_DrawLineSpecial(int32_t x0, int32_t y0, int32_t x1, int32_t y1);
