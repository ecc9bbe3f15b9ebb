// Strokes: the pixel-aligned shortcut, nothing for empty segments, and
// clipping. (Styles, joins and caps are in the primitives' golden scene.)
#include <gtest/gtest.h>

#include <algorithm>

#include "gui/GUI_Circle.h"
#include "gui/GUI_Common.h"
#include "gui/GUI_Line.h"
#include "tests/gui/gui_test_support.h"

using namespace guitest;

namespace {

class Lines : public ShapeTest {
protected:
    void path(std::vector<GUI_POINT> v) {
        fillFrame(BG);
        GUI_DrawPath(v.data(), (int32_t)v.size());
    }
    void style(uint32_t pen, uint8_t shape, uint8_t lineStyle) {
        GUI_SetPenSize(pen);
        GUI_SetPenShape(shape);
        GUI_SetLineStyle(lineStyle);
    }
};

// A screen of BG with one solid block.
Frame block(Box b) {
    Frame f(W * H, BG);
    for (int y = b.y0; y <= b.y1; y++)
        for (int x = b.x0; x <= b.x1; x++) f[y * W + x] = FG;
    return f;
}

TEST_F(Lines, PixelAlignedAxisParallelSegmentsAreSolidRectangles) {
    struct Case {
        uint32_t pen;
        GUI_POINT a, b;
        Box solid;
    } cases[] = {
        {4, {40, 40}, {80, 40}, {10, 10, 20, 11}},   // two rows, both ends included
        {4, {80, 40}, {40, 40}, {10, 10, 20, 11}},   // either direction
        {2, {40, 40}, {80, 40}, {10, 10, 20, 10}},
        {8, {40, 40}, {40, 80}, {9, 10, 11, 20}},   // vertical, three columns
    };
    for (const auto &c : cases) {
        style(c.pen, 1, 0);
        path({c.a, c.b});
        EXPECT_TRUE(frameIs(block(c.solid))) << "pen " << c.pen << " from x " << c.a.x;
    }
    EXPECT_TRUE(enginesIdle());
}

// Zero-length segments and single points draw nothing in any style; so does
// a pen of 0 (not reachable by command, but by the library), which gives
// dashes and dots of no size, long and short segments alike.
TEST_F(Lines, ZeroLengthSinglePointsAndPenZeroDrawNothing) {
    const GUI_POINT same[] = {{100, 100}, {100, 100}}, longLine[] = {{40, 40}, {400, 300}}, shortLine[] = {{40, 40}, {41, 40}};
    for (uint8_t s = 0; s < 4; s++) {
        style(6, 1, s);
        GUI_DrawPath(same, 2);
        GUI_DrawPath(same, 1);
        if (s == 0 || s == 3) continue;
        style(0, 1, s);
        GUI_DrawPath(longLine, 2);
        GUI_DrawPath(shortLine, 2);
    }
    EXPECT_TRUE(nothingPainted());
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Lines, ClippedStrokeMatchesTheUnclippedOneInsideTheClip) {
    style(10, 0, 0);
    const GUI_POINT pts[] = {{100, 60}, {900, 700}, {1500, 90}, {2000, 1500}};
    EXPECT_TRUE(clipsExactly([&] { GUI_DrawPath(pts, 4); }, {120, 40, 300, 250}));
}

}  // namespace
