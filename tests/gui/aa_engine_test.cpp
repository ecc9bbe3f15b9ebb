// The two antialiasing engines: coverage counting, the flush rules, clipping
// and the idle state between shapes.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "gui/GUI_AALib.h"
#include "gui/GUI_AALibSimple.h"
#include "gui/GUI_Common.h"
#include "tests/gui/gui_test_support.h"

using namespace guitest;

namespace {

struct Engine {
    const char *name;
    void (*init)(int32_t, int32_t);
    void (*span)(int32_t, int32_t, int32_t);
    void (*exit)();
    // `subrows` subpixel rows of the span x0..x1 from subpixel row y on.
    void rows(int x0, int y, int x1, int subrows) const {
        for (int i = 0; i < subrows; i++) span(x0, y + i, x1);
    }
};
const Engine kGeneral{"general", AA_Init, AA_DrawHLine, AA_Exit};
const Engine kSimple{"simple", AA_InitSimple, AA_DrawHLineSimple, AA_ExitSimple};

using AAEngine = ShapeTest;

TEST_F(AAEngine, CoverageCountsSubpixelsAndWeighsTheContextColour) {
    // Coverage c = 1..16 in pixel 10 + 2c, over up to four subpixel rows;
    // the colour green over the mid grey, so both directions of the mix show.
    GUI_SetColor(0xFF00FF00);
    AA_Init(0, 2559);
    for (int c = 1; c <= 16; c++) {
        const int x = 4 * (10 + 2 * c);
        for (int r = 0, left = c; left > 0; r++, left -= 4) AA_DrawHLine(x, 40 + r, x + std::min(left, 4) - 1);
    }
    AA_DrawHLine(205, 44, 218);   // pixel 51 slots 1..3, pixels 52 and 53 whole, pixel 54 slots 0..2
    AA_Exit();
    for (int c = 1; c <= 16; c++) EXPECT_EQ(pixel(10 + 2 * c, 10), refCoverage(0x1C, BG, c)) << "coverage " << c;
    const int row11[] = {0, 3, 4, 4, 3, 0};
    for (int i = 0; i < 6; i++) EXPECT_EQ(pixel(50 + i, 11), refCoverage(0x1C, BG, row11[i])) << 50 + i;
    EXPECT_TRUE(enginesIdle());
}

TEST_F(AAEngine, ThresholdBetweenBlendAndSolidRunsAndTheSimpleEnginesGapsAndFringes) {
    for (const Engine &e : {kGeneral, kSimple}) {
        const bool simple = e.span == AA_DrawHLineSimple;
        fillFrame(0);
        e.init(0, 2559);
        // Pixels 10..13 of pixel row 5 get coverage 16, 15, 14 and 8.
        e.rows(40, 20, 43, 4);
        e.rows(44, 20, 47, 3);
        e.span(44, 23, 46);
        e.rows(48, 20, 51, 3);
        e.span(48, 23, 49);
        e.rows(52, 20, 55, 2);
        // Pixels 40..43 and 50..53 of row 10: the simple engine joins them.
        e.rows(160, 40, 175, 4);
        e.rows(200, 40, 215, 4);
        // Left fringe pixel 69 gets 2 per subpixel row, right fringe 74 gets 1.
        e.rows(278, 48, 296, 4);
        e.exit();
        // White at 7/8 over black is DA.
        const uint8_t row5[] = {0, FG, FG, 0xDA, refCoverage(FG, 0, 8), 0};
        for (int i = 0; i < 6; i++) EXPECT_EQ(pixel(9 + i, 5), row5[i]) << e.name << " " << 9 + i;
        for (int x = 40; x <= 53; x++) EXPECT_EQ(pixel(x, 10), simple || x < 44 || x > 49 ? FG : 0) << e.name << x;
        const uint8_t row12[] = {0, refCoverage(FG, 0, 8), FG, FG, FG, FG, refCoverage(FG, 0, 4), 0};
        for (int i = 0; i < 8; i++) EXPECT_EQ(pixel(68 + i, 12), row12[i]) << e.name << " " << 68 + i;
        EXPECT_TRUE(enginesIdle());
    }
}

TEST_F(AAEngine, LoneSubpixelColumnZeroIsDroppedBySimpleEngineOnly) {
    // A span clamped to column 0 alone; two columns survive.
    AA_InitSimple(0, 100);
    AA_DrawHLineSimple(-10, 0, 0);
    EXPECT_EQ(lineOpacityBuffer[0], 0);
    AA_DrawHLineSimple(0, 1, 1);
    EXPECT_EQ(lineOpacityBuffer[0], 2);
    AA_ExitSimple();
    AA_Init(0, 100);
    AA_DrawHLine(-10, 0, 0);
    EXPECT_EQ(lineOpacityBuffer[0], 1);
    AA_Exit();
    EXPECT_TRUE(enginesIdle());
}

TEST_F(AAEngine, SpansStayInsideTheClipAndTheReservedExtent) {
    // Both engines clip spans to the clip rectangle.
    GUI_SetClipRect(10, 0, 20, 399);
    for (const Engine &e : {kGeneral, kSimple}) {
        e.init(-1000, 5000);
        e.rows(-1000, e.span == AA_DrawHLine ? 40 : 48, 5000, 4);
        e.exit();
    }
    EXPECT_EQ(painted(), (Box{10, 10, 20, 12}));
    EXPECT_EQ(pixel(10, 11), BG);
    // The general engine trims a span to the extent given to AA_Init, so the
    // buffer cells written are the ones cleared after the flush; an extent
    // wholly outside the clip collapses to one column at its edge.
    fillFrame(BG);
    GUI_SetClipRect(0, 0, 639, 399);
    AA_Init(400, 423);   // pixels 100..105
    kGeneral.rows(0, 80, 2559, 8);
    AA_Exit();
    GUI_SetClipRect(100, 0, 200, 399);
    AA_Init(0, 50);
    kGeneral.rows(0, 80, 50, 4);
    AA_Exit();
    EXPECT_EQ(painted(), (Box{100, 20, 105, 21}));
    EXPECT_TRUE(enginesIdle());
}

TEST_F(AAEngine, ReturningToARowWritesItAgain) {
    AA_Init(0, 2559);
    kGeneral.rows(40, 40, 43, 2);   // pixel (10, 10): coverage 8
    kGeneral.rows(40, 44, 43, 4);   // next pixel row
    kGeneral.rows(40, 42, 43, 2);   // back to pixel row 10: coverage 8 again
    AA_Exit();
    EXPECT_EQ(pixel(10, 10), refCoverage(FG, refCoverage(FG, BG, 8), 8));
    EXPECT_EQ(pixel(10, 11), FG);
}

}  // namespace
