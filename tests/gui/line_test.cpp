// Strokes: the pixel-aligned shortcut, antialiased segments, line styles,
// joins and caps of paths, and clipping of lines far outside the screen.
#include <gtest/gtest.h>

#include "gui/GUI_Circle.h"
#include "gui/GUI_Common.h"
#include "gui/GUI_Line.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/device_fixture.h"

using namespace guitest;

namespace {

constexpr uint8_t BG = 0x49;
constexpr uint8_t FG = 0xFF;

class Lines : public BareDeviceTest {
protected:
    void SetUp() override {
        BareDeviceTest::SetUp();
        fillFrame(BG);
        GUI_SetColor(0xFFFFFFFF);
    }
    void path(std::initializer_list<GUI_POINT> pts) {
        std::vector<GUI_POINT> v(pts);
        GUI_DrawPath(v.data(), (int32_t)v.size());
    }
    void style(uint32_t pen, uint8_t shape, uint8_t lineStyle) {
        GUI_SetPenSize(pen);
        GUI_SetPenShape(shape);
        GUI_SetLineStyle(lineStyle);
    }
};

// Rows [y0, y1] and columns [x0, x1] solid, everything else untouched.
::testing::AssertionResult solidBlock(int x0, int y0, int x1, int y1) {
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            bool inside = x >= x0 && x <= x1 && y >= y0 && y <= y1;
            uint8_t want = inside ? FG : BG;
            if (pixel(x, y) != want)
                return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is " << (int)pixel(x, y);
        }
    return ::testing::AssertionSuccess();
}

TEST_F(Lines, PixelAlignedAxisParallelSegmentsAreSolidRectangles) {
    path({{40, 40}, {80, 40}});   // pen 4: two rows, both ends included
    EXPECT_TRUE(solidBlock(10, 10, 20, 11));
    fillFrame(BG);
    path({{80, 40}, {40, 40}});   // either direction
    EXPECT_TRUE(solidBlock(10, 10, 20, 11));
    fillFrame(BG);
    style(2, 1, 0);
    path({{40, 40}, {80, 40}});
    EXPECT_TRUE(solidBlock(10, 10, 20, 10));
    fillFrame(BG);
    style(8, 1, 0);
    path({{40, 40}, {40, 80}});   // vertical, three columns
    EXPECT_TRUE(solidBlock(9, 10, 11, 20));
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Lines, UnalignedSegmentIsAntialiased) {
    path({{41, 40}, {81, 40}});
    int blended = 0, solid = 0;
    for (int y = 8; y < 14; y++)
        for (int x = 8; x < 23; x++) {
            if (pixel(x, y) == FG) solid++;
            else if (pixel(x, y) != BG) blended++;
        }
    EXPECT_GT(solid, 0);
    EXPECT_GT(blended, 0);
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Lines, DiagonalStrokeIsAboutOneAndAHalfPixelsWide) {
    // pen + 2 = 6 quarter pixels across the stroke, so each row of a 45
    // degree line crosses about 2.1 pixels' worth of coverage.
    path({{400, 400}, {800, 800}});
    for (int y = 110; y < 190; y += 13) {
        int touched = 0, solid = 0;
        for (int x = 0; x < W; x++) {
            touched += pixel(x, y) != BG;
            solid += pixel(x, y) == FG;
        }
        EXPECT_GE(touched, 2) << y;
        EXPECT_LE(touched, 4) << y;
        EXPECT_LE(solid, 2) << y;
    }
}

TEST_F(Lines, DashedSegments) {
    style(4, 1, 1);   // dash period 24 quarter pixels
    path({{40, 40}, {64, 40}});   // exactly 6 pens: one dash over the first half
    EXPECT_TRUE(solidBlock(10, 10, 13, 11));
    fillFrame(BG);
    path({{40, 40}, {55, 40}});   // shorter than 4 pens: nothing
    EXPECT_TRUE(solidBlock(0, 0, -1, -1));
    fillFrame(BG);
    // 5 periods: dashes at 0, 24, 48, 72 and 96, each 12 long; the last
    // dash runs to the end point, which is where the fifth period ends.
    path({{40, 40}, {160, 40}});
    for (int k = 0; k < 5; k++) {
        int x = 10 + 6 * k;
        EXPECT_EQ(pixel(x, 10), FG) << k;
        EXPECT_EQ(pixel(x + 3, 10), FG) << k;
        EXPECT_EQ(pixel(x + 4, 10), BG) << k;
    }
    EXPECT_EQ(pixel(40, 10), BG);
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Lines, DottedSegmentsShortAndLong) {
    style(4, 1, 2);   // dot radius 1, the 5 subpixels of a plus sign
    const uint8_t dot = refCoverage(FG, BG, 5);
    path({{42, 42}, {47, 42}});   // length 5 <= 3 * 2: one dot at the midpoint
    EXPECT_EQ(pixel(11, 10), dot);
    EXPECT_EQ(pixel(10, 10), BG);
    EXPECT_EQ(pixel(12, 10), BG);
    fillFrame(BG);
    path({{42, 42}, {50, 42}});   // length 8: a dot at each end
    EXPECT_EQ(pixel(10, 10), dot);
    EXPECT_EQ(pixel(11, 10), BG);
    EXPECT_EQ(pixel(12, 10), dot);
    fillFrame(BG);
    path({{42, 42}, {82, 42}});   // spacing 8: dots at 42, 50, ..., 74, none at the end
    for (int k = 0; k < 5; k++) EXPECT_EQ(pixel(10 + 2 * k, 10), dot) << k;
    EXPECT_EQ(pixel(20, 10), BG);
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Lines, DashDotHasDiscsAtBothEnds) {
    style(8, 1, 3);
    path({{400, 400}, {800, 400}});
    // Discs of radius 4 (one pixel) at both ends; the dash is shortened by
    // two pens at each end: pixel-aligned, from pixel 104 to 196, rows 99..101.
    for (int x : {99, 100, 199, 200}) {
        EXPECT_NE(pixel(x, 99), BG) << x;
        EXPECT_NE(pixel(x, 100), BG) << x;
    }
    for (int x : {102, 103, 197, 198}) EXPECT_EQ(pixel(x, 100), BG) << x;
    for (int x : {104, 150, 196}) {
        EXPECT_EQ(pixel(x, 98), BG) << x;
        EXPECT_EQ(pixel(x, 99), FG) << x;
        EXPECT_EQ(pixel(x, 101), FG) << x;
        EXPECT_EQ(pixel(x, 102), BG) << x;
    }
    EXPECT_TRUE(enginesIdle());
}

// Pixels that differ between a path and its bare segments.
int joinDifference(uint32_t pen, uint8_t shape, std::initializer_list<GUI_POINT> pts) {
    std::vector<GUI_POINT> v(pts);
    GUI_SetPenSize(pen);
    GUI_SetPenShape(shape);
    fillFrame(BG);
    GUI_DrawPath(v.data(), (int32_t)v.size());
    auto withPath = snapshot();
    fillFrame(BG);
    for (size_t i = 1; i < v.size(); i++) GL_DrawLine(v[i - 1].x, v[i - 1].y, v[i].x, v[i].y);
    return countDiffInside(withPath, snapshot(), 0, 0, W - 1, H - 1);
}

TEST_F(Lines, JoinsOnlyFromPenSixAndCapsOnlyForTheRoundPen) {
    EXPECT_EQ(joinDifference(4, 1, {{100, 100}, {300, 150}, {120, 300}}), 0);
    EXPECT_GT(joinDifference(6, 1, {{100, 100}, {300, 150}, {120, 300}}), 0);
    GUI_SetPenSize(24);
    GUI_SetPenShape(1);
    fillFrame(BG);
    path({{100, 100}, {300, 150}, {120, 300}});
    auto flat = snapshot();
    GUI_SetPenShape(0);
    fillFrame(BG);
    path({{100, 100}, {300, 150}, {120, 300}});
    auto round = snapshot();
    // Round caps change pixels near both end points only.
    EXPECT_GT(countDiffInside(flat, round, 20, 20, 30, 30), 0);
    EXPECT_GT(countDiffInside(flat, round, 25, 70, 35, 80), 0);
    EXPECT_EQ(countDiffInside(flat, round, 60, 20, 90, 50), 0);
    // Styled lines get neither caps nor joins.
    GUI_SetLineStyle(1);
    fillFrame(BG);
    path({{100, 100}, {300, 150}});
    auto styledPath = snapshot();
    fillFrame(BG);
    GL_DrawLineSpecial(100, 100, 300, 150);
    EXPECT_EQ(countDiffInside(styledPath, snapshot(), 0, 0, W - 1, H - 1), 0);
}

TEST_F(Lines, ZeroLengthAndSinglePointsDrawNothing) {
    for (uint8_t s = 0; s < 4; s++) {
        style(6, 1, s);
        path({{100, 100}, {100, 100}});
        path({{100, 100}});
    }
    EXPECT_TRUE(solidBlock(0, 0, -1, -1));
}

TEST_F(Lines, FarOutsideTheScreenClipsSafely) {
    // Extremes of the line command (12-bit half pixels, doubled) in every
    // style and pen shape, drawn inside a small clip rectangle.
    const int32_t lo = -4096, hi = 4094;
    const GUI_POINT ends[] = {{lo, lo}, {hi, hi}, {lo, hi}, {hi, lo}, {lo, 800}, {hi, 800}, {1280, lo}, {1280, hi}, {1281, 799}};
    GUI_SetClipRect(100, 50, 500, 300);
    auto before = snapshot();
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
    EXPECT_EQ(countDiffOutside(before, snapshot(), 100, 50, 500, 300), 0);
    EXPECT_GT(countDiffInside(before, snapshot(), 100, 50, 500, 300), 0);
    EXPECT_TRUE(enginesIdle());
}

TEST_F(Lines, ClippedStrokeMatchesTheUnclippedOneInsideTheClip) {
    style(10, 0, 0);
    const GUI_POINT pts[] = {{100, 60}, {900, 700}, {1500, 90}, {2000, 1500}};
    GUI_DrawPath(pts, 4);
    auto full = snapshot();
    fillFrame(BG);
    GUI_SetClipRect(120, 40, 300, 250);
    GUI_DrawPath(pts, 4);
    auto clipped = snapshot();
    EXPECT_EQ(countDiffOutside(std::vector<uint8_t>(H * W, BG), clipped, 120, 40, 300, 250), 0);
    EXPECT_EQ(countDiffInside(full, clipped, 120, 40, 300, 250), 0);
}

}  // namespace
