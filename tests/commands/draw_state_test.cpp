// Set colour, set pen style, clear rectangle and copy to screen. (Packed
// pairs and half-pixel rounding are read by every drawing command's test.)
#include <gtest/gtest.h>

#include "commands/commandHandlerDraw.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Common.h"
#include "tests/support/device_fixture.h"

using nimbra::Bytes;
using nimbra::CommandBuilder;
using testsupport::packets;
using testsupport::run;
using Replies = std::vector<Bytes>;

class DrawState : public DeviceTest {
protected:
    // Pixels of the frame buffer that are not 0.
    int painted() {
        int n = 0;
        for (uint8_t b : fb) n += b != 0;
        return n;
    }
};

TEST_F(DrawState, ColourAndPenStyleChecks) {
    EXPECT_EQ(run(CommandBuilder().setColor(0x80FFFFFF).setPenStyle(128, 0, 3)), 0);
    EXPECT_EQ(GUI_Context.alpha, 0x80);
    EXPECT_EQ(GUI_Context.colorIndex, 0xFF);
    EXPECT_EQ(GUI_GetPenSize(), 256u);
    EXPECT_EQ(GUI_GetPenShape(), 0);
    EXPECT_EQ(GUI_GetLineStyle(), 3);
    // Width 0 and 129, shape 2, style 4: refused, the pen kept.
    EXPECT_EQ(
        run(CommandBuilder().setPenStyle(0, 0, 0).setPenStyle(129, 0, 0).setPenStyle(1, 2, 0).setPenStyle(1, 0, 4)), 0);
    EXPECT_EQ(packets(), Replies(4, Bytes({0x04, 0x0B, 0x01, 0x00})));
    EXPECT_EQ(GUI_GetPenSize(), 256u);
    testsupport::clearCaptures();
    EXPECT_EQ(run(Bytes{0x09, 1, 2, 3}), -1);
    EXPECT_EQ(run(Bytes{0x0B, 1}), -1);
    EXPECT_EQ(packets(), (Replies{{0x04, 0x09, 0x01, 0x00}, {0x04, 0x0B, 0x01, 0x00}}));
}

TEST_F(DrawState, ClearIncludesBothCornersKeepsTheColourAndChecksItsRange) {
    memset(fb, 0x55, sizeof fb);
    GUI_SetColor(0xFF00FF00);
    // 639 pixels wide (1278 half pixels) covers 640 columns.
    run(CommandBuilder().clearRect(0, 20, 1278, 4));
    for (int x = 0; x < 640; x++)
        ASSERT_TRUE(fb[10 * 640 + x] == 0 && fb[12 * 640 + x] == 0 && fb[9 * 640 + x] == 0x55 &&
                    fb[13 * 640 + x] == 0x55)
            << x;
    EXPECT_EQ(GUI_GetColor(), 0xFF00FF00u);
    EXPECT_EQ(painted(), 640 * 397);
    // Range checks: x = 641 and y = 401 are refused, x = 640 is accepted
    // and clears nothing, x + w = -5 + 2 < 0 is refused.
    memset(fb, 0x55, sizeof fb);
    CommandBuilder b;
    b.clearRect(1282, 0, 2, 2).clearRect(1280, 0, 2, 2).clearRect(-10, -10, 4, 4).clearRect(0, 802, 2, 2);
    EXPECT_EQ(run(b), 0);
    EXPECT_EQ(packets(), Replies(3, Bytes({0x04, 0x03, 0x01, 0x00})));
    EXPECT_EQ(painted(), 640 * 400);
    EXPECT_EQ(run(Bytes{0x03, 0, 0, 0, 0, 0}), -1);
    // The whole screen, whatever the position and the clip.
    GUI_SetClipRect(10, 10, 20, 20);
    run(CommandBuilder().clearRect(-4, 0, 1280, 800));
    EXPECT_EQ(painted(), 0);
}

TEST_F(DrawState, CopyToScreenRoundsDownAndChecksRange) {
    CommandBuilder b;
    b.copyToScreen(1, 1023, 0, 0, 0)       // pixel 511: shown
        .copyToScreen(2, 1281, 0, 0, 0)    // 640: shown
        .copyToScreen(3, 1282, 0, 0, 0)    // 641: rejected
        .copyToScreen(4, -20, 0, 18, 0)    // -10 + 9 < 0: rejected
        .copyToScreen(5, -20, 0, 20, 0);   // -10 + 10 = 0: shown
    EXPECT_EQ(run(b), 0);
    const Bytes rejected = {0x04, 0x02, 0x01, 0x00};
    EXPECT_EQ(packets(), (Replies{{0x00, 1}, {0x00, 2}, rejected, rejected, {0x00, 5}}));
    EXPECT_EQ(testsupport::frames().size(), 3u);
    EXPECT_EQ(run(Bytes{0x02, 1, 0, 0, 0, 0, 0}), -1);
}
