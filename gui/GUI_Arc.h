// Antialiased circular arcs: a band of the pen's width inside radius rx,
// from angle a0 counter-clockwise (on the screen) to a1. An end angle of 0
// or below the start gives no band; the round pen's end discs are drawn
// all the same.
#pragma once
#include <cstdint>

// Quarter pixels and quarter degrees; ry is not used (arcs are circular).
void GUI_DrawArc(int32_t cx, int32_t cy, int32_t rx, int32_t ry, int32_t a0, int32_t a1);

// One quadrant piece: the band between radii Ri and R and the rays at local
// angles a <= b (degrees, 0..90); sx, sy (+1 or -1) give the quadrant's
// direction on the screen.
void drawArc90(int32_t cx, int32_t cy, float R, float Ri, float a, float b, int32_t sx, int32_t sy);

// x of the segment from (xa, ya) to (xb, yb) at height y, rounded.
int32_t calcInterSectLin(float y, float ya, float yb, float xa, float xb);
