// The three coordinate units of the drawing code, named once.
//
//  - half pixels ("xh"): the host's packed coordinates (commands/);
//  - quarter pixels ("sub", "xq"): the primitives and the antialiasing
//    engines, whose 4 x 4 supersampling grid is the quarter-pixel grid;
//  - pixels ("px", or plain x and y): the frame buffer and the clip
//    rectangle.
//
// Quarter pixel s lies in pixel s >> kSubShift (an arithmetic shift, which
// rounds towards minus infinity) at place s & kSubMask inside it.
#pragma once
#include <cstdint>

constexpr int32_t kSubShift = 2;
constexpr int32_t kSubPerPixel = 1 << kSubShift;        // quarter pixels across a pixel
constexpr int32_t kSubMask = kSubPerPixel - 1;
constexpr int32_t kSubPerPixelArea = kSubPerPixel * kSubPerPixel;   // coverage of a whole pixel: 16

// The pixel that holds quarter pixel `sub`.
constexpr int32_t subToPixel(int32_t sub) { return sub >> kSubShift; }
// The nearest pixel boundary, halves rounding up.
constexpr int32_t subToNearestPixel(int32_t sub) { return (sub + kSubPerPixel / 2) >> kSubShift; }
// The first and the last quarter pixel of pixel `px`.
constexpr int32_t pixelFirstSub(int32_t px) { return px * kSubPerPixel; }
constexpr int32_t pixelLastSub(int32_t px) { return px * kSubPerPixel + kSubMask; }
