// The graphics context's setters and their defaults.
#include <gtest/gtest.h>

#include "gui/GUI_AALib.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Common.h"
#include "tests/support/device_fixture.h"

class Context : public BareDeviceTest {};

TEST_F(Context, DefaultsAfterInit) {
    EXPECT_EQ(pDevice, &GUI_Context.device);
    EXPECT_EQ(GUI_Context.device.vram, fb);
    EXPECT_EQ(GUI_Context.clipX1, 639);
    EXPECT_EQ(GUI_Context.clipY1, 399);
    EXPECT_EQ(GUI_Context.subClipX1, 2559);
    EXPECT_EQ(GUI_Context.subClipY1, 1599);
    EXPECT_EQ(GUI_GetPenSize(), 4u);
    EXPECT_EQ(GUI_GetPenShape(), 1);
    EXPECT_EQ(GUI_GetLineStyle(), 0);
    EXPECT_EQ(GUI_GetColor(), 0xFFFFFFFFu);
    EXPECT_EQ(GUI_GetFont(), nullptr);
}

TEST_F(Context, ClipIsClampedToTheScreenOnly) {
    GUI_SetClipRect(-5, -5, 700, 500);
    EXPECT_EQ(GUI_Context.clipX0, 0);
    EXPECT_EQ(GUI_Context.clipY0, 0);
    EXPECT_EQ(GUI_Context.clipX1, 639);
    EXPECT_EQ(GUI_Context.clipY1, 399);
    EXPECT_EQ(GUI_Context.subClipX1, 2559);
    GUI_SetClipRect(10, 20, 9, 20);
    EXPECT_EQ(GUI_Context.clipX0, 10);
    EXPECT_EQ(GUI_Context.clipX1, 9);
    EXPECT_EQ(GUI_Context.subClipX0, 40);
    EXPECT_EQ(GUI_Context.subClipY1, 83);
}

TEST_F(Context, ColourReadsBackQuantised) {
    GUI_SetColor(0xFF123456);
    EXPECT_EQ(GUI_Context.colorIndex, 0x05);
    EXPECT_EQ(GUI_GetColor(), 0xFF002555u);
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

TEST_F(Context, RedirectionSetsAndRestoresWholeBufferClips) {
    static uint8_t other[100 * 50];
    GUI_SetClipRect(5, 5, 10, 10);
    GUI_SetFrameBufferBase(other, 100, 50);
    EXPECT_EQ(GUI_Context.clipX1, 99);
    EXPECT_EQ(GUI_Context.clipY1, 49);
    EXPECT_EQ(GUI_Context.device.vram, other);
    GUI_RestoreFrameBufferBase();
    EXPECT_EQ(GUI_Context.device.vram, fb);
    EXPECT_EQ(GUI_Context.clipX0, 0);
    EXPECT_EQ(GUI_Context.clipX1, 639);
    EXPECT_EQ(GUI_Context.clipY1, 399);
}
