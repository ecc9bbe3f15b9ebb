// The built-in pictures: the sizes and kinds the logo screens place them by,
// the ORV marker where the device expects it, and a clean, complete decode.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "codecs/GUI_PNG.h"
#include "codecs/png.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Alloc.h"
#include "host/bytes.h"
#include "resources/logo_images.h"
#include "tests/support/device_fixture.h"

namespace {

uint32_t g_rows = 0;
int _CountRow(PNG_Context *, const uint8_t *, uint32_t, int32_t, int32_t) {
    g_rows++;
    return 0;
}

class LogoImages : public BareDeviceTest {};

// Each picture shows its emblem on black: drawn at (10, 20) it fills its own
// rectangle only, uses black around the edges and a few colours inside.
TEST_F(LogoImages, HeadersDecodingAndDrawing) {
    struct BuiltIn {
        const char *name;
        const uint8_t *data;
        uint32_t size, width, height;
        uint8_t depth, colorType;
    } images[] = {
        {"boot_logo_png", boot_logo_png, boot_logo_png_size, 152, 96, 4, 3},
        {"pair_image_png", pair_image_png, pair_image_png_size, 110, 110, 4, 3},
        {"shutdown_image_png", shutdown_image_png, shutdown_image_png_size, 99, 104, 4, 3},
        {"BATTERY_LOW_PNG", BATTERY_LOW_PNG, BATTERY_LOW_PNG_size, 53, 24, 8, 0},
    };
    for (const BuiltIn &img : images) {
        SCOPED_TRACE(img.name);
        uint32_t w = 0, h = 0;
        uint8_t alpha = 9;
        ASSERT_EQ(GUI_PNG_GetSize(img.data, img.size, &w, &h, &alpha), 0);
        EXPECT_EQ(w, img.width);
        EXPECT_EQ(h, img.height);
        EXPECT_EQ(alpha, 0);
        EXPECT_EQ(img.data[24], img.depth);
        EXPECT_EQ(img.data[25], img.colorType);
        // The marker follows the header directly, empty, so that it comes
        // before the palette.
        EXPECT_EQ(rd32be(img.data + 33), 0u);
        EXPECT_EQ(memcmp(img.data + 37, "orVL", 4), 0);

        uint32_t mark = GUI_AllocStart();
        PNG_Context *ctx = PNG_AllocContext();
        ASSERT_NE(ctx, nullptr);
        ASSERT_EQ(PNG_open(ctx, img.data, img.size), PNG_OK);
        g_rows = 0;
        EXPECT_EQ(PNG_decode(ctx, 0, 0, _CountRow), PNG_OK);
        EXPECT_EQ(g_rows, img.height);
        EXPECT_EQ(ctx->orvFormat, 1);
        GUI_AllocEnd(mark);

        memset(fb, 0x55, sizeof fb);
        ASSERT_EQ(GUI_PNG_Draw(img.data, img.size, 10, 20), 0);
        std::set<uint8_t> colours;
        for (uint32_t y = 0; y < 400; y++) {
            for (uint32_t x = 0; x < 640; x++) {
                bool inside = x >= 10 && x < 10 + img.width && y >= 20 && y < 20 + img.height;
                uint8_t v = fb[y * 640 + x];
                if (inside) {
                    colours.insert(v);
                } else {
                    ASSERT_EQ(v, 0x55) << "drew outside at " << x << "," << y;
                }
            }
        }
        EXPECT_EQ(fb[20 * 640 + 10], 0x00);  // top-left corner is background
        EXPECT_TRUE(colours.count(0x00));
        EXPECT_GE(colours.size(), 4u);
        EXPECT_LE(colours.size(), img.colorType == 3 ? 16u : 256u);
    }
}

}  // namespace
