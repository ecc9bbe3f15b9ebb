// The one float-to-integer conversion of the geometry code, at its edges.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "gui/GUI_Float.h"

TEST(FloatToInt, TruncatesTowardsZeroAndSaturatesWithNaNAsZero) {
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        float v;
        int32_t expected;
    } cases[] = {
        {2.9f, 2},
        {-2.9f, -2},
        {-0.5f, 0},
        {1.0e8f, 100000000},
        {-1.0e8f, -100000000},
        {1.5e8f, 100000000},
        {-3.0e9f, -100000000},
        {inf, 100000000},
        {-inf, -100000000},
        {std::nanf(""), 0},
    };
    for (const auto &c : cases) EXPECT_EQ(GUI_TruncToInt(c.v), c.expected) << c.v;
}

TEST(FloatToInt, RootWidthOfASlightlyNegativeValueIsZero) {
    EXPECT_EQ(GUI_RootWidth(99.9f), 9);
    EXPECT_EQ(GUI_RootWidth(0.0f), 0);
    EXPECT_EQ(GUI_RootWidth(-0.0f), 0);
    EXPECT_EQ(GUI_RootWidth(-1.0e-6f), 0);
    EXPECT_EQ(GUI_RootWidth(1.0e30f), 100000000);
}
