// The draw text and draw logo commands end to end: alignment arithmetic,
// lines off screen, the reports of bad commands, and the composition of the
// logo screens.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cache/commandHandlerCache.h"
#include "cache/flash.h"
#include "codecs/GUI_PNG.h"
#include "commands/commandHandlerDraw.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Common.h"
#include "gui/GUI_Font.h"
#include "host/bytes.h"
#include "resources/logo_images.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/sif_builder.h"

using guitest::frameIs;
using guitest::painted;
using nimbra::Bytes;
using Screen = std::vector<uint8_t>;

namespace {

constexpr uint8_t kTestSlot = 5;

Bytes drawText(uint8_t slot, int32_t xh, int32_t yh, uint8_t alignment, const std::string &text) {
    nimbra::CommandBuilder b;
    b.u8(0x08).u8(slot).pair(xh, yh).u8(alignment).u8((uint8_t)text.size()).text(text);
    return b.payload();
}

Bytes drawLogo(uint8_t kind, int16_t dx, int16_t dy, const std::string &caption) {
    nimbra::CommandBuilder b;
    b.u8(0x07).u8(kind).u16le((uint16_t)dx).u16le((uint16_t)dy).u8((uint8_t)caption.size()).text(caption);
    return b.payload();
}

// A black screen with white blocks (inclusive corners, cut by the screen).
Screen blocks(std::initializer_list<guitest::Box> boxes) {
    Screen s(FB_SIZE_BYTES, 0);
    for (const auto &b : boxes)
        for (int y = std::max(b.y0, 0); y <= std::min(b.y1, SCREEN_HEIGHT - 1); y++)
            for (int x = std::max(b.x0, 0); x <= std::min(b.x1, SCREEN_WIDTH - 1); x++)
                s[(size_t)y * SCREEN_WIDTH + x] = 0xFF;
    return s;
}

Bytes malformed(uint8_t op, uint8_t code = 0x01) { return {0x04, op, code, 0x00}; }

}  // namespace

class TextCommand : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        // Solid glyphs with hand-picked metrics, line distance 12. 'D' lies
        // below the line box, 'E' above it, 'F' left of the pen.
        font_ = testsupport::SifBuilder(10, 12, 2)
                    .solid('A', 4, 6, 1, 2, 6, 3)
                    .solid('B', 2, 3, 0, 0, 3, 3)
                    .solid('D', 1, 1, 0, 13, 1, 3)
                    .solid('E', 1, 1, 0, -5, 1, 3)
                    .solid('F', 1, 1, -10, 0, 1, 3)
                    .build();
        uint8_t *slot = FLASH_Address(fontSlotOffset(kTestSlot));
        writeCacheRecord(slot, CacheRecord{CACHE_RECORD_MAGIC, 0x5EED, (uint16_t)font_.size(), 1, 2, 0, 0});
        memcpy(slot + CACHE_RECORD_BYTES, font_.data(), font_.size());
        initCache();
        GUI_SetColor(0xFFFFFFFF);
    }
    // Runs a command on a black screen.
    void draw(const Bytes &command) {
        memset(fb, 0, sizeof fb);
        EXPECT_EQ(CMD_drawText(command.data(), (uint32_t)command.size()), (int32_t)command.size());
    }
    std::vector<uint8_t> font_;
};

TEST_F(TextCommand, LeftCentreAndRightAlignment) {
    // "AB" is 9 pixels wide: 'A' (6) then 'B' (3). 'A' covers columns 1 to 4
    // of its cell and rows 2 to 7 of the line; 'B' columns 0 to 1, rows 0 to 2.
    struct Case {
        int32_t xh, yh;
        uint8_t alignment;
        int left, top;
    } cases[] = {
        {200, 100, 0, 100, 50}, {200, 100, 1, 95, 50},   // (400 - 18 + 1) >> 2
        {201, 101, 1, 96, 51},                           // (402 - 18 + 1) >> 2; y rounds half up
        {200, 100, 2, 90, 50},                           // ends one pixel left of x = 100
        {-2, 100, 1, -6, 50},                            // (-4 - 18 + 1) >> 2 rounds down
        {-2, 100, 0, -1, 50},
    };
    for (const auto &c : cases) {
        draw(drawText(kTestSlot, c.xh, c.yh, c.alignment, "AB"));
        const int l = c.left, t = c.top;
        EXPECT_TRUE(frameIs(blocks({{l + 1, t + 2, l + 4, t + 7}, {l + 6, t, l + 7, t + 2}})))
            << "xh " << c.xh << " alignment " << (int)c.alignment;
    }
    // A sequence cut at the end of the payload: what came before is drawn.
    draw(drawText(kTestSlot, 200, 100, 0, "A\xE2\x82"));
    EXPECT_TRUE(frameIs(blocks({{101, 52, 104, 57}})));
}

TEST_F(TextCommand, LinesWhollyOffScreenAreSkipped) {
    struct Case {
        const char *text;
        int32_t xh, yh;
        int x, y;   // the pixel drawn, x < 0 when the line is skipped
    } cases[] = {
        {"D", 0, -24, -1, 0},                            // y + 12 = 0: skipped, though 'D' would show
        {"D", 0, -22, 0, 2},    {"F", 1282, 0, -1, 0},   // left edge 641
        {"F", 1280, 0, 630, 0}, {"E", 0, 802, -1, 0},    // top 401
        {"E", 0, 800, 0, 395},
    };
    for (const auto &c : cases) {
        draw(drawText(kTestSlot, c.xh, c.yh, 0, c.text));
        EXPECT_TRUE(frameIs(c.x < 0 ? blocks({}) : blocks({{c.x, c.y, c.x, c.y}})))
            << c.text << " at " << c.xh << ", " << c.yh;
    }
}

TEST_F(TextCommand, BuiltInFontsPlaceTheGlyphByItsMetrics) {
    for (uint8_t slot = 0; slot < 3; slot++) {
        const GUI_FONT *font = getFontSlot(slot);
        ASSERT_NE(font, nullptr);
        GUI_GlyphRef H = GUI_SIF_GetCharInfo(font, 'H');
        const int w = rd16le(H + SIF_GLYPH_WIDTH), h = rd16le(H + SIF_GLYPH_HEIGHT);
        const int x0 = ((1200 - 2 * rd16le(H + SIF_GLYPH_ADVANCE) + 1) >> 2) + (int16_t)rd16le(H + SIF_GLYPH_XOFFSET);
        const int y0 = 100 + (int16_t)rd16le(H + SIF_GLYPH_YOFFSET);
        // Centred; 'H' has ink in the outer rows and columns of its box at
        // 2 bits, so the drawn box is exactly the glyph's box.
        draw(drawText(slot, 600, 200, 1, "H"));
        EXPECT_EQ(painted(0), (guitest::Box{x0, y0, x0 + w - 1, y0 + h - 1})) << (int)slot;
        EXPECT_EQ(GUI_GetFont(), font);   // the font stays selected
    }
}

TEST_F(TextCommand, MalformedCommandsAndUnloadedFontsAreReported) {
    struct Case {
        const char *what;
        Bytes command;
        int32_t result;
    } cases[] = {
        {"seven bytes", {0x08, kTestSlot, 0, 0, 0, 0, 1}, -1},
        {"no text", drawText(kTestSlot, 0, 0, 0, ""), -1},
        {"text cut short", Bytes{0x08, kTestSlot, 0, 0, 0, 0, 5, 'A', 'B', 'A'}, -1},
        {"129 bytes", drawText(kTestSlot, 0, 0, 0, std::string(129, 'A')), -1},
        {"alignment 3", drawText(kTestSlot, 0, 0, 3, "AB"), 9},
        {"128 bytes", drawText(kTestSlot, 0, 0, 0, std::string(128, 'B')), 135},
    };
    for (const auto &c : cases) {
        testsupport::clearCaptures();
        EXPECT_EQ(CMD_drawText(c.command.data(), (uint32_t)c.command.size()), c.result) << c.what;
        auto expected = c.result == 135 ? std::vector<Bytes>{} : std::vector<Bytes>{malformed(0x08)};
        EXPECT_EQ(testsupport::packets(), expected) << c.what;
    }
    // Slots without a font are reported and consumed: the next command runs.
    for (uint8_t slot : {3, 14, 15, 255}) {
        testsupport::clearCaptures();
        Bytes payload = drawText(slot, 0, 0, 0, "AB"), after = drawText(kTestSlot, 200, 100, 0, "A");
        payload.insert(payload.end(), after.begin(), after.end());
        memset(fb, 0, sizeof fb);
        EXPECT_EQ(testsupport::run(payload), 0) << (int)slot;
        EXPECT_EQ(testsupport::packets(), std::vector<Bytes>{malformed(0x08, 0x02)});
        EXPECT_EQ(fb[52 * SCREEN_WIDTH + 101], 0xFF) << "the next command ran";
    }
    // A font erased with the cache command is gone for the text command.
    testsupport::run(Bytes{0x16, 0x12, kTestSlot});
    testsupport::clearCaptures();
    testsupport::run(drawText(kTestSlot, 0, 0, 0, "AB"));
    EXPECT_EQ(testsupport::packets(), std::vector<Bytes>{malformed(0x08, 0x02)});
}

// ------------------------------------------------------------------ logos

namespace {

struct LogoLayout {
    const uint8_t *image = nullptr;
    uint32_t imageSize = 0;
    int imageX = 0, imageY = 0;
    int captionLeft = 0, captionTop = 0;   // used when there is a caption
    bool battery = false;
    int batteryX = 0, batteryY = 0;
};

// Width of a line in the big built-in font; prepares `refs` for drawing it.
int captionWidth(const std::string &caption, GUI_GlyphRef *refs = nullptr, int32_t *count = nullptr) {
    GUI_GlyphRef scratch[128];
    GUI_SetFont(getFontSlot(2));
    int32_t w, h;
    int32_t n =
        GUI_PrapareLine((const uint8_t *)caption.data(), (uint32_t)caption.size(), &w, &h, refs ? refs : scratch);
    if (count) *count = n;
    return w;
}

// The screen a logo must show, composed from the parts at positions the
// test states outright.
Screen composeLogo(const LogoLayout &l, const std::string &caption) {
    memset(fb, 0, sizeof fb);
    GUI_SetClipRect(0, 0, 639, 399);
    if (l.image) {
        EXPECT_EQ(GUI_PNG_Draw(l.image, l.imageSize, l.imageX, l.imageY), PNG_OK);
    }
    if (!caption.empty()) {
        GUI_SetColor(0xFFFFFFFF);
        GUI_GlyphRef refs[128];
        int32_t n;
        captionWidth(caption, refs, &n);
        GUI_DispPraparedLine(n, refs, l.captionLeft, l.captionTop);
    }
    if (l.battery) {
        EXPECT_EQ(GUI_PNG_Draw(BATTERY_LOW_PNG, BATTERY_LOW_PNG_size, l.batteryX, l.batteryY), PNG_OK);
    }
    return Screen(fb, fb + FB_SIZE_BYTES);
}

Screen indices(const nimbra::Frame &f) {
    Screen s(FB_SIZE_BYTES);
    for (int y = 0; y < SCREEN_HEIGHT; y++)
        for (int x = 0; x < SCREEN_WIDTH; x++) s[(size_t)y * SCREEN_WIDTH + x] = f.indexAt(x, y);
    return s;
}

}  // namespace

class LogoCommand : public DeviceTest {
protected:
    // Runs one logo command and returns the single frame it showed.
    Screen show(const Bytes &command) {
        testsupport::clearCaptures();
        EXPECT_EQ(CMD_drawLogo(command.data(), (uint32_t)command.size()), (int32_t)command.size());
        auto frames = testsupport::frames();
        EXPECT_EQ(frames.size(), 1u);
        EXPECT_TRUE(testsupport::packets().empty());
        return frames.empty() ? Screen(FB_SIZE_BYTES, 0) : indices(frames[0]);
    }
};

TEST(LogoBoot, FirstFrameOfEveryRunIsTheBootLogoWithTheName) {
    testsupport::resetDevice(true);
    auto frames = testsupport::frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(testsupport::packets().empty());
    // Emblem centred on (320, 150); the name 10 pixels under it, its line
    // box top half a line (43 / 2) further down.
    LogoLayout l{boot_logo_png, boot_logo_png_size, 244, 102, 320 - captionWidth("OR-SIM") / 2, 150 + 48 + 10 + 21};
    EXPECT_TRUE(frameIs(composeLogo(l, "OR-SIM"), indices(frames[0]).data()));
}

TEST_F(LogoCommand, EachKindPlacesItsImageAndCaption) {
    const std::string caption = "Hello";
    const int half = captionWidth(caption) / 2;
    struct Case {
        uint8_t kind;
        int16_t dx, dy;
        LogoLayout layout;
        int imageBottom;   // where the caption's 10-pixel gap starts
    } cases[] = {
        {1, -40, 25, {boot_logo_png, boot_logo_png_size, 204, 127}, 223},
        {3, 0, 0, {shutdown_image_png, shutdown_image_png_size, 271, 98}, 202},
        {4, 7, -9, {pair_image_png, pair_image_png_size, 272, 86}, 196},
        {4, -300, 0, {pair_image_png, pair_image_png_size, -35, 95}, 205},   // cut by the left edge
        {6, 3, 4, {}, 154},                                                  // kinds without an image
        {200, 0, 0, {}, 150},
    };
    for (auto c : cases) {
        Screen shown = show(drawLogo(c.kind, c.dx, c.dy, caption));
        c.layout.captionLeft = 320 + c.dx - half;
        c.layout.captionTop = c.imageBottom + 10 + 21;
        EXPECT_TRUE(frameIs(composeLogo(c.layout, caption), shown.data())) << "kind " << (int)c.kind;
    }
}

TEST_F(LogoCommand, LowBatteryMarkGoesUnderTheCaption) {
    LogoLayout l{boot_logo_png, boot_logo_png_size, 244, 102, 0, 0, true, 294, 198};
    EXPECT_TRUE(frameIs(composeLogo(l, ""), show(drawLogo(5, 0, 0, "")).data()));
    // With a caption the mark moves down by the gap and two line heights.
    l.captionLeft = 320 - captionWidth("Low") / 2;
    l.captionTop = 198 + 10 + 21;
    l.batteryY = 198 + 10 + 86;
    EXPECT_TRUE(frameIs(composeLogo(l, "Low"), show(drawLogo(5, 0, 0, "Low")).data()));
}

TEST_F(LogoCommand, ClearsTheWholeScreenAndLeavesWhiteAndTheBigFont) {
    GUI_SetClipRect(10, 10, 20, 20);
    GUI_SetColor(0xFFFF0000);
    memset(fb, 0x1C, sizeof fb);
    Screen shown = show(drawLogo(2, 0, 0, "x"));
    EXPECT_EQ(shown[0], 0x00);
    EXPECT_EQ(shown[FB_SIZE_BYTES - 1], 0x00);
    EXPECT_TRUE(GUI_Context.clipX0 == 0 && GUI_Context.clipX1 == 639 && GUI_Context.clipY1 == 399);
    EXPECT_EQ(GUI_GetColor(), 0xFFFFFFFFu);
    EXPECT_EQ(GUI_GetFont(), getFontSlot(2));
    // Without a caption the colour set before stays.
    GUI_SetColor(0xFFFF0000);
    show(drawLogo(2, 0, 0, ""));
    EXPECT_EQ(GUI_GetColor(), 0xFFFF0000u);
}

TEST_F(LogoCommand, BadLengthsStopWithoutAFrame) {
    struct Case {
        const char *what;
        Bytes command;
        bool reported;
    } cases[] = {
        {"six bytes", {0x07, 0x01, 0, 0, 0, 0}, true},
        {"caption of 129", drawLogo(2, 0, 0, std::string(129, 'a')), false},
        {"caption cut short", Bytes{0x07, 0x02, 0, 0, 0, 0, 4, 'a', 'b'}, false},
    };
    for (const auto &c : cases) {
        testsupport::clearCaptures();
        EXPECT_EQ(CMD_drawLogo(c.command.data(), (uint32_t)c.command.size()), -1) << c.what;
        EXPECT_TRUE(testsupport::frames().empty()) << c.what;
        EXPECT_EQ(testsupport::packets(), c.reported ? std::vector<Bytes>{malformed(0x07)} : std::vector<Bytes>{})
            << c.what;
    }
}
