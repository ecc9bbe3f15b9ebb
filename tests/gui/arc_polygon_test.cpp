// Arcs and polygon fills.
#include <gtest/gtest.h>

#include <cmath>

#include "gui/GUI_Arc.h"
#include "gui/GUI_Common.h"
#include "gui/GUI_Polygon.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/device_fixture.h"

using namespace guitest;

namespace {

constexpr uint8_t BG = 0x49;
constexpr uint8_t FG = 0xFF;

class Arcs : public BareDeviceTest {
protected:
    void SetUp() override {
        BareDeviceTest::SetUp();
        fillFrame(BG);
        GUI_SetColor(0xFFFFFFFF);
        GUI_SetPenSize(16);
    }
    // Painted pixels per screen quadrant around pixel (200, 200): upper
    // right, upper left, lower left, lower right.
    void quadrants(int out[4]) {
        for (int i = 0; i < 4; i++) out[i] = 0;
        for (int y = 100; y < 300; y++)
            for (int x = 100; x < 300; x++) {
                if (pixel(x, y) == BG) continue;
                bool right = x >= 200, up = y < 200;
                out[up ? (right ? 0 : 1) : (right ? 3 : 2)]++;
            }
    }
};

TEST_F(Arcs, FullTurnIsARingOfFourPieces) {
    GUI_DrawArc(800, 800, 320, 320, 0, 1440);
    // Radius 80 pixels, band 4 pixels inwards.
    for (double deg = 0; deg < 360; deg += 7.5) {
        double a = deg * M_PI / 180;
        int x = (int)floor(200 + 78 * cos(a)), y = (int)floor(200 - 78 * sin(a));
        EXPECT_EQ(pixel(x, y), FG) << deg;
        EXPECT_EQ(pixel((int)floor(200 + 70 * cos(a)), (int)floor(200 - 70 * sin(a))), BG) << deg;
    }
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Arcs, PiecesLandInTheirQuadrants) {
    int q[4];
    GUI_DrawArc(800, 800, 320, 320, 120, 240);   // 30 to 60 degrees
    quadrants(q);
    EXPECT_GT(q[0], 0);
    EXPECT_EQ(q[1] + q[2] + q[3], 0);
    fillFrame(BG);
    GUI_DrawArc(800, 800, 320, 320, 300, 400);   // 75 to 100 degrees
    quadrants(q);
    EXPECT_GT(q[0], 0);
    EXPECT_GT(q[1], 0);
    EXPECT_EQ(q[2] + q[3], 0);
    EXPECT_GT(q[0], q[1]);   // 15 degrees against 10
    fillFrame(BG);
    GUI_DrawArc(800, 800, 320, 320, 760, 1300);   // 190 to 325 degrees
    quadrants(q);
    EXPECT_EQ(q[0] + q[1], 0);
    EXPECT_GT(q[2], 0);
    EXPECT_GT(q[3], 0);
}

TEST_F(Arcs, EndAngleBelowStartDrawsTheArcThroughZero) {
    int q[4];
    GUI_DrawArc(800, 800, 320, 320, 1200, 240);   // 300 degrees round to 60
    quadrants(q);
    EXPECT_GT(q[0], 0);
    EXPECT_GT(q[3], 0);
    EXPECT_EQ(q[1] + q[2], 0);
    EXPECT_EQ(pixel(278, 199), FG);   // at 0 degrees
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Arcs, RoundPenAddsDiscsAtBothEnds) {
    GUI_SetPenShape(1);
    GUI_DrawArc(800, 800, 320, 320, 0, 360);
    auto flat = snapshot();
    fillFrame(BG);
    GUI_SetPenShape(0);
    GUI_DrawArc(800, 800, 320, 320, 0, 360);
    auto round = snapshot();
    // Disc centres at the middle of the band: (200 + 78, 200) and (200, 200 - 78).
    EXPECT_GT(countDiffInside(flat, round, 274, 200, 282, 204), 0);
    EXPECT_GT(countDiffInside(flat, round, 194, 118, 200, 126), 0);
    EXPECT_EQ(countDiffOutside(flat, round, 194, 116, 282, 204), 0);
    EXPECT_EQ(countDiffInside(flat, round, 210, 130, 270, 190), 0);
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
    GUI_DrawArc(800, 800, 600, 600, 100, 1300);
    auto full = snapshot();
    fillFrame(BG);
    GUI_SetClipRect(120, 150, 260, 330);
    GUI_DrawArc(800, 800, 600, 600, 100, 1300);
    auto clipped = snapshot();
    EXPECT_EQ(countDiffInside(full, clipped, 120, 150, 260, 330), 0);
    EXPECT_EQ(countDiffOutside(std::vector<uint8_t>(W * H, BG), clipped, 120, 150, 260, 330), 0);
}

TEST(CalcInterSectLin, InterpolatesAndRoundsHalfUp) {
    EXPECT_EQ(calcInterSectLin(5.0f, 0.0f, 10.0f, 0.0f, 20.0f), 10);
    EXPECT_EQ(calcInterSectLin(1.0f, 0.0f, 4.0f, 0.0f, 2.0f), 1);   // 0.5 rounds up
    EXPECT_EQ(calcInterSectLin(3.0f, 2.0f, 2.5f, 7.9f, 100.0f), 7);   // nearly horizontal: xa
}

class Polygons : public Arcs {};

void fill(std::initializer_list<GUI_POINT> pts, int simple) {
    std::vector<GUI_POINT> v(pts);
    GUI_FillPolygon(v.data(), (int32_t)v.size(), simple);
}

TEST_F(Polygons, PixelAlignedRectangleFillsSolidWithACoverageFourColumn) {
    for (int simple = 0; simple < 2; simple++) {
        fillFrame(BG);
        fill({{40, 40}, {80, 40}, {80, 80}, {40, 80}}, simple);
        for (int y = 8; y < 23; y++)
            for (int x = 8; x < 23; x++) {
                uint8_t want = BG;
                if (y >= 10 && y <= 19 && x >= 10 && x <= 19) want = FG;
                if (y >= 10 && y <= 19 && x == 20) want = refCoverage(FG, BG, 4);
                EXPECT_EQ(pixel(x, y), want) << x << "," << y << " simple " << simple;
            }
        EXPECT_TRUE(enginesIdle());
    }
}

TEST_F(Polygons, BowTieEvenOddAgainstFirstTwoCrossings) {
    // Left triangle (0,0)-(200,200)-(0,400) and right triangle mirrored.
    const int ox = 400, oy = 400;
    fill({{ox, oy}, {ox + 400, oy + 400}, {ox + 400, oy}, {ox, oy + 400}}, 0);
    EXPECT_EQ(pixel(100 + 90, 100 + 20), FG);   // right triangle, upper part
    EXPECT_EQ(pixel(100 + 60, 100 + 90), BG);   // between the triangles
    EXPECT_EQ(pixel(100 + 5, 100 + 50), FG);
    fillFrame(BG);
    fill({{ox, oy}, {ox + 400, oy + 400}, {ox + 400, oy}, {ox, oy + 400}}, 1);
    // Each row spans from the left edge to the first diagonal.
    EXPECT_EQ(pixel(100 + 90, 100 + 20), BG);
    EXPECT_EQ(pixel(100 + 60, 100 + 90), FG);
    EXPECT_EQ(pixel(100 + 5, 100 + 50), FG);
}

std::vector<GUI_POINT> starPoints(bool outline) {
    std::vector<GUI_POINT> v;
    for (int k = 0; k < (outline ? 10 : 5); k++) {
        double a = -M_PI / 2 + (outline ? k * M_PI / 5 : k * 4 * M_PI / 5);
        double r = (outline && (k & 1)) ? 0.382 * 400 : 400;
        v.push_back({800 + (int32_t)lround(r * cos(a)), 800 + (int32_t)lround(r * sin(a))});
    }
    return v;
}

TEST_F(Polygons, StarInStarOrderLeavesItsCentreOpen) {
    auto star = starPoints(false);
    GUI_FillPolygon(star.data(), 5, 0);
    EXPECT_EQ(pixel(200, 200), BG);
    EXPECT_EQ(pixel(200, 110), FG);   // the top point
    fillFrame(BG);
    auto outline = starPoints(true);
    GUI_FillPolygon(outline.data(), 10, 0);
    EXPECT_EQ(pixel(200, 200), FG);
    EXPECT_EQ(pixel(200, 110), FG);
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Polygons, GeneralFillDoesNotDependOnTheFirstVertex) {
    auto outline = starPoints(true);
    GUI_FillPolygon(outline.data(), 10, 0);
    auto first = snapshot();
    for (int shift = 1; shift < 10; shift += 3) {
        std::vector<GUI_POINT> rotated;
        for (int i = 0; i < 10; i++) rotated.push_back(outline[(i + shift) % 10]);
        fillFrame(BG);
        GUI_FillPolygon(rotated.data(), 10, 0);
        EXPECT_EQ(countDiffInside(first, snapshot(), 0, 0, W - 1, H - 1), 0) << shift;
    }
}

TEST_F(Polygons, TrianglesAlwaysTakeTheConvexFill) {
    fill({{100, 100}, {900, 300}, {300, 1000}}, 0);
    auto a = snapshot();
    fillFrame(BG);
    fill({{100, 100}, {900, 300}, {300, 1000}}, 1);
    EXPECT_EQ(countDiffInside(a, snapshot(), 0, 0, W - 1, H - 1), 0);
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
    GUI_FillPolygon(zigzag.data(), (int32_t)zigzag.size(), 0);
    EXPECT_TRUE(enginesIdle());
    EXPECT_EQ(pixel(300, 240), FG);   // the back, with two crossings per row
    EXPECT_EQ(pixel(62, 150), FG);    // pair (240, 280)
    EXPECT_EQ(pixel(365, 150), BG);   // pair (1440, 1480), past the 32nd crossing
}

TEST_F(Polygons, HugeAndDegenerateVerticesStayInTheFrame) {
    fill({{-100000, -100000}, {100000, 50}, {50, 100000}}, 0);
    fill({{-5000, 800}, {9000, 800}, {9000, 800}, {-5000, 800}}, 0);   // flat: nothing
    fill({{10, 10}, {10, 10}, {10, 10}}, 1);
    EXPECT_TRUE(enginesIdle());
}

}  // namespace
