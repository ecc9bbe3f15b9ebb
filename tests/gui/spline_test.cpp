// The spline curve: fitting, validation and the pool. (Level and steep curves are in the primitives' golden scene.)
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
