// Float-to-integer conversion for the geometry code. Shapes are computed in
// single precision and truncated towards zero; converting a NaN or a float
// outside the int32 range would be undefined, and hostile sizes produce both
// (a root of a slightly negative number, the square of a huge radius). The
// decision is taken here once: NaN gives 0, and results are saturated at
// +-1e8, far beyond any quarter-pixel coordinate on screen yet small enough
// that adding a centre coordinate to one cannot overflow.
#pragma once
#include <cmath>
#include <cstdint>

// Truncates towards zero, NaN gives 0, the range is saturated at +-1e8.
inline int32_t GUI_TruncToInt(float v) {
    if (!(v == v)) return 0;
    if (v > 1.0e8f) return 100000000;
    if (v < -1.0e8f) return -100000000;
    return (int32_t)v;
}

// The truncated root of a value that should not be negative. Float rounding
// can hand in a tiny negative number (an ellipse row at dy = +-ry); its root
// is NaN, which gives 0: such a row touches the curve at the centre column.
inline int32_t GUI_RootWidth(float v) { return GUI_TruncToInt(sqrtf(v)); }
