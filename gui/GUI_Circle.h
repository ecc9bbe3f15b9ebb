// Antialiased circles, axis-parallel ellipses and rotated ellipses. All
// coordinates and radii in quarter pixels; angles in quarter degrees (1440 =
// a full turn; a positive angle turns the ellipse clockwise on the screen).
#pragma once
#include <cstdint>

void GUI_FillCircle(int32_t cx, int32_t cy, int32_t r);
void GUI_DrawCircle(int32_t cx, int32_t cy, int32_t r);
void GUI_FillEllipse(int32_t cx, int32_t cy, int32_t rx, int32_t ry);
void GUI_DrawEllipse(int32_t cx, int32_t cy, int32_t rx, int32_t ry);
void GUI_FillEllipseRot(int32_t cx, int32_t cy, int32_t rx, int32_t ry, int32_t angle);
void GUI_DrawEllipseRot(int32_t cx, int32_t cy, int32_t rx, int32_t ry, int32_t angle);
