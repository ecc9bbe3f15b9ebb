// The graphics context's setters and their defaults.
#include <gtest/gtest.h>

#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Common.h"
#include "tests/support/device_fixture.h"

class Context : public BareDeviceTest {};

TEST_F(Context, DefaultsAfterInit) {
    EXPECT_EQ(pDevice, &GUI_Context.device);
    EXPECT_EQ(GUI_Context.device.vram, fb);
    EXPECT_TRUE(GUI_Context.clipX1 == 639 && GUI_Context.clipY1 == 399);
    EXPECT_TRUE(GUI_Context.subClipX1 == 2559 && GUI_Context.subClipY1 == 1599);
    EXPECT_EQ(GUI_GetPenSize(), 4u);
    EXPECT_EQ(GUI_GetPenShape(), 1);
    EXPECT_EQ(GUI_GetLineStyle(), 0);
    EXPECT_EQ(GUI_GetColor(), 0xFFFFFFFFu);
    EXPECT_EQ(GUI_GetFont(), nullptr);
}

TEST_F(Context, ClipIsClampedToTheScreenOnly) {
    GUI_SetClipRect(-5, -5, 700, 500);
    EXPECT_TRUE(GUI_Context.clipX0 == 0 && GUI_Context.clipY0 == 0 && GUI_Context.clipX1 == 639 &&
                GUI_Context.clipY1 == 399);
    EXPECT_EQ(GUI_Context.subClipX1, 2559);
    // An empty clip is kept as it is, in pixels and quarter pixels.
    GUI_SetClipRect(10, 20, 9, 20);
    EXPECT_TRUE(GUI_Context.clipX0 == 10 && GUI_Context.clipX1 == 9);
    EXPECT_TRUE(GUI_Context.subClipX0 == 40 && GUI_Context.subClipY1 == 83);
}

TEST_F(Context, ColourKeepsItsAlphaAndReadsBackQuantised) {
    GUI_SetColor(0x80808080);
    EXPECT_EQ(GUI_Context.colorIndex, 0x92);
    EXPECT_EQ(GUI_GetColor(), 0x809292AAu);
}

TEST_F(Context, NullFontKeepsThePreviousOne) {
    GUI_FONT font{22, 24, 2, nullptr, 0};
    GUI_SetFont(&font);
    GUI_SetFont(nullptr);
    EXPECT_EQ(GUI_GetFont(), &font);
    EXPECT_EQ(GUI_GetFontSizeY(), 22);
}
