// The draw text and draw logo commands end to end: alignment arithmetic,
// lines off screen, the reports of bad commands, and the composition of the
// logo screens.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cache/commandHandlerCache.h"
#include "cache/flash.h"
#include "commands/commandHandlerDraw.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Common.h"
#include "gui/GUI_Font.h"
#include "host/bytes.h"
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

// The screens below are golden files reviewed by eye (tests/golden/logo_*).
::testing::AssertionResult screenIsGolden(const std::string &name) {
    return guitest::matchesGolden(name, 0, 0, SCREEN_WIDTH, SCREEN_HEIGHT);
}

// The screen moved by (dx, dy), black where nothing moves in.
Screen shifted(const Screen &s, int dx, int dy) {
    Screen out(FB_SIZE_BYTES, 0);
    for (int y = 0; y < SCREEN_HEIGHT; y++)
        for (int x = 0; x < SCREEN_WIDTH; x++)
            if (x - dx >= 0 && x - dx < SCREEN_WIDTH && y - dy >= 0 && y - dy < SCREEN_HEIGHT)
                out[(size_t)y * SCREEN_WIDTH + x] = s[(size_t)(y - dy) * SCREEN_WIDTH + x - dx];
    return out;
}

}  // namespace

class LogoCommand : public DeviceTest {
protected:
    // Runs one logo command; returns the single frame it showed, which the
    // frame buffer still holds.
    Screen show(const Bytes &command) {
        testsupport::clearCaptures();
        EXPECT_EQ(CMD_drawLogo(command.data(), (uint32_t)command.size()), (int32_t)command.size());
        auto frames = testsupport::frames();
        EXPECT_EQ(frames.size(), 1u);
        EXPECT_TRUE(testsupport::packets().empty());
        Screen s(FB_SIZE_BYTES, 0);
        if (!frames.empty())
            for (size_t i = 0; i < s.size(); i++) s[i] = frames[0].indexAt((int)(i % SCREEN_WIDTH), (int)(i / SCREEN_WIDTH));
        EXPECT_TRUE(frameIs(s)) << "the frame shown is the frame buffer";
        return s;
    }
};

// The boot logo: the emblem centred on (320, 150), the name 10 pixels under
// it, its line box top half a line further down.
TEST(LogoBoot, FirstFrameOfEveryRunIsTheBootLogoWithTheName) {
    testsupport::resetDevice(true);
    ASSERT_EQ(testsupport::frames().size(), 1u);
    EXPECT_TRUE(testsupport::packets().empty());
    EXPECT_TRUE(screenIsGolden("logo_boot"));
}

// Each kind's image centred above the caption, the whole moved by the
// offset; kinds without an image centre the caption alone; the low-battery
// mark goes under the caption when there is one.
TEST_F(LogoCommand, EachKindPlacesItsImageAndCaption) {
    const struct {
        uint8_t kind;
        int16_t dx, dy;
        const char *caption, *golden;
    } cases[] = {
        {3, 0, 0, "Hello", "logo_shutdown"},  {4, 7, -9, "Hello", "logo_pair"},   {5, 0, 0, "", "logo_battery"},
        {5, 0, 0, "Low", "logo_battery_low"}, {6, 3, 4, "Hello", "logo_caption"},
    };
    for (const auto &c : cases) {
        show(drawLogo(c.kind, c.dx, c.dy, c.caption));
        EXPECT_TRUE(screenIsGolden(c.golden)) << "kind " << (int)c.kind;
    }
    // Kind 1 is the boot logo; an unknown kind is a caption alone; an offset
    // moves everything and the screen's edges cut it.
    testsupport::resetDevice(true);
    const Screen boot(fb, fb + FB_SIZE_BYTES);
    EXPECT_TRUE(frameIs(boot, show(drawLogo(1, 0, 0, "OR-SIM")).data()));
    EXPECT_TRUE(frameIs(show(drawLogo(6, 3, 4, "Hello")), show(drawLogo(200, 3, 4, "Hello")).data()));
    const Screen pair = show(drawLogo(4, 7, -9, "Hello"));
    EXPECT_TRUE(frameIs(shifted(pair, -307, 9), show(drawLogo(4, -300, 0, "Hello")).data()));
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
