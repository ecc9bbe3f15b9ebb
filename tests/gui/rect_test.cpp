// Rectangles, frames and rounded rectangles at their edges: pixel-aligned
// frames, zero radius, pens wider than the radius and clipping. (Rounded
// fills and frames are drawn in the golden scenes of the shape commands.)
#include <gtest/gtest.h>

#include "gui/GUI_Common.h"
#include "gui/GUI_Rect.h"
#include "tests/gui/gui_test_support.h"

using namespace guitest;

namespace {

using Rects = ShapeTest;

TEST_F(Rects, FrameOfPenFourIsTwoPixelsThick) {
    GUI_DrawRect(0, 0, 40, 40);
    for (int y = 0; y < 14; y++)
        for (int x = 0; x < 14; x++) {
            bool onFrame = x <= 10 && y <= 10 && (x <= 1 || x >= 9 || y <= 1 || y >= 9);
            EXPECT_EQ(pixel(x, y), onFrame ? FG : BG) << x << "," << y;
        }
}

TEST_F(Rects, RoundedFillWithZeroRadiusIsSolidWithOneRowBands) {
    GUI_FillRoundedRect(40, 40, 80, 80, 0);
    // Middle: columns R(40)..R(80) - 1 = 10..19, rows 10..20. The bands are a
    // single subpixel row each (coverage 4 on pixels already solid, 1 on
    // column 20, too little to show).
    for (int y = 8; y < 23; y++)
        for (int x = 8; x < 23; x++) {
            bool inside = x >= 10 && x <= 19 && y >= 10 && y <= 20;
            EXPECT_EQ(pixel(x, y), inside ? FG : refCoverage(FG, BG, x == 20 && (y == 10 || y == 20) ? 1 : 0))
                << x << "," << y;
        }
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Rects, RoundedShapesClippedAtTheBottomKeepTheirVisiblePart) {
    // The clip cuts through both bottom bands and corners.
    auto draw = [] {
        GUI_FillRoundedRect(100, 200, 700, 440, 40);
        GUI_DrawRoundedRect(800, 200, 1400, 440, 60);
    };
    EXPECT_TRUE(clipsExactly(draw, {0, 0, 639, 99}));
    EXPECT_NE(pixel(30, 99), BG);
}

TEST_F(Rects, FrameCornerWithPenWiderThanRadiusIsAQuarterDisc) {
    GUI_SetPenSize(32);
    GUI_DrawRoundedRect(400, 400, 800, 800, 16);
    // The corner ring would have an inner radius of -16; the corner is a
    // disc of radius 16 around (416, 416) and the bars, solid from there on.
    for (int y = 102; y <= 107; y++)
        for (int x = 102; x <= 107; x++) EXPECT_EQ(pixel(x, y), FG) << x << "," << y;
    EXPECT_NE(pixel(101, 101), BG);   // on the disc's edge: blended
    EXPECT_NE(pixel(100, 100), FG);   // the outer corner stays rounded
    EXPECT_EQ(pixel(120, 120), BG);   // the hole of the frame
    EXPECT_TRUE(enginesIdle());
}

}  // namespace
