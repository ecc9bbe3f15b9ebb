// The built-in fonts: the header values the device's own fonts have, so that
// a host that measures its text against the device's fonts places it on the
// simulator where the device would.
#include <gtest/gtest.h>

#include "cache/commandHandlerCache.h"
#include "gui/GUI_Common.h"
#include "gui/GUI_Font.h"
#include "host/bytes.h"
#include "resources/builtin_fonts.h"
#include "tests/support/device_fixture.h"

namespace {

struct BuiltInFont {
    const char *name;
    const uint8_t *data;
    uint32_t size;
    int height, lineDistance, baseline, lowerHeight, capitalHeight;
};

const BuiltInFont kFonts[] = {
    {"small", SAIRA_REGULAR_TTF_22X23_2BPP_SMALL_SIF, SAIRA_REGULAR_TTF_22X23_2BPP_SMALL_SIF_size, 22, 22, 17, 12, 16},
    {"medium", SAIRA_REGULAR_TTF_34X37_2BPP_MED_SIF, SAIRA_REGULAR_TTF_34X37_2BPP_MED_SIF_size, 34, 34, 27, 19, 25},
    {"big", SAIRA_REGULAR_TTF_43X44_2BPP_BIG_SIF, SAIRA_REGULAR_TTF_43X44_2BPP_BIG_SIF_size, 43, 43, 34, 23, 31},
};

}  // namespace

class BuiltInFonts : public DeviceTest {};

TEST_F(BuiltInFonts, HeadersRangeAndSlotsAtStartUp) {
    for (int slot = 0; slot < 3; slot++) {
        const BuiltInFont &f = kFonts[slot];
        // Height, line distance, baseline, lower-case and capital heights,
        // one range: 0x20 to 0x7E, whose 95 glyph entries end at 1540.
        const int header[] = {f.height, f.lineDistance, f.baseline, f.lowerHeight, f.capitalHeight, 1, 0x20, 0x7E};
        ASSERT_GT(f.size, 1540u) << f.name;
        EXPECT_EQ(rd32le(f.data), SIF_MAGIC) << f.name;
        for (int i = 0; i < 8; i++) EXPECT_EQ(rd16le(f.data + 4 + 2 * i), header[i]) << f.name << " field " << i;
        EXPECT_EQ(rd32le(f.data + 20 + SIF_GLYPH_DATA_OFFSET), 1540u) << f.name << ": the space's data";

        const GUI_FONT *font = getFontSlot((uint8_t)slot);
        ASSERT_NE(font, nullptr) << f.name;
        EXPECT_TRUE(font->data == f.data && font->dataSize == f.size) << f.name;
        EXPECT_EQ(font->height, f.height) << f.name;
        EXPECT_EQ(font->lineDistance, f.lineDistance) << f.name;
        EXPECT_EQ(font->bitsPerPixel, 2) << f.name;
    }
    EXPECT_EQ(kFonts[0].size, 5710u) << "the small font's file has the device's size";
}
