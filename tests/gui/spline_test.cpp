// The spline curve: fitting, validation, clipping of the blended end pixels
// and the pool. (Level and steep curves are in the primitives' golden scene.)
#include <gtest/gtest.h>

#include "gui/GUI_Alloc.h"
#include "gui/GUI_Common.h"
#include "gui/GUI_Spline.h"
#include "tests/gui/gui_test_support.h"

using namespace guitest;

namespace {

class Splines : public ShapeTest {
protected:
    void SetUp() override {
        ShapeTest::SetUp();
        GUI_SetPenSize(8);
    }
    void spline(std::vector<GUI_POINT> v) { GUI_Spline(v.data(), (int32_t)v.size()); }
};

TEST_F(Splines, FitIsStraightForTwoPointsAndPassesSmoothlyThroughMore) {
    const GUI_POINT two[] = {{10, 100}, {50, 20}};
    float out[81];
    uint32_t mark = GUI_AllocStart();
    CubicSpline_1D(two, 2, out, 41);
    for (int i = 0; i <= 40; i++) EXPECT_NEAR(out[i], 100.0f - 2.0f * (float)i, 1e-4f) << i;
    const GUI_POINT pts[] = {{0, 0}, {10, 40}, {30, 10}, {35, 60}, {80, -20}};
    CubicSpline_1D(pts, 5, out, 81);
    GUI_AllocEnd(mark);
    for (const auto &p : pts) EXPECT_NEAR(out[p.x], (float)p.y, 1e-3f) << p.x;
    // Natural ends: second differences near 0 at both ends, and changing
    // gradually across an interior point.
    auto second = [&](int i) { return out[i - 1] - 2 * out[i] + out[i + 1]; };
    EXPECT_NEAR(second(1), 0.0f, 0.2f);
    EXPECT_NEAR(second(79), 0.0f, 0.2f);
    EXPECT_NEAR(second(9), second(11), 0.5f);
}

TEST_F(Splines, InvalidPointListsDrawNothing) {
    spline({{40, 200}});
    spline({{40, 200}, {40, 300}});
    spline({{40, 200}, {80, 300}, {60, 100}});
    spline({{-400, 200}, {-1, 300}});
    EXPECT_TRUE(nothingPainted());
}

TEST_F(Splines, DrawingStaysInsideTheClipAndTheFrameBuffer) {
    GUI_SetClipRect(50, 0, 639, 399);
    spline({{-400, 400}, {0, 420}, {800, 400}});
    Box b = painted();
    EXPECT_EQ(b.x0, 50);
    EXPECT_EQ(b.x1, 200);
    // Columns round to the nearest pixel and rows too: near the clip's right
    // and bottom edges the end pixels would fall outside it.
    fillFrame(BG);
    GUI_SetClipRect(20, 20, 99, 99);
    spline({{0, 390}, {200, 398}, {420, 394}});
    spline({{60, 70}, {300, 60}, {410, 75}});
    Box clipped = painted();
    EXPECT_TRUE(clipped.x1 >= 0 && clipped.x0 >= 20 && clipped.y0 >= 20 && clipped.x1 <= 99 && clipped.y1 <= 99);
    // At the frame buffer's own edges (the sanitizer checks the writes).
    GUI_SetClipRect(0, 0, 639, 399);
    spline({{2000, 1597}, {2300, 1598}, {2559, 1598}});
    spline({{2400, 800}, {2559, 1598}, {2600, 1598}});
    EXPECT_EQ(pixel(639, 399), FG);
}

TEST_F(Splines, PoolIsReturnedAndCurvesTooLongForItAreRefused) {
    uint32_t freeBefore = GUI_GetNumFreeBytes();
    spline({{-4096, -4096}, {0, 4094}, {4094, 0}});
    EXPECT_EQ(GUI_GetNumFreeBytes(), freeBefore);
    // About 100000 columns need 400 KB of samples: more than the pool has
    // free once something holds part of it.
    fillFrame(BG);
    uint32_t mark = GUI_AllocStart();
    GUI_AllocNoInit(100000);
    freeBefore = GUI_GetNumFreeBytes();
    spline({{0, 200}, {100000, 200}});
    EXPECT_EQ(GUI_GetNumFreeBytes(), freeBefore);
    GUI_AllocEnd(mark);
    spline({{0, 200}, {2000000000, 200}});
    EXPECT_TRUE(nothingPainted());
}

}  // namespace
