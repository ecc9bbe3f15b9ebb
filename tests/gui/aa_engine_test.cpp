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
const Engine kEngines[] = {kGeneral, kSimple};

// Black screen, white colour.
class AAEngine : public ShapeTest {
protected:
    void SetUp() override {
        ShapeTest::SetUp();
        fillFrame(0);
    }
};

TEST_F(AAEngine, SpanAddsItsSubpixelColumnsToEachCell) {
    AA_Init(0, 2559);
    AA_DrawHLine(9, 20, 9);    // one subpixel: column 9 is slot 1 of pixel 2
    EXPECT_EQ(lineOpacityBuffer[2], 1);
    AA_DrawHLine(5, 21, 18);   // pixel 1 slots 1..3, pixels 2 and 3 whole, pixel 4 slots 0..2
    const uint8_t cells[] = {0, 3, 5, 4, 3, 0};
    for (int i = 0; i < 6; i++) EXPECT_EQ(lineOpacityBuffer[i], cells[i]) << i;
    AA_Exit();
    EXPECT_TRUE(enginesIdle());
}

TEST_F(AAEngine, CoverageThresholdBetweenBlendAndSolid) {
    // Pixels 10..13 of pixel row 5 get coverage 16, 15, 14 and 8.
    for (const Engine &e : kEngines) {
        SCOPED_TRACE(e.name);
        fillFrame(0);
        e.init(0, 2559);
        e.rows(40, 20, 43, 4);
        e.rows(44, 20, 47, 3);
        e.span(44, 23, 46);
        e.rows(48, 20, 51, 3);
        e.span(48, 23, 49);
        e.rows(52, 20, 55, 2);
        e.exit();
        EXPECT_EQ(pixel(10, 5), FG);
        EXPECT_EQ(pixel(11, 5), FG);
        EXPECT_EQ(pixel(12, 5), 0xDA);   // white at 7/8 over black
        EXPECT_EQ(pixel(13, 5), refCoverage(FG, 0, 8));
        for (auto [x, y] : {std::pair{9, 5}, {14, 5}, {10, 4}, {10, 6}}) EXPECT_EQ(pixel(x, y), 0) << x << "," << y;
        EXPECT_TRUE(enginesIdle());
    }
}

TEST_F(AAEngine, BlendingUsesTheContextColourOverTheExistingPixel) {
    fillFrame(BG);
    GUI_SetColor(0xFF00FF00);
    AA_Init(0, 2559);
    // c subpixels in pixel 10 + 2c, over up to four subpixel rows.
    for (int c = 1; c <= 14; c++) {
        const int x = 4 * (10 + 2 * c);
        for (int r = 0, left = c; left > 0; r++, left -= 4) AA_DrawHLine(x, 40 + r, x + std::min(left, 4) - 1);
    }
    AA_Exit();
    for (int c = 1; c <= 14; c++) EXPECT_EQ(pixel(10 + 2 * c, 10), refCoverage(0x1C, BG, c)) << "coverage " << c;
}

TEST_F(AAEngine, SimpleEngineFillsTheGapBetweenRunsAndBlendsItsFringes) {
    for (const Engine &e : kEngines) {
        fillFrame(0);
        e.init(0, 2559);
        e.rows(40, 40, 55, 4);   // pixels 10..13
        e.rows(80, 40, 95, 4);   // pixels 20..23
        e.exit();
        const bool simple = e.span == AA_DrawHLineSimple;
        for (int x = 10; x <= 23; x++) EXPECT_EQ(pixel(x, 10), (simple || x <= 13 || x >= 20) ? FG : 0) << e.name << x;
    }
    // Left fringe pixel 9 gets 2 per row, right fringe pixel 14 gets 1 per row.
    AA_InitSimple(0, 2559);
    kSimple.rows(38, 8, 56, 4);
    AA_ExitSimple();
    const uint8_t row[] = {0, refCoverage(FG, 0, 8), FG, FG, FG, FG, refCoverage(FG, 0, 4), 0};
    for (int x = 8; x <= 15; x++) EXPECT_EQ(pixel(x, 2), row[x - 8]) << x;
    EXPECT_TRUE(enginesIdle());
}

TEST_F(AAEngine, LoneSubpixelColumnZeroIsDroppedBySimpleEngineOnly) {
    // A span clamped to column 0 alone; two columns survive.
    AA_InitSimple(0, 100);
    AA_DrawHLineSimple(-10, 0, 0);
    EXPECT_EQ(lineOpacityBuffer[0], 0);
    EXPECT_TRUE(AA_IsIdleSimple());
    AA_DrawHLineSimple(0, 1, 1);
    EXPECT_EQ(lineOpacityBuffer[0], 2);
    AA_ExitSimple();
    AA_Init(0, 100);
    AA_DrawHLine(-10, 0, 0);
    EXPECT_EQ(lineOpacityBuffer[0], 1);
    AA_Exit();
    EXPECT_TRUE(enginesIdle());
}

TEST_F(AAEngine, SpansAreClippedHorizontallyToTheClipRectangle) {
    GUI_SetClipRect(10, 0, 20, 399);
    Frame before = snapshot();
    for (int i = 0; i < 2; i++) {
        kEngines[i].init(-1000, 5000);
        kEngines[i].rows(-1000, 40 + 8 * i, 5000, 4);
        kEngines[i].exit();
    }
    EXPECT_EQ(diffOut(before, snapshot(), {10, 10, 20, 12}), 0);
    for (int x = 10; x <= 20; x++) EXPECT_TRUE(pixel(x, 10) == FG && pixel(x, 12) == FG) << x;
    EXPECT_TRUE(enginesIdle());
}

TEST_F(AAEngine, GeneralEngineKeepsSpansInsideTheReservedExtent) {
    // A span beyond the extent given to AA_Init is trimmed to it, so the
    // buffer cells written are the ones cleared after the flush.
    Frame before = snapshot();
    AA_Init(400, 423);   // pixels 100..105
    kGeneral.rows(0, 80, 2559, 8);
    AA_Exit();
    EXPECT_EQ(diffOut(before, snapshot(), {100, 20, 105, 21}), 0);
    EXPECT_EQ(pixel(100, 20), FG);
    EXPECT_EQ(pixel(105, 21), FG);
    EXPECT_TRUE(enginesIdle());
    // An extent wholly outside the clip collapses to one column at its edge.
    GUI_SetClipRect(100, 0, 200, 399);
    AA_Init(0, 50);
    kGeneral.rows(0, 80, 50, 4);
    AA_Exit();
    EXPECT_EQ(diffOut(before, snapshot(), {100, 20, 105, 21}), 0);
    EXPECT_TRUE(enginesIdle());
}

TEST_F(AAEngine, BottomUpAndTopDownGiveTheSamePixels) {
    // A small blob, some rows with two runs.
    std::vector<std::tuple<int, int, int>> spans;
    for (int y = 37; y < 70; y++) {
        int w = 30 - (y - 53) * (y - 53) / 10;
        spans.emplace_back(200 - w, y, 200 + w + (y % 3));
        if (y % 4 == 1) spans.emplace_back(260 + (y % 7), y, 300 - (y % 5));
    }
    for (const Engine &e : kEngines) {
        Frame results[2];
        for (Frame &result : results) {
            fillFrame(0x25);
            e.init(0, 2559);
            for (auto &[x0, y, x1] : spans) e.span(x0, y, x1);
            e.exit();
            EXPECT_TRUE(enginesIdle()) << e.name;
            result = snapshot();
            std::reverse(spans.begin(), spans.end());
        }
        EXPECT_EQ(diffIn(results[0], results[1]), 0) << e.name;
    }
}

TEST_F(AAEngine, ReturningToARowWritesItAgain) {
    fillFrame(BG);
    AA_Init(0, 2559);
    kGeneral.rows(40, 40, 43, 2);   // pixel (10, 10): coverage 8
    kGeneral.rows(40, 44, 43, 4);   // next pixel row
    kGeneral.rows(40, 42, 43, 2);   // back to pixel row 10: coverage 8 again
    AA_Exit();
    EXPECT_EQ(pixel(10, 10), refCoverage(FG, refCoverage(FG, BG, 8), 8));
    EXPECT_EQ(pixel(10, 11), FG);
}

}  // namespace
