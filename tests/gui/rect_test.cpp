// Rectangles, frames and rounded rectangles.
#include <gtest/gtest.h>

#include "gui/GUI_Common.h"
#include "gui/GUI_Rect.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/device_fixture.h"

using namespace guitest;

namespace {

constexpr uint8_t BG = 0x49;
constexpr uint8_t FG = 0xFF;

class Rects : public BareDeviceTest {
protected:
    void SetUp() override {
        BareDeviceTest::SetUp();
        fillFrame(BG);
        GUI_SetColor(0xFFFFFFFF);
    }
};

TEST_F(Rects, FillRectClipsAndIgnoresInvertedRectangles) {
    GUI_SetClipRect(10, 10, 20, 20);
    GUI_FillRect(0, 0, 15, 100);
    int x0, y0, x1, y1;
    ASSERT_TRUE(paintedBox(BG, &x0, &y0, &x1, &y1));
    EXPECT_EQ(x0, 10);
    EXPECT_EQ(y0, 10);
    EXPECT_EQ(x1, 15);
    EXPECT_EQ(y1, 20);
    fillFrame(BG);
    GUI_FillRect(15, 12, 14, 18);
    GUI_FillRect(12, 15, 18, 14);
    GUI_FillRect(25, 0, 30, 30);   // wholly right of the clip
    EXPECT_FALSE(paintedBox(BG, &x0, &y0, &x1, &y1));
}

TEST_F(Rects, FrameOfPenFourIsTwoPixelsThick) {
    GUI_DrawRect(0, 0, 40, 40);
    for (int y = 0; y < 14; y++)
        for (int x = 0; x < 14; x++) {
            bool inSquare = x <= 10 && y <= 10;
            bool onFrame = inSquare && (x <= 1 || x >= 9 || y <= 1 || y >= 9);
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

TEST_F(Rects, RoundedCornersAreAntialiasedAndMirrored) {
    // With x0 + x1 = 3 (mod 4), subpixel column s mirrors to x0 + x1 - s in
    // the mirrored pixel (p <-> 400 - p), so the corners mirror exactly.
    GUI_FillRoundedRect(400, 400, 1203, 800, 120);
    int blended = 0;
    for (int y = 100; y <= 200; y++)
        for (int x = 100; x <= 300; x++) blended += pixel(x, y) != FG && pixel(x, y) != BG;
    EXPECT_GT(blended, 40);
    EXPECT_EQ(pixel(100, 100), BG);   // the corner itself is cut away
    EXPECT_EQ(pixel(150, 100), FG);
    EXPECT_EQ(pixel(100, 150), FG);
    EXPECT_EQ(pixel(200, 150), FG);
    // Top row: coverage of the first antialiased row mirrors left to right.
    for (int y = 100; y < 135; y++)
        for (int dx = 0; dx < 35; dx++) EXPECT_EQ(pixel(100 + dx, y), pixel(300 - dx, y)) << dx << "," << y;
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Rects, RoundedShapesClippedAtTheBottomKeepTheirVisiblePart) {
    GUI_FillRoundedRect(100, 200, 700, 440, 40);
    GUI_DrawRoundedRect(800, 200, 1400, 440, 60);
    auto full = snapshot();
    fillFrame(BG);
    GUI_SetClipRect(0, 0, 639, 99);   // cuts through both bottom bands and corners
    GUI_FillRoundedRect(100, 200, 700, 440, 40);
    GUI_DrawRoundedRect(800, 200, 1400, 440, 60);
    auto clipped = snapshot();
    EXPECT_EQ(countDiffInside(full, clipped, 0, 0, 639, 99), 0);
    EXPECT_EQ(countDiffOutside(std::vector<uint8_t>(W * H, BG), clipped, 0, 0, 639, 99), 0);
    EXPECT_NE(pixel(30, 99), BG);
    EXPECT_TRUE(enginesIdle());
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

TEST_F(Rects, RoundedFrameHasAHoleAndSolidBars) {
    GUI_SetPenSize(8);
    GUI_DrawRoundedRect(400, 400, 1200, 800, 80);
    EXPECT_EQ(pixel(200, 150), BG);       // inside
    EXPECT_EQ(pixel(200, 100), FG);       // top bar
    EXPECT_EQ(pixel(200, 199), FG);       // bottom bar
    EXPECT_EQ(pixel(100, 150), FG);       // left bar
    EXPECT_EQ(pixel(299, 150), FG);       // right bar
    EXPECT_EQ(pixel(101, 101), BG);       // cut corner
    EXPECT_TRUE(enginesIdle());
}

}  // namespace
