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

// Zero-length segments and single points draw nothing in any style; so does
// a pen of 0 (not reachable by command, but by the library), which gives
// dashes and dots of no size, long and short segments alike.
TEST_F(Lines, ZeroLengthSinglePointsAndPenZeroDrawNothing) {
    const GUI_POINT same[] = {{100, 100}, {100, 100}}, longLine[] = {{40, 40}, {400, 300}}, shortLine[] = {{40, 40}, {41, 40}};
    for (uint8_t s = 0; s < 4; s++) {
        style(6, 1, s);
        GUI_DrawPath(same, 2);
        GUI_DrawPath(same, 1);
        if (s == 0 || s == 3) continue;
        style(0, 1, s);
        GUI_DrawPath(longLine, 2);
        GUI_DrawPath(shortLine, 2);
    }
    EXPECT_TRUE(nothingPainted());
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Lines, FarOutsideTheScreenClipsSafely) {
    // Extremes of the line command (12-bit half pixels, doubled): the
    // diagonals, and lines from far outside through the screen, in every
    // style, the thinnest and thickest pens and both shapes, drawn inside a
    // small clip rectangle.
    const int32_t lo = -4096, hi = 4094;
    const GUI_POINT segments[][2] = {{{lo, lo}, {hi, hi}}, {{hi, lo}, {lo, hi}}, {{lo, 800}, {hi, 800}},
                                     {{1280, lo}, {1281, hi}}, {{lo, hi}, {1281, 799}}};
    GUI_SetClipRect(100, 50, 500, 300);
    for (uint32_t pen : {2u, 256u})
        for (uint8_t s = 0; s < 4; s++)
            for (uint8_t shape = 0; shape < 2; shape++) {
                style(pen, shape, s);
                for (const auto &segment : segments) GUI_DrawPath(segment, 2);
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
