// Arcs and polygon fills: empty and inverted angles, clipping, the triangle
// rule and the crossing limit. (Pieces in each quadrant, wide pens and the
// two fill rules are in the primitives' golden scene.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "gui/GUI_Arc.h"
#include "gui/GUI_Circle.h"
#include "gui/GUI_Common.h"
#include "gui/GUI_Polygon.h"
#include "tests/gui/gui_test_support.h"

using namespace guitest;

namespace {

class Arcs : public ShapeTest {
protected:
    void SetUp() override {
        ShapeTest::SetUp();
        GUI_SetPenSize(16);
    }
};

// An end angle of 0, or below the start, draws no band; the round pen still
// puts its discs on the middle of the band at both angles.
TEST_F(Arcs, EndAtOrBelowTheStartDrawsOnlyTheRoundPensDiscs) {
    struct Case {
        int32_t a0, a1;   // quarter degrees
    } cases[] = {
        {0, 0}, {360, 0}, {720, 0},   // to 0 from 0, 90 and 180 degrees
        {1000, 998},                  // 250 to 249.5 degrees
        {1200, 240},                  // 300 to 60 degrees
    };
    for (const auto &c : cases) {
        GUI_SetPenShape(1);
        fillFrame(BG);
        GUI_DrawArc(800, 800, 320, 320, c.a0, c.a1);
        EXPECT_TRUE(nothingPainted()) << c.a0 << ".." << c.a1 << " painted " << painted();
        EXPECT_TRUE(enginesIdle());
    }
    // Pen 16 (discs of radius 8) centred 312 quarter pixels out: at 90
    // degrees (800, 488), at 0 degrees (1112, 800).
    GUI_SetPenShape(0);
    Frame discs = drawnAlone([] {
        GUI_FillCircle(800, 488, 8);
        GUI_FillCircle(1112, 800, 8);
    });
    EXPECT_TRUE(frameIs(discs, drawnAlone([] { GUI_DrawArc(800, 800, 320, 320, 360, 0); }).data()));
}

TEST_F(Arcs, ClippedArcMatchesTheUnclippedOneInsideTheClip) {
    GUI_SetPenShape(0);
    EXPECT_TRUE(clipsExactly([] { GUI_DrawArc(800, 800, 600, 600, 100, 1300); }, {120, 150, 260, 330}));
}

TEST(CalcInterSectLin, InterpolatesAndRoundsHalfUp) {
    EXPECT_EQ(calcInterSectLin(5.0f, 0.0f, 10.0f, 0.0f, 20.0f), 10);
    EXPECT_EQ(calcInterSectLin(1.0f, 0.0f, 4.0f, 0.0f, 2.0f), 1);     // 0.5 rounds up
    EXPECT_EQ(calcInterSectLin(3.0f, 2.0f, 2.5f, 7.9f, 100.0f), 7);   // nearly horizontal: xa
}

class Polygons : public ShapeTest {
protected:
    void fill(std::vector<GUI_POINT> v, int simple) {
        fillFrame(BG);
        GUI_FillPolygon(v.data(), (int32_t)v.size(), simple);
    }
};

TEST_F(Polygons, TrianglesAlwaysTakeTheConvexFill) {
    fill({{100, 100}, {900, 300}, {300, 1000}}, 0);
    EXPECT_EQ(diffIn(snapshot(), drawnAlone([] {
                         const GUI_POINT pts[] = {{100, 100}, {900, 300}, {300, 1000}};
                         GUI_FillPolygon(pts, 3, 1);
                     })),
              0);
}

TEST_F(Polygons, ManyCrossingsKeepTheFirstThirtyTwo) {
    // A zigzag of 40 vertices between rows 400 and 800 with a solid back
    // below: rows through the zigzag cross 40 edges. The first 32 crossings
    // in vertex order fill pairs (100, 120), (160, 200), (240, 280), ...,
    // up to x = 1320; the pairs beyond are lost.
    std::vector<GUI_POINT> zigzag;
    for (int k = 0; k < 40; k++) zigzag.push_back({100 + 40 * k, (k & 1) ? 800 : 400});
    zigzag.push_back({100 + 40 * 39, 1000});
    zigzag.push_back({100, 1000});
    fill(zigzag, 0);
    EXPECT_TRUE(enginesIdle());
    EXPECT_EQ(pixel(300, 240), FG);   // the back, with two crossings per row
    EXPECT_EQ(pixel(62, 150), FG);    // pair (240, 280)
    EXPECT_EQ(pixel(325, 150), FG);   // pair (1280, 1320), the last kept
    EXPECT_EQ(pixel(365, 150), BG);   // pair (1440, 1480), past the 32nd crossing
}

}  // namespace
