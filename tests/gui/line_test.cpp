// Strokes: the pixel-aligned shortcut, antialiased segments, line styles,
// joins and caps of paths, and clipping of lines far outside the screen.
#include <gtest/gtest.h>

#include <algorithm>

#include "gui/GUI_Circle.h"
#include "gui/GUI_Common.h"
#include "gui/GUI_Line.h"
#include "tests/gui/gui_test_support.h"

using namespace guitest;

namespace {

class Lines : public ShapeTest {
protected:
    void path(std::vector<GUI_POINT> v) {
        fillFrame(BG);
        GUI_DrawPath(v.data(), (int32_t)v.size());
    }
    void style(uint32_t pen, uint8_t shape, uint8_t lineStyle) {
        GUI_SetPenSize(pen);
        GUI_SetPenShape(shape);
        GUI_SetLineStyle(lineStyle);
    }
};

// A screen of BG with one solid block.
Frame block(Box b) {
    Frame f(W * H, BG);
    for (int y = b.y0; y <= b.y1; y++)
        for (int x = b.x0; x <= b.x1; x++) f[y * W + x] = FG;
    return f;
}

TEST_F(Lines, PixelAlignedAxisParallelSegmentsAreSolidRectangles) {
    struct Case {
        uint32_t pen;
        GUI_POINT a, b;
        Box solid;
    } cases[] = {
        {4, {40, 40}, {80, 40}, {10, 10, 20, 11}},   // two rows, both ends included
        {4, {80, 40}, {40, 40}, {10, 10, 20, 11}},   // either direction
        {2, {40, 40}, {80, 40}, {10, 10, 20, 10}},
        {8, {40, 40}, {40, 80}, {9, 10, 11, 20}},   // vertical, three columns
    };
    for (const auto &c : cases) {
        style(c.pen, 1, 0);
        path({c.a, c.b});
        EXPECT_TRUE(frameIs(block(c.solid))) << "pen " << c.pen << " from x " << c.a.x;
    }
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Lines, UnalignedAndDiagonalSegmentsAreAntialiased) {
    path({{41, 40}, {81, 40}});
    int blended = 0, solid = 0;
    for (int y = 8; y < 14; y++)
        for (int x = 8; x < 23; x++) {
            solid += pixel(x, y) == FG;
            blended += pixel(x, y) != FG && pixel(x, y) != BG;
        }
    EXPECT_GT(solid, 0);
    EXPECT_GT(blended, 0);
    // pen + 2 = 6 quarter pixels across the stroke, so each row of a 45
    // degree line crosses about 2.1 pixels' worth of coverage.
    path({{400, 400}, {800, 800}});
    for (int y = 110; y < 190; y += 13) {
        int touched = 0, full = 0;
        for (int x = 0; x < W; x++) {
            touched += pixel(x, y) != BG;
            full += pixel(x, y) == FG;
        }
        EXPECT_TRUE(touched >= 2 && touched <= 4 && full <= 2)
            << y << ": " << touched << " touched, " << full << " solid";
    }
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Lines, DashedSegments) {
    style(4, 1, 1);               // dash period 24 quarter pixels
    path({{40, 40}, {64, 40}});   // exactly 6 pens: one dash over the first half
    EXPECT_TRUE(frameIs(block({10, 10, 13, 11})));
    path({{40, 40}, {55, 40}});   // shorter than 4 pens: nothing
    EXPECT_TRUE(nothingPainted());
    // 5 periods: dashes at 0, 24, 48, 72 and 96, each 12 long; the last
    // dash runs to the end point, which is where the fifth period ends.
    path({{40, 40}, {160, 40}});
    for (int k = 0; k < 5; k++) {
        int x = 10 + 6 * k;
        EXPECT_TRUE(pixel(x, 10) == FG && pixel(x + 3, 10) == FG && pixel(x + 4, 10) == BG) << k;
    }
    EXPECT_EQ(pixel(40, 10), BG);
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Lines, DottedSegmentsShortAndLong) {
    style(4, 1, 2);   // dot radius 1, the 5 subpixels of a plus sign
    const uint8_t dot = refCoverage(FG, BG, 5);
    struct Case {
        int32_t x1;
        std::vector<int> dots;   // pixel columns in row 10, from 10 to 20
    } cases[] = {
        {47, {11}},                   // length 5 <= 3 * 2: one dot at the midpoint
        {50, {10, 12}},               // length 8: a dot at each end
        {82, {10, 12, 14, 16, 18}},   // spacing 8: dots at 42, 50, ..., 74, none at the end
    };
    for (const auto &c : cases) {
        path({{42, 42}, {c.x1, 42}});
        for (int x = 10; x <= 20; x++) {
            bool on = std::find(c.dots.begin(), c.dots.end(), x) != c.dots.end();
            EXPECT_EQ(pixel(x, 10), on ? dot : BG) << "to " << c.x1 << ", column " << x;
        }
    }
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Lines, DashDotHasDiscsAtBothEnds) {
    style(8, 1, 3);
    path({{400, 400}, {800, 400}});
    // Discs of radius 4 (one pixel) at both ends; the dash is shortened by
    // two pens at each end: pixel-aligned, from pixel 104 to 196, rows 99..101.
    for (int x : {99, 100, 199, 200}) EXPECT_TRUE(pixel(x, 99) != BG && pixel(x, 100) != BG) << x;
    for (int x : {102, 103, 197, 198}) EXPECT_EQ(pixel(x, 100), BG) << x;
    for (int x : {104, 150, 196})
        EXPECT_TRUE(pixel(x, 98) == BG && pixel(x, 99) == FG && pixel(x, 101) == FG && pixel(x, 102) == BG) << x;
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Lines, JoinsOnlyFromPenSixAndCapsOnlyForTheRoundPen) {
    const std::vector<GUI_POINT> pts = {{100, 100}, {300, 150}, {120, 300}};
    auto bareSegments = [&] {
        for (size_t i = 1; i < pts.size(); i++) GL_DrawLine(pts[i - 1].x, pts[i - 1].y, pts[i].x, pts[i].y);
    };
    for (uint32_t pen : {4u, 6u}) {
        style(pen, 1, 0);
        path(pts);
        EXPECT_EQ(diffIn(snapshot(), drawnAlone(bareSegments)) > 0, pen == 6) << pen;
    }
    style(24, 1, 0);
    path(pts);
    Frame flat = snapshot();
    style(24, 0, 0);
    path(pts);
    // Round caps change pixels near both end points only.
    EXPECT_GT(diffIn(flat, snapshot(), {20, 20, 30, 30}), 0);
    EXPECT_GT(diffIn(flat, snapshot(), {25, 70, 35, 80}), 0);
    EXPECT_EQ(diffIn(flat, snapshot(), {60, 20, 90, 50}), 0);
    // Styled lines get neither caps nor joins.
    style(24, 0, 1);
    path({{100, 100}, {300, 150}});
    EXPECT_EQ(diffIn(snapshot(), drawnAlone([] { GL_DrawLineSpecial(100, 100, 300, 150); })), 0);
}

TEST_F(Lines, ZeroLengthAndSinglePointsDrawNothing) {
    for (uint8_t s = 0; s < 4; s++) {
        style(6, 1, s);
        const GUI_POINT pts[] = {{100, 100}, {100, 100}};
        GUI_DrawPath(pts, 2);
        GUI_DrawPath(pts, 1);
    }
    EXPECT_TRUE(nothingPainted());
}

// A pen of 0 (not reachable by command, but by the library) gives dashes
// and dots of no size: nothing is drawn, long and short segments alike.
TEST_F(Lines, DashedAndDottedWithPenZeroDrawNothing) {
    for (uint8_t s : {1, 2}) {
        style(0, 1, s);
        path({{40, 40}, {400, 300}});
        path({{40, 40}, {41, 40}});
        EXPECT_TRUE(nothingPainted()) << (int)s;
    }
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Lines, FarOutsideTheScreenClipsSafely) {
    // Extremes of the line command (12-bit half pixels, doubled) in every
    // style and pen shape, drawn inside a small clip rectangle.
    const int32_t lo = -4096, hi = 4094;
    const GUI_POINT ends[] = {{lo, lo},  {hi, hi},   {lo, hi},   {hi, lo},   {lo, 800},
                              {hi, 800}, {1280, lo}, {1280, hi}, {1281, 799}};
    GUI_SetClipRect(100, 50, 500, 300);
    for (uint32_t pen : {2u, 5u, 64u, 256u})
        for (uint8_t s = 0; s < 4; s++)
            for (uint8_t shape = 0; shape < 2; shape++) {
                style(pen, shape, s);
                for (const auto &a : ends)
                    for (const auto &b : ends) {
                        GUI_POINT seg[2] = {a, b};
                        GUI_DrawPath(seg, 2);
                    }
            }
    const Frame blank(W * H, BG);
    EXPECT_EQ(diffOut(blank, snapshot(), {100, 50, 500, 300}), 0);
    EXPECT_GT(diffIn(blank, snapshot(), {100, 50, 500, 300}), 0);
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Lines, ClippedStrokeMatchesTheUnclippedOneInsideTheClip) {
    style(10, 0, 0);
    const GUI_POINT pts[] = {{100, 60}, {900, 700}, {1500, 90}, {2000, 1500}};
    EXPECT_TRUE(clipsExactly([&] { GUI_DrawPath(pts, 4); }, {120, 40, 300, 250}));
}

}  // namespace
