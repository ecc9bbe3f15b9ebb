// Solid and rounded rectangles. Straight parts are solid pixel rectangles;
// only rounded parts go through the antialiasing engine.
#include "gui/GUI_Rect.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Common.h"

void GUI_FillRect(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    if (x0 < GUI_Context.clipX0) x0 = GUI_Context.clipX0;
    if (x1 > GUI_Context.clipX1) x1 = GUI_Context.clipX1;
    if (x1 < x0) return;
    if (y0 < GUI_Context.clipY0) y0 = GUI_Context.clipY0;
    if (y1 > GUI_Context.clipY1) y1 = GUI_Context.clipY1;
    if (y1 < y0) return;
    FillRectOpt8(x0, y0, x1, y1);
}
