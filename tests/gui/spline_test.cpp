// The spline curve: fitting, validation, the column runs, clipping of the
// blended end pixels and the pool.
#include <gtest/gtest.h>

#include <cmath>

#include "gui/GUI_Alloc.h"
#include "gui/GUI_Common.h"
#include "gui/GUI_Spline.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/device_fixture.h"

using namespace guitest;

namespace {

constexpr uint8_t BG = 0x49;
constexpr uint8_t FG = 0xFF;

class Splines : public BareDeviceTest {
protected:
    void SetUp() override {
        BareDeviceTest::SetUp();
        fillFrame(BG);
        GUI_SetColor(0xFFFFFFFF);
        GUI_SetPenSize(8);
    }
    void spline(std::initializer_list<GUI_POINT> pts) {
        std::vector<GUI_POINT> v(pts);
        GUI_Spline(v.data(), (int32_t)v.size());
    }
};

TEST(CubicSpline, TwoPointsGiveAStraightSegment) {
    testsupport::resetDevice(false);
    const GUI_POINT pts[] = {{10, 100}, {50, 20}};
    float out[41];
    uint32_t mark = GUI_AllocStart();
    CubicSpline_1D(pts, 2, out, 41);
    GUI_AllocEnd(mark);
    for (int i = 0; i <= 40; i++) EXPECT_NEAR(out[i], 100.0f - 2.0f * (float)i, 1e-4f) << i;
}

TEST(CubicSpline, PassesThroughItsPointsAndIsSmooth) {
    testsupport::resetDevice(false);
    const GUI_POINT pts[] = {{0, 0}, {10, 40}, {30, 10}, {35, 60}, {80, -20}};
    float out[81];
    uint32_t mark = GUI_AllocStart();
    CubicSpline_1D(pts, 5, out, 81);
    GUI_AllocEnd(mark);
    for (const auto &p : pts) EXPECT_NEAR(out[p.x], (float)p.y, 1e-3f) << p.x;
    // Natural ends: the curve is straight (second difference near 0) at both ends.
    EXPECT_NEAR(out[0] - 2 * out[1] + out[2], 0.0f, 0.2f);
    EXPECT_NEAR(out[78] - 2 * out[79] + out[80], 0.0f, 0.2f);
    // Second differences change gradually across an interior point.
    float left = out[8] - 2 * out[9] + out[10], right = out[10] - 2 * out[11] + out[12];
    EXPECT_NEAR(left, right, 0.5f);
}

TEST_F(Splines, HorizontalCurveIsHalfAPenAboveAndBelow) {
    spline({{40, 200}, {200, 200}, {400, 200}});
    // Rows 196..204 in quarter pixels: pixel rows 49..51, ends on pixel
    // boundaries (coverage 0), columns (40 + 2) >> 2 = 10 to (400 + 2) >> 2 = 100.
    for (int x = 8; x < 103; x++)
        for (int y = 47; y < 54; y++) {
            bool on = x >= 10 && x <= 100 && y >= 49 && y <= 51;
            EXPECT_EQ(pixel(x, y), on ? FG : BG) << x << "," << y;
        }
}

TEST_F(Splines, InvalidPointListsDrawNothing) {
    spline({{40, 200}});
    spline({{40, 200}, {40, 300}});
    spline({{40, 200}, {80, 300}, {60, 100}});
    spline({{-400, 200}, {-1, 300}});
    int x0, y0, x1, y1;
    EXPECT_FALSE(paintedBox(BG, &x0, &y0, &x1, &y1));
}

TEST_F(Splines, SteepRiseLeavesNoGaps) {
    spline({{400, 200}, {420, 1400}});
    // A rise of 60 subpixel rows per column: each run is the pen plus the
    // rise, centred on the curve, so runs of neighbouring columns overlap.
    // (The first column has no rise behind it and is left out.)
    int prevBot = -1;
    for (int x = 101; x <= 104; x++) {
        int top = -1, bot = -1;
        for (int y = 0; y < H; y++) {
            if (pixel(x, y) == BG) continue;
            if (top < 0) top = y;
            bot = y;
        }
        ASSERT_GE(top, 0) << x;
        for (int y = top; y <= bot; y++) EXPECT_NE(pixel(x, y), BG) << x << "," << y;
        if (prevBot >= 0) {
            EXPECT_LE(top, prevBot + 1) << x;
        }
        prevBot = bot;
    }
}

TEST_F(Splines, StartingLeftOfTheClipDrawsFromTheClipOn) {
    GUI_SetClipRect(50, 0, 639, 399);
    spline({{-400, 400}, {0, 420}, {800, 400}});
    int x0, y0, x1, y1;
    ASSERT_TRUE(paintedBox(BG, &x0, &y0, &x1, &y1));
    EXPECT_EQ(x0, 50);
    EXPECT_EQ(x1, 200);
}

TEST_F(Splines, EndPixelsStayInsideTheClip) {
    // Columns round to the nearest pixel and rows too: near the clip's right
    // and bottom edges the end pixels would fall outside it.
    GUI_SetClipRect(20, 20, 99, 99);
    auto before = snapshot();
    spline({{0, 390}, {200, 398}, {420, 394}});
    spline({{60, 70}, {300, 60}, {410, 75}});
    EXPECT_EQ(countDiffOutside(before, snapshot(), 20, 20, 99, 99), 0);
    EXPECT_GT(countDiffInside(before, snapshot(), 20, 20, 99, 99), 0);
    // At the frame buffer's own edges (the sanitizer checks the writes).
    GUI_SetClipRect(0, 0, 639, 399);
    spline({{2000, 1597}, {2300, 1598}, {2559, 1598}});
    spline({{2400, 800}, {2559, 1598}, {2600, 1598}});
    EXPECT_EQ(pixel(639, 399), FG);
}

TEST_F(Splines, ReturnsThePoolToItsMark) {
    uint32_t freeBefore = GUI_GetNumFreeBytes();
    spline({{-4096, -4096}, {0, 4094}, {4094, 0}});
    EXPECT_EQ(GUI_GetNumFreeBytes(), freeBefore);
}

TEST_F(Splines, CurveTooLongForThePoolIsRefused) {
    // About 100000 columns need 400 KB of samples: more than the pool has
    // free once something holds part of it.
    uint32_t mark = GUI_AllocStart();
    GUI_AllocNoInit(100000);
    uint32_t freeBefore = GUI_GetNumFreeBytes();
    spline({{0, 200}, {100000, 200}});
    EXPECT_EQ(GUI_GetNumFreeBytes(), freeBefore);
    int x0, y0, x1, y1;
    EXPECT_FALSE(paintedBox(BG, &x0, &y0, &x1, &y1));
    GUI_AllocEnd(mark);
    spline({{0, 200}, {2000000000, 200}});
    EXPECT_FALSE(paintedBox(BG, &x0, &y0, &x1, &y1));
}

}  // namespace
