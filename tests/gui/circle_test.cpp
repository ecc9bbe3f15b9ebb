// Circles and ellipses: fills, outlines, rotation, wide pens and the rows
// whose square root would be taken of a tiny negative number.
#include <gtest/gtest.h>

#include "gui/GUI_Circle.h"
#include "gui/GUI_Common.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/device_fixture.h"

using namespace guitest;

namespace {

constexpr uint8_t BG = 0x49;
constexpr uint8_t FG = 0xFF;

class Circles : public BareDeviceTest {
protected:
    void SetUp() override {
        BareDeviceTest::SetUp();
        fillFrame(BG);
        GUI_SetColor(0xFFFFFFFF);
    }
};

TEST_F(Circles, EllipseWithEqualRadiiIsTheCircle) {
    GUI_FillCircle(1002, 801, 157);
    auto circle = snapshot();
    fillFrame(BG);
    GUI_FillEllipse(1002, 801, 157, 157);
    EXPECT_EQ(countDiffInside(circle, snapshot(), 0, 0, W - 1, H - 1), 0);
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Circles, DiscIsRoundAndSolidInside) {
    GUI_FillCircle(800, 800, 160);   // radius 40 pixels around pixel corner (200, 200)
    int x0, y0, x1, y1;
    ASSERT_TRUE(paintedBox(BG, &x0, &y0, &x1, &y1));
    // Column and row 240 get coverage 1 at most, a weight too small to show.
    EXPECT_EQ(x0, 160);
    EXPECT_EQ(x1, 239);
    EXPECT_EQ(y0, 160);
    EXPECT_EQ(y1, 239);
    for (int y = 162; y < 238; y++)
        for (int x = 162; x < 238; x++) {
            int dx = 2 * (x - 200) + 1, dy = 2 * (y - 200) + 1;   // pixel centre, half pixels
            if (dx * dx + dy * dy < 78 * 78) {
                EXPECT_EQ(pixel(x, y), FG) << x << "," << y;
            }
            if (dx * dx + dy * dy > 82 * 82) {
                EXPECT_EQ(pixel(x, y), BG) << x << "," << y;
            }
        }
}

TEST_F(Circles, OutlineWithPenAtLeastTheRadiusIsAFullDisc) {
    GUI_SetPenSize(60);
    GUI_DrawCircle(800, 800, 40);
    GUI_DrawCircle(1600, 800, 60);
    for (int y = 196; y < 204; y++)
        for (int x = 196; x < 204; x++) {
            EXPECT_EQ(pixel(x, y), FG) << x << "," << y;
            EXPECT_EQ(pixel(x + 200, y), FG) << x << "," << y;
        }
    // A thin outline keeps its hole.
    GUI_SetPenSize(8);
    GUI_DrawCircle(800, 1200, 80);
    EXPECT_EQ(pixel(200, 300), BG);
    EXPECT_EQ(pixel(200, 281), FG);
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Circles, TinyNegativeRootAtTheEllipseTipIsTheCentreColumn) {
    // For radii 10 and 38, rx^2 - ry^2 * (rx^2 / ry^2) is -7.6e-6 in single
    // precision at dy = +-ry. Those rows touch the ellipse at its centre.
    GUI_FillEllipse(802, 800, 10, 38);
    auto fill = snapshot();
    int x0, y0, x1, y1;
    ASSERT_TRUE(paintedBox(BG, &x0, &y0, &x1, &y1));
    EXPECT_EQ(x0, 198);
    EXPECT_EQ(x1, 202);
    // Rows 762..765 (pixel 190) hold the tip row and the widening rows after
    // it; the ellipse is not cut off at the tips.
    EXPECT_NE(pixel(200, 190), BG);
    EXPECT_NE(pixel(200, 209), BG);
    fillFrame(BG);
    GUI_SetPenSize(4);
    GUI_DrawEllipse(802, 800, 10, 38);
    EXPECT_NE(pixel(200, 190), BG);
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Circles, OutlineWithNonPositiveInnerRadiusIsTheFilledEllipse) {
    GUI_FillEllipse(800, 800, 40, 120);
    auto fill = snapshot();
    for (uint32_t pen : {41u, 60u, 121u, 200u}) {
        fillFrame(BG);
        GUI_SetPenSize(pen);
        GUI_DrawEllipse(800, 800, 40, 120);
        EXPECT_EQ(countDiffInside(fill, snapshot(), 0, 0, W - 1, H - 1), 0) << pen;
    }
    // The rotated outline, with an inner radius of exactly 0 and below.
    fillFrame(BG);
    GUI_FillEllipseRot(800, 800, 40, 120, 100);
    auto rotFill = snapshot();
    for (uint32_t pen : {41u, 45u, 121u}) {
        fillFrame(BG);
        GUI_SetPenSize(pen);
        GUI_DrawEllipseRot(800, 800, 40, 120, 100);
        EXPECT_EQ(countDiffInside(rotFill, snapshot(), 0, 0, W - 1, H - 1), 0) << pen;
    }
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Circles, RotatedEllipseAtZeroMatchesTheAxisParallelOne) {
    GUI_FillEllipse(1000, 800, 300, 120);
    auto axis = snapshot();
    fillFrame(BG);
    GUI_FillEllipseRot(1000, 800, 300, 120, 0);
    auto rot = snapshot();
    // Up to the rounding of the two closed forms: only edge pixels differ.
    EXPECT_LT(countDiffInside(axis, rot, 0, 0, W - 1, H - 1), 60);
}

TEST_F(Circles, RotationByNinetyDegreesExchangesTheExtents) {
    GUI_FillEllipseRot(1000, 800, 300, 120, 360);
    int rx0, ry0, rx1, ry1;
    ASSERT_TRUE(paintedBox(BG, &rx0, &ry0, &rx1, &ry1));
    fillFrame(BG);
    GUI_FillEllipse(1000, 800, 120, 300);
    int ax0, ay0, ax1, ay1;
    ASSERT_TRUE(paintedBox(BG, &ax0, &ay0, &ax1, &ay1));
    EXPECT_NEAR(ry1 - ry0, ay1 - ay0, 1);
    EXPECT_NEAR(rx1 - rx0, ax1 - ax0, 1);
    // Half a turn later the ellipse is the same.
    fillFrame(BG);
    GUI_FillEllipseRot(1000, 800, 300, 120, 200);
    auto a = snapshot();
    fillFrame(BG);
    GUI_FillEllipseRot(1000, 800, 300, 120, 200 + 720);
    EXPECT_EQ(countDiffInside(a, snapshot(), 0, 0, W - 1, H - 1), 0);
}

TEST_F(Circles, PositiveAngleTurnsClockwiseOnTheScreen) {
    // 45 degrees: the long axis runs from upper left to lower right.
    GUI_FillEllipseRot(1000, 800, 300, 60, 180);
    EXPECT_EQ(pixel(250 + 40, 200 + 40), FG);
    EXPECT_EQ(pixel(250 - 40, 200 - 40), FG);
    EXPECT_EQ(pixel(250 + 40, 200 - 40), BG);
    EXPECT_EQ(pixel(250 - 40, 200 + 40), BG);
}

TEST_F(Circles, ClippedShapesMatchUnclippedOnesInsideTheClip) {
    GUI_SetPenSize(12);
    auto drawAll = [] {
        GUI_FillCircle(200, 300, 180);
        GUI_DrawCircle(700, 200, 150);
        GUI_FillEllipse(1200, 300, 300, 100);
        GUI_DrawEllipse(1800, 300, 200, 280);
        GUI_FillEllipseRot(600, 700, 300, 100, 300);
        GUI_DrawEllipseRot(1300, 700, 250, 120, 1000);
    };
    drawAll();
    auto full = snapshot();
    fillFrame(BG);
    GUI_SetClipRect(60, 55, 400, 190);
    drawAll();
    auto clipped = snapshot();
    EXPECT_EQ(countDiffInside(full, clipped, 60, 55, 400, 190), 0);
    EXPECT_EQ(countDiffOutside(std::vector<uint8_t>(W * H, BG), clipped, 60, 55, 400, 190), 0);
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Circles, ShapesAtTheScreenEdgesStayInTheFrameBuffer) {
    // Centres on and past every edge; the sanitizer build checks the writes.
    GUI_SetPenSize(20);
    const int32_t cs[][2] = {{0, 0}, {2559, 1599}, {-200, 800}, {2700, 800}, {1280, -200}, {1280, 1800}};
    for (auto &c : cs) {
        GUI_FillCircle(c[0], c[1], 300);
        GUI_DrawCircle(c[0], c[1], 300);
        GUI_FillEllipse(c[0], c[1], 400, 200);
        GUI_DrawEllipse(c[0], c[1], 400, 200);
        GUI_FillEllipseRot(c[0], c[1], 400, 200, 100);
        GUI_DrawEllipseRot(c[0], c[1], 400, 200, 1300);
    }
    EXPECT_TRUE(enginesIdle());
    EXPECT_EQ(pixel(0, 0), FG);
    EXPECT_EQ(pixel(639, 399), FG);
}

}  // namespace
