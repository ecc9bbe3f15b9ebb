// Draw image, draw sprite and the clip rectangle: placement and clipping at
// the edges of the screen and of the picture, transparency, and every
// refusal, including a cached image that no longer decodes.
#include "gui/GUI_Common.h"
#include "tests/cache/upload_support.h"

using namespace uploadtest;

namespace {

constexpr uint8_t kDraw = 0x05, kSprite = 0x19, kClip = 0x18;

// Each pixel of a 40 x 30 picture gets its own colour, so that a copied
// pixel tells where it came from: red = x / 5 (0 to 7), green = y / 5 (0 to
// 5), blue = 1 + (x + y) % 3. Blue never 0 keeps index 0 out of the picture.
Rgb sheetColour(uint32_t x, uint32_t y) {
    uint8_t r = (uint8_t)((x / 5) * 255 / 7), g = (uint8_t)((y / 5) * 255 / 7), b = (uint8_t)((1 + (x + y) % 3) * 85);
    return {r, g, b};
}
uint8_t sheetIndex(uint32_t x, uint32_t y) { return (uint8_t)(((x / 5) << 5) | ((y / 5) << 2) | (1 + (x + y) % 3)); }

// A rectangle in whole pixels: on the screen, or cut from the picture.
struct Rect {
    int x, y, w, h;
};

class ImageCommands : public UploadTest {
protected:
    void SetUp() override {
        UploadTest::SetUp();
        fillScreen(0x49);
    }
    void uploadSheet() {
        ASSERT_EQ(uploadPng(0, rgbPng(40, 30, sheetColour)), ack(0x04, 0));
        fillScreen(0x49);
    }
    // Screen pixels inside `on` hold the picture from (sx, sy) onwards, and
    // nothing outside it changed.
    void expectCopy(Rect on, int sx, int sy) {
        for (int y = 0; y < 400; y++) {
            for (int x = 0; x < 640; x++) {
                bool inside = x >= on.x && x < on.x + on.w && y >= on.y && y < on.y + on.h;
                uint8_t want = inside ? sheetIndex((uint32_t)(sx + x - on.x), (uint32_t)(sy + y - on.y)) : 0x49;
                ASSERT_EQ(pixel(x, y), want) << "at " << x << "," << y;
            }
        }
    }
    void expectUntouched() { expectCopy({0, 0, 0, 0}, 0, 0); }
    Reports sprite(int x, int y, Rect from, uint8_t slot = 0, int32_t *consumed = nullptr) {
        return call(nimbra::drawSpriteCommand(2 * x, 2 * y, 2 * from.x, 2 * from.y, 2 * from.w, 2 * from.h, slot),
                    consumed);
    }
    Reports clip(Rect r, int32_t *consumed = nullptr) {
        return call(nimbra::clipRectCommand(2 * r.x, 2 * r.y, 2 * r.w, 2 * r.h), consumed);
    }
    Reports draw(uint8_t slot, int32_t halfX, int32_t halfY, int32_t *consumed = nullptr) {
        return call(nimbra::drawImageCommand(slot, halfX, halfY), consumed);
    }
    static void expectClip(int x0, int y0, int x1, int y1) {
        EXPECT_EQ(std::make_tuple(GUI_Context.clipX0, GUI_Context.clipY0, GUI_Context.clipX1, GUI_Context.clipY1),
                  std::make_tuple(x0, y0, x1, y1));
    }
};

}  // namespace

// ------------------------------------------------------------------ draw image

TEST_F(ImageCommands, ACachedPngIsDrawnWhereAsked) {
    Bytes png = rgbPng(100, 50, [](uint32_t x, uint32_t) { return x == 99 ? Rgb{255, 255, 255} : Rgb{255, 0, 0}; });
    ASSERT_EQ(uploadPng(7, png), ack(0x04, 7));
    int32_t consumed = 0;
    EXPECT_TRUE(draw(7, 2 * 300, 2 * 200, &consumed).empty());
    EXPECT_EQ(consumed, 5);
    EXPECT_EQ((Bytes{pixel(299, 200), pixel(300, 200), pixel(399, 249), pixel(400, 249), pixel(300, 250)}),
              (Bytes{0x49, 0xE0, 0xFF, 0x49, 0x49}));

    // At x = -99 only the last column shows, at pixel 0; at -100 nothing of
    // the image would be on screen and the command is refused. Half pixels
    // round up: -197 half pixels are -98 pixels.
    struct Case {
        int32_t halfX, halfY;
        uint8_t at0, at1;
    } shown[] = {{-2 * 99, 0, 0xFF, 0x49}, {-197, 0, 0xE0, 0xFF}};
    for (const Case &c : shown) {
        fillScreen(0x49);
        EXPECT_TRUE(draw(7, c.halfX, c.halfY).empty()) << c.halfX;
        EXPECT_EQ((Bytes{pixel(0, 0), pixel(1, 0)}), (Bytes{c.at0, c.at1})) << c.halfX;
    }
    EXPECT_EQ(draw(7, -2 * 100, 0), Reports{report(kDraw, 0x01, 7)});
    EXPECT_EQ(draw(7, 0, -2 * 50), Reports{report(kDraw, 0x01, 7)});
}

TEST_F(ImageCommands, DrawImageRefusals) {
    int32_t consumed = 0;
    EXPECT_EQ(call(Bytes{kDraw, 1, 0, 0}, &consumed), Reports{report(kDraw, 0x01, 0xFF)});
    EXPECT_EQ(consumed, -1);
    ASSERT_EQ(uploadPng(9, solidPng(10, 10, {0, 0, 255})), ack(0x04, 9));
    // Slot out of range, empty slots, and positions beyond one screen in
    // either direction (in half pixels).
    struct Case {
        uint8_t slot;
        int32_t halfX, halfY;
        uint8_t code;
    } cases[] = {{32, 0, 0, 0x01},    {8, 0, 0, 0x02},   {0, 0, 0, 0x02},   {9, 1281, 0, 0x01},
                 {9, -1282, 0, 0x01}, {9, 0, 801, 0x01}, {9, 0, -802, 0x01}};
    for (const Case &c : cases) {
        EXPECT_EQ(draw(c.slot, c.halfX, c.halfY, &consumed), Reports{report(kDraw, c.code, c.slot)})
            << (int)c.slot << " " << c.halfX << " " << c.halfY;
        EXPECT_EQ(consumed, 5);
    }
    // At exactly one screen it is accepted and draws nothing.
    EXPECT_TRUE(draw(9, 1280, 800).empty());
    EXPECT_TRUE(draw(9, 1278, 798).empty());
    EXPECT_EQ(pixel(639, 399), 0x03);
    EXPECT_EQ(pixel(638, 399), 0x49);
}

TEST_F(ImageCommands, AnImageThatNoLongerDecodesLosesItsSlot) {
    // One pixel wide: cached, but the PNG drawer refuses it.
    ASSERT_EQ(uploadPng(3, solidPng(1, 10, {255, 0, 0})), ack(0x04, 3));
    EXPECT_EQ(draw(3, 0, 0), Reports{report(kDraw, 0xC0, 3)});
    EXPECT_EQ(rd32le(imageSlot(3)), 0u);
    EXPECT_EQ(draw(3, 0, 0), Reports{report(kDraw, 0x02, 3)});

    // A JPEG whose Huffman table segments were damaged after caching.
    Bytes jpeg = jpegFile("h1v1_q90.jpg");
    ASSERT_EQ(uploadImage(4, jpeg, nimbra::kImageJpeg), ack(0x04, 4));
    uint8_t *file = imageSlot(4) + 16;
    for (size_t i = 2; i + 1 < jpeg.size(); i++) {
        if (file[i] == 0xFF && file[i + 1] == 0xC4) file[i + 1] = 0x01;
    }
    EXPECT_EQ(draw(4, 0, 0), Reports{report(kDraw, 0xC0, 4)});
    EXPECT_FALSE(cacheRecordPresent(imageSlot(4)));

    // A PNG whose zlib header asks for a preset dictionary: its own header
    // is sound, so it is cached, but its data never inflates. In slot 0,
    // where it is decoded at once, the upload itself is refused.
    pngtest::PngSpec dictionary;
    dictionary.width = dictionary.height = 4;
    dictionary.rows.assign(4, Bytes(4, 0x80));
    dictionary.presetDictionary = true;
    ASSERT_EQ(uploadPng(6, dictionary.build()), ack(0x04, 6));
    EXPECT_EQ(draw(6, 0, 0), Reports{report(kDraw, 0xC0, 6)});
    EXPECT_FALSE(cacheRecordPresent(imageSlot(6)));
    EXPECT_EQ(uploadPng(0, dictionary.build()), Reports{report(0x04, 0xC0, 0)});

    // A record whose format code is neither PNG nor JPEG.
    ASSERT_EQ(uploadPng(5, solidPng(4, 4, {255, 0, 0})), ack(0x04, 5));
    imageSlot(5)[11] = 0x03;
    EXPECT_EQ(draw(5, 0, 0), Reports{report(kDraw, 0xC0, 5)});
    EXPECT_FALSE(cacheRecordPresent(imageSlot(5)));
}

TEST_F(ImageCommands, APoolTooShortForTheDecoderKeepsTheSlot) {
    ASSERT_EQ(uploadPng(6, solidPng(8, 8, {0, 255, 0})), ack(0x04, 6));
    ASSERT_EQ(uploadImage(8, jpegFile("h2v2_q75.jpg"), nimbra::kImageJpeg), ack(0x04, 8));
    {
        PoolHold hold(2000);
        for (uint8_t slot : {6, 8}) {
            EXPECT_EQ(draw(slot, 0, 0), Reports{report(kDraw, 0x02, slot)});
            EXPECT_TRUE(cacheRecordUsable(imageSlot(slot)));
        }
        EXPECT_EQ(GUI_GetNumFreeBytes(), 2000u);
    }
    EXPECT_TRUE(draw(6, 0, 0).empty());
    EXPECT_EQ(pixel(7, 7), 0x1C);
    EXPECT_TRUE(draw(8, 0, 0).empty());
}

TEST_F(ImageCommands, TheSlot0PictureIsDrawnWithOrWithoutTransparency) {
    // A 4 x 2 picture, columns black, red, black, green: opaque it paints
    // black; with an alpha channel its black pixels are transparent.
    auto colour = [](uint32_t x, uint32_t) { return x == 1 ? Rgb{255, 0, 0} : x == 3 ? Rgb{0, 255, 0} : Rgb{0, 0, 0}; };
    const Bytes pngs[] = {rgbPng(4, 2, colour), rgbPng(4, 2, colour, [](uint32_t, uint32_t) { return 255; })};
    for (int alpha = 0; alpha < 2; alpha++) {
        ASSERT_EQ(uploadPng(0, pngs[alpha]), ack(0x04, 0));
        fillScreen(0x49);
        EXPECT_TRUE(draw(0, 20, 20).empty());
        const uint8_t black = alpha ? 0x49 : 0x00;
        const uint8_t row[5] = {black, 0xE0, black, 0x1C, 0x49};
        for (int x = 0; x < 5; x++) {
            EXPECT_EQ(pixel(10 + x, 10), row[x]) << alpha << " " << x;
            EXPECT_EQ(pixel(10 + x, 11), row[x]) << alpha << " " << x;
        }
    }
    // Cleared from the cache, the picture can no longer be drawn.
    ASSERT_EQ(call(Bytes{0x16, 0x11, 0x00}), Reports{report(0x16, 0x00, 0x11)});
    EXPECT_EQ(draw(0, 20, 20), Reports{report(kDraw, 0x02, 0)});
}

// ----------------------------------------------------------------- draw sprite

TEST_F(ImageCommands, SpritesAreCutFromThePictureAndClippedToTheScreen) {
    uploadSheet();
    struct Case {
        int x, y;
        Rect from, shown;
        int sx, sy;   // first picture pixel shown
    } cases[] = {
        {100, 50, {5, 7, 12, 9}, {100, 50, 12, 9}, 5, 7},
        // The whole picture, and its bottom-right corner.
        {0, 0, {0, 0, 40, 30}, {0, 0, 40, 30}, 0, 0},
        {200, 100, {38, 28, 2, 2}, {200, 100, 2, 2}, 38, 28},
        // Across the screen's edges.
        {-5, -3, {10, 10, 20, 15}, {0, 0, 15, 12}, 15, 13},
        {630, 395, {0, 0, 20, 15}, {630, 395, 10, 5}, 0, 0},
        // Ending just off the screen to the left, or starting past its
        // bottom-right corner: nothing drawn, no report.
        {-20, 0, {0, 0, 19, 5}, {}, 0, 0},
        {-21, 0, {0, 0, 20, 5}, {}, 0, 0},
        {640, 400, {0, 0, 20, 5}, {}, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.x << "," << c.y);
        fillScreen(0x49);
        int32_t consumed = 0;
        EXPECT_TRUE(sprite(c.x, c.y, c.from, 0, &consumed).empty());
        EXPECT_EQ(consumed, 11);
        expectCopy(c.shown, c.sx, c.sy);
    }
    // Half-pixel sizes round up: 3 half pixels are 2 pixels.
    fillScreen(0x49);
    EXPECT_TRUE(call(nimbra::drawSpriteCommand(0, 0, 0, 0, 3, 3)).empty());
    expectCopy({0, 0, 2, 2}, 0, 0);
}

TEST_F(ImageCommands, SpriteRefusals) {
    int32_t consumed = 0;
    EXPECT_EQ(call(Bytes{kSprite, 0, 0, 0, 0, 0, 0, 0, 0, 0}, &consumed), Reports{report(kSprite, 0x01, 0xFF)});
    EXPECT_EQ(consumed, -1);
    EXPECT_EQ(sprite(0, 0, {0, 0, 4, 4}, 0, &consumed), Reports{report(kSprite, 0x02, 0)}) << "no picture yet";
    EXPECT_EQ(consumed, 11);
    uploadSheet();
    EXPECT_EQ(sprite(0, 0, {0, 0, 4, 4}, 1, &consumed), Reports{report(kSprite, 0x01, 1)});
    EXPECT_EQ(consumed, 11);
    struct Case {
        int x, y;
        Rect from;
    } cases[] = {
        // One column or row past the picture.
        {10, 10, {31, 0, 10, 5}}, {10, 10, {0, 26, 10, 5}},
        // Sizes below 2 pixels, positions past the screen.
        {0, 0, {0, 0, 1, 4}}, {0, 0, {0, 0, 4, 1}}, {641, 0, {0, 0, 4, 4}}, {0, -401, {0, 0, 4, 4}},
        // Ending exactly at the screen's left or top edge.
        {-20, 0, {0, 0, 20, 5}}, {0, -5, {0, 0, 20, 5}},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(sprite(c.x, c.y, c.from, 0, &consumed), Reports{report(kSprite, 0x01, 0)})
            << c.x << "," << c.y << " from " << c.from.x << "," << c.from.y << " " << c.from.w << "x" << c.from.h;
        EXPECT_EQ(consumed, 11);
    }
    // 1 half pixel is 1 pixel: too narrow.
    EXPECT_EQ(call(nimbra::drawSpriteCommand(0, 0, 0, 0, 1, 3)), Reports{report(kSprite, 0x01, 0)});
    expectUntouched();
}

// ------------------------------------------------------------- clip rectangle

TEST_F(ImageCommands, TheClipRectangleLimitsLaterDrawing) {
    uploadSheet();
    int32_t consumed = 0;
    EXPECT_TRUE(clip({105, 52, 5, 4}, &consumed).empty());
    EXPECT_EQ(consumed, 7);
    expectClip(105, 52, 109, 55);
    EXPECT_EQ(GUI_Context.subClipX1, 439);
    EXPECT_TRUE(sprite(100, 50, {0, 0, 40, 30}).empty());
    expectCopy({105, 52, 5, 4}, 5, 2);

    // Reaching past the bottom-right corner: clamped to the screen.
    fillScreen(0x49);
    EXPECT_TRUE(clip({630, 390, 640, 400}).empty());
    expectClip(630, 390, 639, 399);
    EXPECT_TRUE(sprite(620, 380, {0, 0, 40, 30}).empty());
    expectCopy({630, 390, 10, 10}, 10, 10);
    // A clip that starts at the right or bottom edge leaves nothing visible.
    fillScreen(0x49);
    EXPECT_TRUE(clip({640, 0, 2, 400}).empty());
    EXPECT_TRUE(sprite(600, 0, {0, 0, 40, 30}).empty());
    EXPECT_TRUE(draw(0, 1200, 0).empty());
    EXPECT_TRUE(clip({0, 400, 640, 2}).empty());
    EXPECT_TRUE(sprite(0, 380, {0, 0, 40, 30}).empty());
    expectUntouched();
    // The top-left corner, 2 x 2.
    EXPECT_TRUE(clip({0, 0, 2, 2}).empty());
    EXPECT_TRUE(sprite(-1, -1, {0, 0, 40, 30}).empty());
    expectCopy({0, 0, 2, 2}, 1, 1);
    // The whole screen again.
    EXPECT_TRUE(clip({0, 0, 640, 400}).empty());
    expectClip(0, 0, 639, 399);
}

TEST_F(ImageCommands, ClipRefusalsKeepTheClip) {
    ASSERT_TRUE(clip({10, 20, 30, 40}).empty());
    int32_t consumed = 0;
    EXPECT_EQ(call(Bytes{kClip, 0, 0, 0, 0, 0}, &consumed), Reports{report(kClip, 0x01, 0xFF)});
    EXPECT_EQ(consumed, -1);
    const Rect bad[] = {{10, 10, 1, 1}, {10, 10, 1, 5}, {10, 10, 5, 1}, {641, 0, 5, 5},
                        {0, 401, 5, 5}, {0, 0, 641, 5}, {0, 0, 5, 401}};
    for (const Rect &b : bad) {
        EXPECT_EQ(clip(b, &consumed), Reports{report(kClip, 0x01, 0)}) << b.x << " " << b.y << " " << b.w << " " << b.h;
        EXPECT_EQ(consumed, 7);
    }
    expectClip(10, 20, 39, 59);
    // A slot 0 upload resets the clip to the screen.
    uploadSheet();
    expectClip(0, 0, 639, 399);
}
