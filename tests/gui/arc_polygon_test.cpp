// Arcs and polygon fills.
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

// Painted pixels per screen quadrant around pixel (200, 200): upper right,
// upper left, lower left, lower right.
std::vector<int> quadrants() {
    std::vector<int> q(4, 0);
    for (int y = 100; y < 300; y++)
        for (int x = 100; x < 300; x++)
            if (pixel(x, y) != BG) q[y < 200 ? (x >= 200 ? 0 : 1) : (x >= 200 ? 3 : 2)]++;
    return q;
}

TEST_F(Arcs, FullTurnIsARingOfFourPieces) {
    GUI_DrawArc(800, 800, 320, 320, 0, 1440);
    // Radius 80 pixels, band 4 pixels inwards.
    for (double deg = 0; deg < 360; deg += 7.5) {
        double a = deg * M_PI / 180;
        EXPECT_EQ(pixel((int)floor(200 + 78 * cos(a)), (int)floor(200 - 78 * sin(a))), FG) << deg;
        EXPECT_EQ(pixel((int)floor(200 + 70 * cos(a)), (int)floor(200 - 70 * sin(a))), BG) << deg;
    }
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Arcs, PiecesLandInTheirQuadrants) {
    struct Case {
        int32_t a0, a1;   // quarter degrees
        const char *painted;
    } cases[] = {
        {120, 240, "1000"},    // 30 to 60 degrees
        {300, 400, "1100"},    // 75 to 100 degrees
        {760, 1300, "0011"},   // 190 to 325 degrees
        {1200, 1440, "0001"},  // 300 to 360 degrees
    };
    for (const auto &c : cases) {
        fillFrame(BG);
        GUI_DrawArc(800, 800, 320, 320, c.a0, c.a1);
        auto q = quadrants();
        for (int i = 0; i < 4; i++)
            EXPECT_EQ(q[i] > 0, c.painted[i] == '1') << c.a0 << ".." << c.a1 << " quadrant " << i;
    }
    EXPECT_EQ(pixel(278, 200), FG);   // the last arc ends at 360 degrees
    EXPECT_TRUE(enginesIdle());
}

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

TEST_F(Arcs, RoundPenAddsDiscsAtBothEnds) {
    GUI_SetPenShape(1);
    Frame flat = drawnAlone([] { GUI_DrawArc(800, 800, 320, 320, 0, 360); });
    GUI_SetPenShape(0);
    Frame round = drawnAlone([] { GUI_DrawArc(800, 800, 320, 320, 0, 360); });
    // Disc centres at the middle of the band: (200 + 78, 200) and (200, 200 - 78).
    EXPECT_GT(diffIn(flat, round, {274, 200, 282, 204}), 0);
    EXPECT_GT(diffIn(flat, round, {194, 118, 200, 126}), 0);
    EXPECT_EQ(diffOut(flat, round, {194, 116, 282, 204}), 0);
    EXPECT_EQ(diffIn(flat, round, {210, 130, 270, 190}), 0);
}

TEST_F(Arcs, PenWiderThanTheRadiusGivesASector) {
    GUI_SetPenSize(256);
    GUI_DrawArc(800, 800, 120, 120, 0, 360);   // radius 30 pixels, pen 64
    EXPECT_EQ(pixel(210, 190), FG);
    EXPECT_EQ(pixel(201, 198), FG);
    EXPECT_EQ(pixel(190, 190), BG);
    EXPECT_EQ(pixel(210, 210), BG);
    EXPECT_TRUE(enginesIdle());
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

TEST_F(Polygons, PixelAlignedRectangleFillsSolidWithACoverageFourColumn) {
    for (int simple = 0; simple < 2; simple++) {
        fill({{40, 40}, {80, 40}, {80, 80}, {40, 80}}, simple);
        for (int y = 8; y < 23; y++)
            for (int x = 8; x < 23; x++) {
                bool rows = y >= 10 && y <= 19;
                uint8_t want = rows && x >= 10 && x <= 19 ? FG : rows && x == 20 ? refCoverage(FG, BG, 4) : BG;
                EXPECT_EQ(pixel(x, y), want) << x << "," << y << " simple " << simple;
            }
        EXPECT_TRUE(enginesIdle());
    }
}

TEST_F(Polygons, BowTieEvenOddAgainstFirstTwoCrossings) {
    // Left triangle (100,100)-(200,200)-(100,300) and the right one mirrored.
    const std::vector<GUI_POINT> bowTie = {{400, 400}, {800, 800}, {800, 400}, {400, 800}};
    fill(bowTie, 0);
    EXPECT_EQ(pixel(190, 120), FG);   // right triangle, upper part
    EXPECT_EQ(pixel(160, 190), BG);   // between the triangles
    EXPECT_EQ(pixel(105, 150), FG);
    // The simple fill spans each row from the left edge to the first diagonal.
    fill(bowTie, 1);
    EXPECT_EQ(pixel(190, 120), BG);
    EXPECT_EQ(pixel(160, 190), FG);
    EXPECT_EQ(pixel(105, 150), FG);
}

TEST_F(Polygons, PentagramLeavesItsCentreOpenWhateverTheFirstVertex) {
    std::vector<GUI_POINT> star;
    for (int k = 0; k < 5; k++) {
        double a = -M_PI / 2 + k * 4 * M_PI / 5;
        star.push_back({800 + (int32_t)lround(400 * cos(a)), 800 + (int32_t)lround(400 * sin(a))});
    }
    fill(star, 0);
    EXPECT_EQ(pixel(200, 200), BG);
    EXPECT_EQ(pixel(200, 110), FG);   // the top point
    const Frame first = snapshot();
    for (int shift = 1; shift < 5; shift++) {
        std::rotate(star.begin(), star.begin() + 1, star.end());
        fill(star, 0);
        EXPECT_EQ(diffIn(first, snapshot()), 0) << shift;
    }
    EXPECT_TRUE(enginesIdle());
}

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

TEST_F(Polygons, HugeAndDegenerateVerticesStayInTheFrame) {
    fill({{-100000, -100000}, {100000, 50}, {50, 100000}}, 0);
    fill({{-5000, 800}, {9000, 800}, {9000, 800}, {-5000, 800}}, 0);   // flat: nothing
    EXPECT_TRUE(nothingPainted());
    fill({{10, 10}, {10, 10}, {10, 10}}, 1);
    EXPECT_TRUE(enginesIdle());
}

}  // namespace
