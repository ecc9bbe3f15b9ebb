// The frame conversion: 256000 table look-ups and one 1 MB write per frame.
#include "bench/bench.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Common.h"
#include "gui/GUI_Rect.h"
#include "host/GUI_Driver.h"

BENCH_CASE(copyBuffer_colour, 200) { copyBuffer(); }

BENCH_CASE(fillRect_full_screen, 2000) {
    GUI_SetColor(0xFF336699);
    GUI_FillRect(0, 0, 639, 399);
}
