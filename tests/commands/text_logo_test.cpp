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
#include "tests/support/device_fixture.h"
#include "tests/support/sif_builder.h"

using nimbra::Bytes;
using testsupport::SifBuilder;

namespace {

constexpr uint8_t kTestSlot = 5;

// Solid glyphs with hand-picked metrics. Line distance 12.
std::vector<uint8_t> testFont() {
    SifBuilder b(10, 12, 2);
    b.solid('A', 4, 6, 1, 2, 6, 3);
    b.solid('B', 2, 3, 0, 0, 3, 3);
    b.solid('D', 1, 1, 0, 13, 1, 3);    // below the line box
    b.solid('E', 1, 1, 0, -5, 1, 3);    // above it
    b.solid('F', 1, 1, -10, 0, 1, 3);   // left of the pen
    return b.build();
}

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

using Screen = std::vector<uint8_t>;

void fill(Screen &s, int x0, int y0, int x1, int y1, uint8_t v = 0xFF) {
    for (int y = y0; y <= y1; y++)
        for (int x = x0; x <= x1; x++)
            if (x >= 0 && x < SCREEN_WIDTH && y >= 0 && y < SCREEN_HEIGHT) s[(size_t)y * SCREEN_WIDTH + x] = v;
}

::testing::AssertionResult sameAs(const uint8_t *actual, const Screen &expected) {
    for (int i = 0; i < (int)FB_SIZE_BYTES; i++) {
        if (actual[i] != expected[i]) {
            int x = i % SCREEN_WIDTH, y = i / SCREEN_WIDTH;
            return ::testing::AssertionFailure() << "first difference at (" << x << ", " << y << "): got "
                                                 << (int)actual[i] << ", expected " << (int)expected[i];
        }
    }
    return ::testing::AssertionSuccess();
}

Screen frameIndices(const nimbra::Frame &f) {
    Screen s(FB_SIZE_BYTES);
    for (int y = 0; y < SCREEN_HEIGHT; y++)
        for (int x = 0; x < SCREEN_WIDTH; x++) s[(size_t)y * SCREEN_WIDTH + x] = f.indexAt(x, y);
    return s;
}

}  // namespace

class TextCommand : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        font_ = testFont();
        CacheRecord r{CACHE_RECORD_MAGIC, 0x5EED, (uint16_t)font_.size(), 1, 2, 0, 0};
        uint8_t *slot = FLASH_Address(fontSlotOffset(kTestSlot));
        writeCacheRecord(slot, r);
        memcpy(slot + CACHE_RECORD_BYTES, font_.data(), font_.size());
        initCache();
        GUI_SetColor(0xFFFFFFFF);
        memset(fb, 0, sizeof fb);
    }
    // Runs a command on a black screen and returns what it left there.
    void draw(const Bytes &command) {
        memset(fb, 0, sizeof fb);
        EXPECT_EQ(CMD_drawText(command.data(), (uint32_t)command.size()), (int32_t)command.size());
    }
    Screen blank() const { return Screen(FB_SIZE_BYTES, 0); }
    std::vector<uint8_t> font_;
};

// "AB" is 9 pixels wide: 'A' (6) then 'B' (3). 'A' covers columns 1 to 4
// of its cell and rows 2 to 7 of the line; 'B' columns 0 to 1, rows 0 to 2.
TEST_F(TextCommand, LeftCentreAndRightAlignment) {
    struct Case {
        int32_t xh, yh;
        uint8_t alignment;
        int left, top;
    } cases[] = {
        {200, 100, 0, 100, 50},
        {200, 100, 1, 95, 50},    // (400 - 18 + 1) >> 2
        {201, 101, 1, 96, 51},    // (402 - 18 + 1) >> 2; y rounds half up
        {200, 100, 2, 90, 50},    // ends one pixel left of x = 100
        {-2, 100, 1, -6, 50},     // (-4 - 18 + 1) >> 2 rounds down
        {-2, 100, 0, -1, 50},
    };
    for (const auto &c : cases) {
        draw(drawText(kTestSlot, c.xh, c.yh, c.alignment, "AB"));
        Screen expected = blank();
        fill(expected, c.left + 1, c.top + 2, c.left + 4, c.top + 7);
        fill(expected, c.left + 6, c.top, c.left + 7, c.top + 2);
        EXPECT_TRUE(sameAs(fb, expected)) << "xh " << c.xh << " alignment " << (int)c.alignment;
    }
}

TEST_F(TextCommand, LinesWhollyOffScreenAreSkipped) {
    struct Case {
        const char *text;
        int32_t xh, yh;
        bool drawn;
        int x, y;
    } cases[] = {
        {"D", 0, -24, false, 0, 0},      // y + 12 = 0: skipped, though 'D' would show
        {"D", 0, -22, true, 0, 2},
        {"F", 1282, 0, false, 0, 0},     // left edge 641
        {"F", 1280, 0, true, 630, 0},
        {"E", 0, 802, false, 0, 0},      // top 401
        {"E", 0, 800, true, 0, 395},
    };
    for (const auto &c : cases) {
        draw(drawText(kTestSlot, c.xh, c.yh, 0, c.text));
        Screen expected = blank();
        if (c.drawn) fill(expected, c.x, c.y, c.x, c.y);
        EXPECT_TRUE(sameAs(fb, expected)) << c.text << " at " << c.xh << ", " << c.yh;
    }
}

TEST_F(TextCommand, BuiltInFontsPlaceTheGlyphByItsMetrics) {
    for (uint8_t slot = 0; slot < 3; slot++) {
        const GUI_FONT *font = getFontSlot(slot);
        ASSERT_NE(font, nullptr);
        GUI_GlyphRef H = GUI_SIF_GetCharInfo(font, 'H');
        const int w = rd16le(H + SIF_GLYPH_WIDTH), h = rd16le(H + SIF_GLYPH_HEIGHT);
        const int xo = (int16_t)rd16le(H + SIF_GLYPH_XOFFSET), yo = (int16_t)rd16le(H + SIF_GLYPH_YOFFSET);
        const int advance = rd16le(H + SIF_GLYPH_ADVANCE);
        const int lefts[3] = {300, (1200 - 2 * advance + 1) >> 2, 300 - advance - 1};
        for (uint8_t alignment = 0; alignment < 3; alignment++) {
            draw(drawText(slot, 600, 200, alignment, "H"));
            // The generator crops every glyph to its ink, so the drawn box is
            // exactly the glyph's box.
            int minX = 9999, maxX = -1, minY = 9999, maxY = -1;
            for (int y = 0; y < SCREEN_HEIGHT; y++)
                for (int x = 0; x < SCREEN_WIDTH; x++)
                    if (fb[y * SCREEN_WIDTH + x]) {
                        minX = std::min(minX, x), maxX = std::max(maxX, x);
                        minY = std::min(minY, y), maxY = std::max(maxY, y);
                    }
            const int left = lefts[alignment];
            EXPECT_EQ(minX, left + xo) << (int)slot << "/" << (int)alignment;
            EXPECT_EQ(maxX, left + xo + w - 1) << (int)slot << "/" << (int)alignment;
            EXPECT_EQ(minY, 100 + yo) << (int)slot;
            EXPECT_EQ(maxY, 100 + yo + h - 1) << (int)slot;
        }
        EXPECT_EQ(GUI_GetFont(), font);   // the font stays selected
    }
}

TEST_F(TextCommand, SequenceCutAtTheEndOfThePayloadDrawsWhatCameBefore) {
    Bytes command = drawText(kTestSlot, 200, 100, 0, "A\xE2\x82");
    draw(command);
    Screen expected = blank();
    fill(expected, 101, 52, 104, 57);
    EXPECT_TRUE(sameAs(fb, expected));
}

TEST_F(TextCommand, MalformedCommandsAreReported) {
    const Bytes malformed{0x04, 0x08, 0x01, 0x00};
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
    };
    for (const auto &c : cases) {
        testsupport::clearCaptures();
        EXPECT_EQ(CMD_drawText(c.command.data(), (uint32_t)c.command.size()), c.result) << c.what;
        auto replies = testsupport::packets();
        ASSERT_EQ(replies.size(), 1u) << c.what;
        EXPECT_EQ(replies[0], malformed) << c.what;
    }
    // The longest text, 128 bytes, is accepted.
    testsupport::clearCaptures();
    Bytes longest = drawText(kTestSlot, 0, 0, 0, std::string(128, 'B'));
    EXPECT_EQ(CMD_drawText(longest.data(), (uint32_t)longest.size()), 135);
    EXPECT_TRUE(testsupport::packets().empty());
}

TEST_F(TextCommand, UnloadedFontSlotsAreReportedAndConsumed) {
    for (uint8_t slot : {3, 14, 15, 255}) {
        testsupport::clearCaptures();
        Bytes payload = drawText(slot, 0, 0, 0, "AB");
        Bytes after = drawText(kTestSlot, 200, 100, 0, "A");
        payload.insert(payload.end(), after.begin(), after.end());
        memset(fb, 0, sizeof fb);
        EXPECT_EQ(testsupport::run(payload), 0) << (int)slot;
        auto replies = testsupport::packets();
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0], (Bytes{0x04, 0x08, 0x02, 0x00}));
        EXPECT_EQ(fb[52 * SCREEN_WIDTH + 101], 0xFF) << "the next command ran";
    }
    // A font erased with the cache command is gone for the text command.
    testsupport::clearCaptures();
    testsupport::run(Bytes{0x16, 0x12, kTestSlot});
    testsupport::run(drawText(kTestSlot, 0, 0, 0, "AB"));
    auto replies = testsupport::packets();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1], (Bytes{0x04, 0x08, 0x02, 0x00}));
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

// The screen a logo must show, composed from the parts at positions the
// test states outright.
Screen composeLogo(const LogoLayout &l, const std::string &caption) {
    memset(fb, 0, sizeof fb);
    GUI_SetClipRect(0, 0, 639, 399);
    if (l.image) GUI_PNG_Draw(l.image, l.imageSize, l.imageX, l.imageY);
    if (!caption.empty()) {
        GUI_SetColor(0xFFFFFFFF);
        GUI_SetFont(getFontSlot(2));
        GUI_GlyphRef refs[128];
        int32_t w, h;
        int32_t n = GUI_PrapareLine((const uint8_t *)caption.data(), (uint32_t)caption.size(), &w, &h, refs);
        GUI_DispPraparedLine(n, refs, l.captionLeft, l.captionTop);
    }
    if (l.battery) GUI_PNG_Draw(BATTERY_LOW_PNG, BATTERY_LOW_PNG_size, l.batteryX, l.batteryY);
    return Screen(fb, fb + FB_SIZE_BYTES);
}

// Width of a line in the big built-in font.
int captionWidth(const std::string &caption) {
    GUI_SetFont(getFontSlot(2));
    GUI_GlyphRef refs[128];
    int32_t w, h;
    GUI_PrapareLine((const uint8_t *)caption.data(), (uint32_t)caption.size(), &w, &h, refs);
    return w;
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
        return frames.empty() ? Screen{} : frameIndices(frames[0]);
    }
};

TEST(LogoBoot, FirstFrameOfEveryRunIsTheBootLogoWithTheName) {
    testsupport::resetDevice(true);
    auto frames = testsupport::frames();
    ASSERT_EQ(frames.size(), 1u);
    Screen shown = frameIndices(frames[0]);
    // Emblem centred on (320, 150); the name 10 pixels under it, its line
    // box top half a line (43 / 2) further down.
    LogoLayout l;
    l.image = boot_logo_png;
    l.imageSize = boot_logo_png_size;
    l.imageX = 244;
    l.imageY = 102;
    l.captionLeft = 320 - captionWidth("OR-SIM") / 2;
    l.captionTop = 150 + 48 + 10 + 21;
    EXPECT_TRUE(sameAs(shown.data(), composeLogo(l, "OR-SIM")));
    EXPECT_TRUE(testsupport::packets().empty());
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
        {1, 0, 0, {boot_logo_png, boot_logo_png_size, 244, 102}, 198},
        {1, -40, 25, {boot_logo_png, boot_logo_png_size, 204, 127}, 223},
        {3, 0, 0, {shutdown_image_png, shutdown_image_png_size, 271, 98}, 202},
        {4, 7, -9, {pair_image_png, pair_image_png_size, 272, 86}, 196},
        {4, -300, 0, {pair_image_png, pair_image_png_size, -35, 95}, 205},   // cut by the left edge
        {2, 0, 0, {}, 150},
        {6, 3, 4, {}, 154},
        {0, 0, 0, {}, 150},
        {200, 0, 0, {}, 150},
    };
    for (auto c : cases) {
        Screen shown = show(drawLogo(c.kind, c.dx, c.dy, caption));
        c.layout.captionLeft = 320 + c.dx - half;
        c.layout.captionTop = c.imageBottom + 10 + 21;
        EXPECT_TRUE(sameAs(shown.data(), composeLogo(c.layout, caption))) << "kind " << (int)c.kind;
    }
}

TEST_F(LogoCommand, LowBatteryMarkGoesUnderTheCaption) {
    LogoLayout l{boot_logo_png, boot_logo_png_size, 244, 102};
    l.battery = true;
    l.batteryX = 294;
    l.batteryY = 198;
    EXPECT_TRUE(sameAs(show(drawLogo(5, 0, 0, "")).data(), composeLogo(l, "")));
    // With a caption the mark moves down by the gap and two line heights.
    l.captionLeft = 320 - captionWidth("Low") / 2;
    l.captionTop = 198 + 10 + 21;
    l.batteryY = 198 + 10 + 86;
    EXPECT_TRUE(sameAs(show(drawLogo(5, 0, 0, "Low")).data(), composeLogo(l, "Low")));
}

TEST_F(LogoCommand, ClearsTheWholeScreenAndLeavesWhiteAndTheBigFont) {
    GUI_SetClipRect(10, 10, 20, 20);
    GUI_SetColor(0xFFFF0000);
    memset(fb, 0x1C, sizeof fb);
    Screen shown = show(drawLogo(2, 0, 0, "x"));
    EXPECT_EQ(shown[0], 0x00);
    EXPECT_EQ(shown[FB_SIZE_BYTES - 1], 0x00);
    EXPECT_EQ(GUI_Context.clipX0, 0);
    EXPECT_EQ(GUI_Context.clipX1, 639);
    EXPECT_EQ(GUI_Context.clipY1, 399);
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
        auto replies = testsupport::packets();
        if (c.reported) {
            ASSERT_EQ(replies.size(), 1u);
            EXPECT_EQ(replies[0], (Bytes{0x04, 0x07, 0x01, 0x00}));
        } else {
            EXPECT_TRUE(replies.empty()) << c.what;
        }
    }
}
