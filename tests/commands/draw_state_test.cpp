// Set colour, set pen style, clear rectangle, and the packed pairs.
#include <gtest/gtest.h>

#include "commands/commandHandlerDraw.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Common.h"
#include "tests/support/device_fixture.h"

using nimbra::Bytes;
using nimbra::CommandBuilder;
using testsupport::packets;
using testsupport::run;

TEST(PackedPair, SignedAndUnsignedReadings) {
    const uint8_t bytes[3] = {0x8F, 0xFF, 0x00};
    PackedPair s = readPackedPairSigned(bytes);
    PackedPair u = readPackedPairUnsigned(bytes);
    EXPECT_EQ(s.a, -1);
    EXPECT_EQ(s.b, -2048);
    EXPECT_EQ(u.a, 4095);
    EXPECT_EQ(u.b, 2048);
    const uint8_t mixed[3] = {0x7A, 0xBC, 0xDE};
    EXPECT_EQ(readPackedPairSigned(mixed).a, -1348);   // 0xABC
    EXPECT_EQ(readPackedPairSigned(mixed).b, 0x7DE);
}

TEST(PackedPair, UnitConversionsRoundHalvesUp) {
    const int32_t in[] = {1, 2, 3, -1, -2, -3, 0, 2047, -2048};
    const int32_t out[] = {1, 1, 2, 0, -1, -1, 0, 1024, -1024};
    for (size_t i = 0; i < sizeof in / sizeof in[0]; i++) EXPECT_EQ(halfToPixel(in[i]), out[i]) << in[i];
    EXPECT_EQ(halfToQuarter(-3), -6);
}

class DrawState : public DeviceTest {};

namespace {
int countNonZero(int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y <= y1; y++)
        for (int x = x0; x <= x1; x++) n += fb[y * 640 + x] != 0;
    return n;
}
void paintScreen(uint8_t index) {
    for (auto &b : fb) b = index;
}
}  // namespace

TEST_F(DrawState, SetColourKeepsAlphaAndQuantisedIndex) {
    EXPECT_EQ(run(CommandBuilder().setColor(0x80FFFFFF)), 0);
    EXPECT_EQ(GUI_Context.alpha, 0x80);
    EXPECT_EQ(GUI_Context.colorIndex, 0xFF);
    EXPECT_EQ(run(Bytes{0x09, 1, 2, 3}), -1);
    EXPECT_EQ(packets()[0], (Bytes{0x04, 0x09, 0x01, 0x00}));
}

TEST_F(DrawState, PenStyleValidation) {
    EXPECT_EQ(run(CommandBuilder().setPenStyle(128, 0, 3)), 0);
    EXPECT_EQ(GUI_GetPenSize(), 256u);
    EXPECT_EQ(GUI_GetPenShape(), 0);
    EXPECT_EQ(GUI_GetLineStyle(), 3);
    CommandBuilder bad;
    bad.setPenStyle(0, 0, 0).setPenStyle(129, 0, 0).setPenStyle(1, 2, 0).setPenStyle(1, 0, 4);
    EXPECT_EQ(run(bad), 0);
    auto r = packets();
    ASSERT_EQ(r.size(), 4u);
    for (auto &p : r) EXPECT_EQ(p, (Bytes{0x04, 0x0B, 0x01, 0x00}));
    EXPECT_EQ(GUI_GetPenSize(), 256u);
    EXPECT_EQ(run(Bytes{0x0B, 1}), -1);
}

TEST_F(DrawState, FullScreenClearIgnoresPositionAndClip) {
    paintScreen(0x55);
    GUI_SetClipRect(10, 10, 20, 20);
    run(CommandBuilder().clearRect(-4, 0, 1280, 800));
    EXPECT_EQ(countNonZero(0, 0, 639, 399), 0);
    EXPECT_TRUE(packets().empty());
}

TEST_F(DrawState, ClearIncludesBothCornersAndKeepsColour) {
    paintScreen(0x55);
    GUI_SetColor(0xFF00FF00);
    // 639 pixels wide (1278 half pixels) covers 640 columns.
    run(CommandBuilder().clearRect(0, 20, 1278, 4));
    for (int x = 0; x < 640; x++) {
        ASSERT_EQ(fb[10 * 640 + x], 0) << x;
        ASSERT_EQ(fb[12 * 640 + x], 0) << x;
        ASSERT_EQ(fb[9 * 640 + x], 0x55) << x;
        ASSERT_EQ(fb[13 * 640 + x], 0x55) << x;
    }
    EXPECT_EQ(GUI_GetColor(), 0xFF00FF00u);
}

TEST_F(DrawState, ClearRangeChecks) {
    paintScreen(0x55);
    CommandBuilder b;
    b.clearRect(1282, 0, 2, 2)     // x = 641: rejected
        .clearRect(1280, 0, 2, 2)  // x = 640: accepted, nothing visible
        .clearRect(-10, -10, 4, 4) // x + w = -5 + 2 < 0: rejected
        .clearRect(0, 802, 2, 2);  // y = 401: rejected
    EXPECT_EQ(run(b), 0);
    auto r = packets();
    ASSERT_EQ(r.size(), 3u);
    for (auto &p : r) EXPECT_EQ(p, (Bytes{0x04, 0x03, 0x01, 0x00}));
    EXPECT_EQ(countNonZero(0, 0, 639, 399), 640 * 400);
    EXPECT_EQ(run(Bytes{0x03, 0, 0, 0, 0, 0}), -1);
}

TEST_F(DrawState, CopyToScreenRoundsDownAndChecksRange) {
    CommandBuilder b;
    b.copyToScreen(1, 1023, 0, 0, 0)    // pixel 511: shown
        .copyToScreen(2, 1281, 0, 0, 0)  // 640: shown
        .copyToScreen(3, 1282, 0, 0, 0)  // 641: rejected
        .copyToScreen(4, -20, 0, 18, 0)  // -10 + 9 < 0: rejected
        .copyToScreen(5, -20, 0, 20, 0); // -10 + 10 = 0: shown
    EXPECT_EQ(run(b), 0);
    auto r = packets();
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(r[0], (Bytes{0x00, 1}));
    EXPECT_EQ(r[1], (Bytes{0x00, 2}));
    EXPECT_EQ(r[2], (Bytes{0x04, 0x02, 0x01, 0x00}));
    EXPECT_EQ(r[3], (Bytes{0x04, 0x02, 0x01, 0x00}));
    EXPECT_EQ(r[4], (Bytes{0x00, 5}));
    EXPECT_EQ(testsupport::frames().size(), 3u);
    EXPECT_EQ(run(Bytes{0x02, 1, 0, 0, 0, 0, 0}), -1);
}
