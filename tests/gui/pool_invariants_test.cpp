// The rules of the shared state made checkable: a pool mark as a scope gives
// the pool back on every way out, and in debug builds a broken rule (image
// alpha borrowing the opacity line while a shape has a pending row) stops
// the device with a line that names it.
#include <gtest/gtest.h>

#include "codecs/GUI_PNG.h"
#include "gui/GUI_AALib.h"
#include "gui/GUI_AALibSimple.h"
#include "gui/GUI_Alloc.h"
#include "host/platform.h"
#include "tests/codecs/png_builder.h"
#include "tests/support/device_fixture.h"

namespace {

class PoolScope : public BareDeviceTest {};

// Takes `bytes` under a mark and leaves early when `leaveEarly` holds.
uint32_t _TakeUnderMark(uint32_t bytes, bool leaveEarly) {
    const PoolMark job;
    GUI_AllocNoInit(bytes);
    if (leaveEarly) return GUI_AllocStart();
    GUI_AllocNoInit(bytes);
    return GUI_AllocStart();
}

TEST_F(PoolScope, AMarkGivesThePoolBackOnEveryWayOut) {
    const uint32_t top = GUI_AllocStart();
    EXPECT_EQ(_TakeUnderMark(100, true), top + 100);
    EXPECT_EQ(GUI_AllocStart(), top);
    EXPECT_EQ(_TakeUnderMark(100, false), top + 200);
    EXPECT_EQ(GUI_AllocStart(), top);
}

TEST_F(PoolScope, NestedMarksReleaseInnerFirstAndKeepWhatTheOuterTook) {
    const uint32_t top = GUI_AllocStart();
    {
        const PoolMark outer;
        GUI_AllocNoInit(40);
        {
            const PoolMark inner;
            GUI_AllocNoInit(4000);
            EXPECT_EQ(GUI_AllocStart(), top + 4040);
        }
        EXPECT_EQ(GUI_AllocStart(), top + 40);
    }
    EXPECT_EQ(GUI_AllocStart(), top);
}

// A 2 x 2 truecolour image with alpha (an image one pixel high is not
// drawn at all): it borrows the opacity line.
pngtest::Bytes _AlphaImage() {
    pngtest::PngSpec image;
    image.width = 2;
    image.height = 2;
    image.colorType = 6;
    image.depth = 8;
    image.rows = {{255, 0, 0, 128, 0, 0, 255, 128}, {0, 255, 0, 128, 0, 0, 0, 255}};
    return image.build();
}

using InvariantDeathTest = PoolScope;

TEST_F(InvariantDeathTest, ImageAlphaBetweenShapesDraws) {
    const pngtest::Bytes file = _AlphaImage();
    EXPECT_EQ(GUI_PNG_Draw(file.data(), (uint32_t)file.size(), 10, 10), PNG_OK);
}

TEST_F(InvariantDeathTest, ImageAlphaDuringAShapeStopsTheDevice) {
#ifdef NDEBUG
    GTEST_SKIP() << "release builds leave the checks out";
#endif
    const pngtest::Bytes file = _AlphaImage();
    // Each engine in turn holds a pending row, as in the middle of a shape.
    EXPECT_DEATH(
        {
            AA_Init(0, 40);
            AA_DrawHLine(0, 8, 40);
            static_cast<void>(GUI_PNG_Draw(file.data(), (uint32_t)file.size(), 10, 10));
        },
        "invariant broken: image alpha borrows the opacity line only between shapes");
    EXPECT_DEATH(
        {
            AA_InitSimple(0, 40);
            AA_DrawHLineSimple(4, 8, 40);
            static_cast<void>(GUI_PNG_Draw(file.data(), (uint32_t)file.size(), 10, 10));
        },
        "invariant broken: image alpha borrows the opacity line only between shapes");
}

TEST_F(InvariantDeathTest, ABrokenRuleNamesItselfWithItsPlace) {
#ifdef NDEBUG
    GTEST_SKIP() << "release builds leave the checks out";
#endif
    EXPECT_DEATH(SIM_ASSERT(GUI_AllocStart() == 1u, "the pool is odd"),
                 "invariant broken: the pool is odd \\(.*pool_invariants_test.cpp:[0-9]+\\)");
}

}  // namespace
