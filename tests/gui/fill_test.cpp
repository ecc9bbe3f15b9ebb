// Word-wise solid fills against a byte-by-byte model.
#include <gtest/gtest.h>

#include <cstring>

#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Common.h"
#include "gui/GUI_Rect.h"
#include "tests/support/device_fixture.h"

class Fills : public BareDeviceTest {
protected:
    // Pixels of the frame buffer: those inside the box hold `inside`, the
    // others `outside`.
    static ::testing::AssertionResult onlyBoxIs(int x0, int y0, int x1, int y1, uint8_t inside, uint8_t outside) {
        for (int y = 0; y < 400; y++)
            for (int x = 0; x < 640; x++) {
                bool in = x >= x0 && x <= x1 && y >= y0 && y <= y1;
                if (fb[y * 640 + x] != (in ? inside : outside))
                    return ::testing::AssertionFailure() << "pixel " << x << "," << y << " is " << (int)fb[y * 640 + x];
            }
        return ::testing::AssertionSuccess();
    }
};

TEST_F(Fills, LinesAndRectanglesChangeExactlyTheirPixelsForEveryAlignment) {
    GUI_SetColor(0xFFFFFFFF);
    for (int x0 = 0; x0 < 12; x0++)
        for (int x1 = x0; x1 < x0 + 40; x1++) {
            memset(fb, 0x11, 640 * 2);
            FillHLineOpt8(x0, 1, x1);
            for (int x = 0; x < 640; x++) {
                ASSERT_EQ(fb[x], 0x11);
                ASSERT_EQ(fb[640 + x], (x >= x0 && x <= x1) ? 0xFF : 0x11) << x0 << ".." << x1 << " at " << x;
            }
        }
    GUI_SetColor(0xFF0000FF);
    const int cases[][4] = {{0, 0, 639, 399}, {3, 7, 3, 7}, {1, 2, 66, 9}, {63, 10, 127, 20}};
    for (auto &c : cases) {
        memset(fb, 0, sizeof fb);
        FillRectOpt8(c[0], c[1], c[2], c[3]);
        EXPECT_TRUE(onlyBoxIs(c[0], c[1], c[2], c[3], 0x03, 0x00));
    }
}

TEST_F(Fills, FillRectClipsAndIgnoresInvertedRectangles) {
    GUI_SetColor(0xFFFFFFFF);
    GUI_SetClipRect(10, 20, 30, 40);
    GUI_FillRect(-100, -100, 1000, 1000);
    GUI_FillRect(31, 20, 40, 40);   // entirely right of the clip
    GUI_FillRect(20, 30, 10, 35);   // inverted
    EXPECT_TRUE(onlyBoxIs(10, 20, 30, 40, 0xFF, 0x00));
}

TEST_F(Fills, FillsGoToTheRedirectedBufferWithItsWholeClip) {
    alignas(4) static uint8_t other[100 * 50];
    memset(other, 0, sizeof other);
    GUI_SetColor(0xFFFFFFFF);
    GUI_SetClipRect(5, 5, 10, 10);
    GUI_SetFrameBufferBase(other, 100, 50);
    GUI_FillRect(0, 0, 1000, 1000);
    GUI_RestoreFrameBufferBase();
    for (uint8_t b : other) ASSERT_EQ(b, 0xFF);
    EXPECT_TRUE(onlyBoxIs(0, 0, -1, -1, 0, 0));
    // Back on the screen, with the whole screen as the clip.
    EXPECT_EQ(GUI_Context.device.vram, fb);
    GUI_FillRect(0, 0, 1000, 1000);
    EXPECT_TRUE(onlyBoxIs(0, 0, 639, 399, 0xFF, 0));
}
