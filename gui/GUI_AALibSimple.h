// The simple antialiasing engine, for shapes that cover one contiguous run
// of each pixel row (convex shapes). Same calling pattern as the general
// engine; it shares lineOpacityBuffer with it, where cell i is pixel column i.
#pragma once
#include <cstdint>

// All coordinates are in quarter pixels; the extent may come in either order.
void AA_InitSimple(int32_t subX0, int32_t subX1);
void AA_DrawHLineSimple(int32_t subX0, int32_t subY, int32_t subX1);
void AA_ExitSimple();
// Writes out the pending row and returns to idle.
void AA_FlushLine();
// True when no row is pending: the state between shapes.
bool AA_IsIdleSimple();
