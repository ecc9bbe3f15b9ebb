// Rectangles clipped through their rounded corners. (Frames, radius 0 and
// pens wider than the radius are in the primitives' golden scene.)
#include <gtest/gtest.h>

#include "gui/GUI_Common.h"
#include "gui/GUI_Rect.h"
#include "tests/gui/gui_test_support.h"

using namespace guitest;

namespace {

using Rects = ShapeTest;

TEST_F(Rects, RoundedShapesClippedAtTheBottomKeepTheirVisiblePart) {
    // The clip cuts through both bottom bands and corners.
    auto draw = [] {
        GUI_FillRoundedRect(100, 200, 700, 440, 40);
        GUI_DrawRoundedRect(800, 200, 1400, 440, 60);
    };
    EXPECT_TRUE(clipsExactly(draw, {0, 0, 639, 99}));
    EXPECT_NE(pixel(30, 99), BG);
}

}  // namespace
