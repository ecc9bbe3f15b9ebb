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
#include "tests/support/device_fixture.h"

using namespace guitest;

namespace {

constexpr uint8_t BG = 0x00;
constexpr uint8_t FG = 0xFF;

class AAEngine : public BareDeviceTest {
protected:
    void SetUp() override {
        BareDeviceTest::SetUp();
        fillFrame(BG);
        GUI_SetColor(0xFFFFFFFF);
    }
};

// Adds `subrows` subpixel rows of the span x0..x1 starting at subpixel row y.
void generalRows(int x0, int y, int x1, int subrows) {
    for (int i = 0; i < subrows; i++) AA_DrawHLine(x0, y + i, x1);
}
void simpleRows(int x0, int y, int x1, int subrows) {
    for (int i = 0; i < subrows; i++) AA_DrawHLineSimple(x0, y + i, x1);
}

TEST_F(AAEngine, SpanAddsItsSubpixelColumnsToEachCell) {
    AA_Init(0, 2559);
    AA_DrawHLine(9, 20, 9);    // one subpixel: column 9 is slot 1 of pixel 2
    EXPECT_EQ(lineOpacityBuffer[2], 1);
    AA_DrawHLine(5, 21, 18);   // pixel 1 slots 1..3, pixels 2 and 3 whole, pixel 4 slots 0..2
    EXPECT_EQ(lineOpacityBuffer[1], 3);
    EXPECT_EQ(lineOpacityBuffer[2], 5);
    EXPECT_EQ(lineOpacityBuffer[3], 4);
    EXPECT_EQ(lineOpacityBuffer[4], 3);
    EXPECT_EQ(lineOpacityBuffer[5], 0);
    AA_Exit();
    EXPECT_TRUE(enginesIdle());
}

TEST_F(AAEngine, CoverageThresholdBetweenBlendAndSolid) {
    // Pixel 10: 16, pixel 11: 15, pixel 12: 14, pixel 13: 8, in pixel row 5.
    for (auto pass : {0, 1}) {
        fillFrame(BG);
        if (pass == 0) AA_Init(0, 2559);
        else AA_InitSimple(0, 2559);
        auto span = [&](int x0, int y, int x1) {
            if (pass == 0) AA_DrawHLine(x0, y, x1);
            else AA_DrawHLineSimple(x0, y, x1);
        };
        for (int s = 0; s < 4; s++) span(40, 20 + s, 43);
        for (int s = 0; s < 3; s++) span(44, 20 + s, 47);
        span(44, 23, 46);   // 15
        for (int s = 0; s < 3; s++) span(48, 20 + s, 51);
        span(48, 23, 49);   // 14
        span(52, 20, 55);
        span(52, 21, 55);   // 8
        if (pass == 0) AA_Exit();
        else AA_ExitSimple();
        SCOPED_TRACE(pass == 0 ? "general" : "simple");
        EXPECT_EQ(pixel(10, 5), FG);
        EXPECT_EQ(pixel(11, 5), FG);
        EXPECT_EQ(pixel(12, 5), refCoverage(FG, BG, 14));
        EXPECT_EQ(pixel(12, 5), 0xDA);   // white at 7/8 over black
        EXPECT_EQ(pixel(13, 5), refCoverage(FG, BG, 8));
        EXPECT_EQ(pixel(9, 5), BG);
        EXPECT_EQ(pixel(14, 5), BG);
        EXPECT_EQ(pixel(10, 4), BG);
        EXPECT_EQ(pixel(10, 6), BG);
        EXPECT_TRUE(enginesIdle());
    }
}

TEST_F(AAEngine, BlendingUsesTheContextColourOverTheExistingPixel) {
    fillFrame(0x49);   // a mid colour, so that both directions of the mix show
    GUI_SetColor(0xFF00FF00);
    uint8_t fg = GUI_Context.colorIndex;
    AA_Init(0, 2559);
    for (int c = 1; c <= 14; c++) {
        int x = 4 * (10 + 2 * c);
        // c subpixels in one pixel over up to four rows
        int rows = (c + 3) / 4;
        int left = c;
        for (int r = 0; r < rows; r++, left -= 4) AA_DrawHLine(x, 40 + r, x + std::min(left, 4) - 1);
    }
    AA_Exit();
    for (int c = 1; c <= 14; c++) EXPECT_EQ(pixel(10 + 2 * c, 10), refCoverage(fg, 0x49, c)) << "coverage " << c;
}

TEST_F(AAEngine, SimpleEngineFillsTheGapBetweenRunsGeneralDoesNot) {
    AA_InitSimple(0, 2559);
    simpleRows(40, 40, 55, 4);   // pixels 10..13
    simpleRows(80, 40, 95, 4);   // pixels 20..23
    AA_ExitSimple();
    for (int x = 10; x <= 23; x++) EXPECT_EQ(pixel(x, 10), FG) << x;

    fillFrame(BG);
    AA_Init(0, 2559);
    generalRows(40, 40, 55, 4);
    generalRows(80, 40, 95, 4);
    AA_Exit();
    for (int x = 10; x <= 23; x++) EXPECT_EQ(pixel(x, 10), (x <= 13 || x >= 20) ? FG : BG) << x;
    EXPECT_TRUE(enginesIdle());
}

TEST_F(AAEngine, SimpleEngineBlendsFringesAroundTheSolidRun) {
    AA_InitSimple(0, 2559);
    // Left fringe pixel 9 gets 2 per row, right fringe pixel 14 gets 1 per row.
    for (int s = 0; s < 4; s++) AA_DrawHLineSimple(38, 8 + s, 56);
    AA_ExitSimple();
    EXPECT_EQ(pixel(9, 2), refCoverage(FG, BG, 8));
    for (int x = 10; x <= 13; x++) EXPECT_EQ(pixel(x, 2), FG);
    EXPECT_EQ(pixel(14, 2), refCoverage(FG, BG, 4));
    EXPECT_EQ(pixel(15, 2), BG);
}

TEST_F(AAEngine, LoneSubpixelColumnZeroIsDroppedBySimpleEngineOnly) {
    AA_InitSimple(0, 100);
    AA_DrawHLineSimple(-10, 0, 0);   // clamps to column 0 alone
    EXPECT_EQ(lineOpacityBuffer[0], 0);
    EXPECT_TRUE(AA_IsIdleSimple());
    AA_DrawHLineSimple(0, 1, 1);   // two columns survive
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
    auto before = snapshot();
    AA_Init(-1000, 5000);
    generalRows(-1000, 40, 5000, 4);
    AA_Exit();
    AA_InitSimple(-1000, 5000);
    simpleRows(-1000, 48, 5000, 4);
    AA_ExitSimple();
    auto after = snapshot();
    EXPECT_EQ(countDiffOutside(before, after, 10, 10, 20, 12), 0);
    for (int x = 10; x <= 20; x++) {
        EXPECT_EQ(pixel(x, 10), FG);
        EXPECT_EQ(pixel(x, 12), FG);
    }
    EXPECT_TRUE(enginesIdle());
}

TEST_F(AAEngine, GeneralEngineKeepsSpansInsideTheReservedExtent) {
    // A span beyond the extent given to AA_Init is trimmed to it, so the
    // buffer cells written are the ones cleared after the flush.
    auto before = snapshot();
    AA_Init(400, 423);   // pixels 100..105
    generalRows(0, 80, 2559, 4);
    generalRows(0, 84, 2559, 4);
    AA_Exit();
    auto after = snapshot();
    EXPECT_EQ(countDiffOutside(before, after, 100, 20, 105, 21), 0);
    EXPECT_EQ(pixel(100, 20), FG);
    EXPECT_EQ(pixel(105, 21), FG);
    EXPECT_TRUE(enginesIdle());

    // An extent wholly outside the clip collapses to one column at its edge.
    GUI_SetClipRect(100, 0, 200, 399);
    AA_Init(0, 50);
    generalRows(0, 80, 50, 4);
    AA_Exit();
    EXPECT_EQ(countDiffOutside(before, snapshot(), 100, 20, 105, 21), 0);
    EXPECT_TRUE(enginesIdle());
}

// Spans of a small blob, row by row, with some rows holding two runs.
std::vector<std::tuple<int, int, int>> blobSpans() {
    std::vector<std::tuple<int, int, int>> spans;
    for (int y = 37; y < 70; y++) {
        int w = 30 - (y - 53) * (y - 53) / 10;
        spans.emplace_back(200 - w, y, 200 + w + (y % 3));
        if (y % 4 == 1) spans.emplace_back(260 + (y % 7), y, 300 - (y % 5));
    }
    return spans;
}

TEST_F(AAEngine, BottomUpAndTopDownGiveTheSamePixels) {
    auto spans = blobSpans();
    for (int engine = 0; engine < 2; engine++) {
        SCOPED_TRACE(engine == 0 ? "general" : "simple");
        std::vector<uint8_t> results[2];
        for (int order = 0; order < 2; order++) {
            fillFrame(0x25);
            std::vector<std::tuple<int, int, int>> list = spans;
            if (order == 1) std::reverse(list.begin(), list.end());
            if (engine == 0) AA_Init(0, 2559);
            else AA_InitSimple(0, 2559);
            for (auto &[x0, y, x1] : list) {
                if (engine == 0) AA_DrawHLine(x0, y, x1);
                else AA_DrawHLineSimple(x0, y, x1);
            }
            if (engine == 0) AA_Exit();
            else AA_ExitSimple();
            EXPECT_TRUE(enginesIdle());
            results[order] = snapshot();
        }
        EXPECT_EQ(countDiffInside(results[0], results[1], 0, 0, W - 1, H - 1), 0);
    }
}

TEST_F(AAEngine, ReturningToARowWritesItAgain) {
    fillFrame(0x49);
    AA_Init(0, 2559);
    generalRows(40, 40, 43, 2);   // pixel (10, 10): coverage 8
    generalRows(40, 44, 43, 4);   // next pixel row
    generalRows(40, 42, 43, 2);   // back to pixel row 10: coverage 8 again
    AA_Exit();
    uint8_t once = refCoverage(FG, 0x49, 8);
    EXPECT_EQ(pixel(10, 10), refCoverage(FG, once, 8));
    EXPECT_EQ(pixel(10, 11), FG);
}

TEST_F(AAEngine, ExitWithoutSpansChangesNothing) {
    auto before = snapshot();
    AA_Init(100, 200);
    AA_Exit();
    AA_InitSimple(100, 200);
    AA_ExitSimple();
    EXPECT_EQ(countDiffInside(before, snapshot(), 0, 0, W - 1, H - 1), 0);
    EXPECT_TRUE(enginesIdle());
}

}  // namespace
