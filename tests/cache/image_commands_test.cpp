// Draw image, draw sprite and the clip rectangle: placement and clipping at
// the edges of the screen and of the picture, transparency, and every
// refusal, including a cached image that no longer decodes.
#include "gui/GUI_Common.h"
#include "tests/cache/upload_support.h"

using namespace uploadtest;
using nimbra::Bytes;

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

class ImageCommands : public UploadTest {
protected:
    void SetUp() override {
        UploadTest::SetUp();
        fillScreen(0x49);
    }
    void uploadSheet() {
        Bytes png = rgbPng(40, 30, sheetColour);
        ASSERT_EQ(uploadImage(0, png, nimbra::kImagePng), (Reports{{0x04, 0x00, 0}}));
        fillScreen(0x49);
    }
    // Screen pixels inside the rectangle hold source (sx, sy) onwards, and
    // nothing outside it changed.
    void expectCopy(int x0, int y0, int w, int h, int sx, int sy) {
        for (int y = 0; y < 400; y++) {
            for (int x = 0; x < 640; x++) {
                bool inside = x >= x0 && x < x0 + w && y >= y0 && y < y0 + h;
                uint8_t want = inside ? sheetIndex((uint32_t)(sx + x - x0), (uint32_t)(sy + y - y0)) : 0x49;
                ASSERT_EQ(pixel(x, y), want) << "at " << x << "," << y;
            }
        }
    }
    Reports sprite(int x, int y, int sx, int sy, int w, int h, uint8_t slot = 0, int32_t *consumed = nullptr) {
        return call(nimbra::drawSpriteCommand(2 * x, 2 * y, 2 * sx, 2 * sy, 2 * w, 2 * h, slot), consumed);
    }
    Reports clip(int x, int y, int w, int h, int32_t *consumed = nullptr) {
        return call(nimbra::clipRectCommand(2 * x, 2 * y, 2 * w, 2 * h), consumed);
    }
};

}  // namespace

// ------------------------------------------------------------------ draw image

TEST_F(ImageCommands, ACachedPngIsDrawnWhereAsked) {
    Bytes png = rgbPng(100, 50, [](uint32_t x, uint32_t) { return x == 99 ? Rgb{255, 255, 255} : Rgb{255, 0, 0}; });
    ASSERT_EQ(uploadImage(7, png, nimbra::kImagePng), (Reports{{0x04, 0x00, 7}}));
    int32_t consumed = 0;
    EXPECT_TRUE(call(nimbra::drawImageCommand(7, 2 * 300, 2 * 200), &consumed).empty());
    EXPECT_EQ(consumed, 5);
    EXPECT_EQ(pixel(299, 200), 0x49);
    EXPECT_EQ(pixel(300, 200), 0xE0);
    EXPECT_EQ(pixel(399, 249), 0xFF);
    EXPECT_EQ(pixel(400, 249), 0x49);
    EXPECT_EQ(pixel(300, 250), 0x49);

    // At x = -99 only the last column shows, at pixel 0; at -100 nothing of
    // the image would be on screen and the command is refused.
    fillScreen(0x49);
    EXPECT_TRUE(call(nimbra::drawImageCommand(7, -2 * 99, 0)).empty());
    EXPECT_EQ(pixel(0, 0), 0xFF);
    EXPECT_EQ(pixel(1, 0), 0x49);
    EXPECT_EQ(call(nimbra::drawImageCommand(7, -2 * 100, 0)), (Reports{{kDraw, 0x01, 7}}));
    EXPECT_EQ(call(nimbra::drawImageCommand(7, 0, -2 * 50)), (Reports{{kDraw, 0x01, 7}}));
    // Half pixels round up: -197 half pixels are -98 pixels.
    fillScreen(0x49);
    EXPECT_TRUE(call(nimbra::drawImageCommand(7, -197, 0)).empty());
    EXPECT_EQ(pixel(0, 0), 0xE0);
    EXPECT_EQ(pixel(1, 0), 0xFF);
}

TEST_F(ImageCommands, DrawImageRefusals) {
    int32_t consumed = 0;
    EXPECT_EQ(call(Bytes{kDraw, 1, 0, 0}, &consumed), (Reports{{kDraw, 0x01, 0xFF}}));
    EXPECT_EQ(consumed, -1);
    EXPECT_EQ(call(nimbra::drawImageCommand(32, 0, 0), &consumed), (Reports{{kDraw, 0x01, 32}}));
    EXPECT_EQ(consumed, 5);
    EXPECT_EQ(call(nimbra::drawImageCommand(9, 0, 0), &consumed), (Reports{{kDraw, 0x02, 9}}));
    EXPECT_EQ(consumed, 5);
    EXPECT_EQ(call(nimbra::drawImageCommand(0, 0, 0)), (Reports{{kDraw, 0x02, 0}}));

    ASSERT_EQ(uploadImage(9, solidPng(10, 10, {0, 0, 255}), nimbra::kImagePng), (Reports{{0x04, 0x00, 9}}));
    // Positions beyond one screen in either direction (in half pixels).
    EXPECT_EQ(call(nimbra::drawImageCommand(9, 1281, 0)), (Reports{{kDraw, 0x01, 9}}));
    EXPECT_EQ(call(nimbra::drawImageCommand(9, -1282, 0)), (Reports{{kDraw, 0x01, 9}}));
    EXPECT_EQ(call(nimbra::drawImageCommand(9, 0, 801)), (Reports{{kDraw, 0x01, 9}}));
    EXPECT_EQ(call(nimbra::drawImageCommand(9, 0, -802)), (Reports{{kDraw, 0x01, 9}}));
    // At exactly one screen it is accepted and draws nothing.
    EXPECT_TRUE(call(nimbra::drawImageCommand(9, 1280, 800)).empty());
    EXPECT_TRUE(call(nimbra::drawImageCommand(9, 1278, 798)).empty());
    EXPECT_EQ(pixel(639, 399), 0x03);
    EXPECT_EQ(pixel(638, 399), 0x49);
}

TEST_F(ImageCommands, AnImageThatNoLongerDecodesLosesItsSlot) {
    // One pixel wide: cached, but the PNG drawer refuses it.
    ASSERT_EQ(uploadImage(3, solidPng(1, 10, {255, 0, 0}), nimbra::kImagePng), (Reports{{0x04, 0x00, 3}}));
    EXPECT_EQ(call(nimbra::drawImageCommand(3, 0, 0)), (Reports{{kDraw, 0xC0, 3}}));
    EXPECT_EQ(rd32le(imageSlot(3)), 0u);
    EXPECT_EQ(call(nimbra::drawImageCommand(3, 0, 0)), (Reports{{kDraw, 0x02, 3}}));

    // A JPEG whose stored tables were damaged after caching.
    Bytes jpeg = jpegFile("h1v1_q90.jpg");
    ASSERT_EQ(uploadImage(4, jpeg, nimbra::kImageJpeg), (Reports{{0x04, 0x00, 4}}));
    uint8_t *file = imageSlot(4) + 16;
    for (size_t i = 2; i + 1 < jpeg.size(); i++) {
        if (file[i] == 0xFF && file[i + 1] == 0xC4) {   // every Huffman table segment
            file[i + 1] = 0x01;
        }
    }
    EXPECT_EQ(call(nimbra::drawImageCommand(4, 0, 0)), (Reports{{kDraw, 0xC0, 4}}));
    EXPECT_FALSE(cacheRecordPresent(imageSlot(4)));

    // A record whose format code is neither PNG nor JPEG.
    ASSERT_EQ(uploadImage(5, solidPng(4, 4, {255, 0, 0}), nimbra::kImagePng), (Reports{{0x04, 0x00, 5}}));
    imageSlot(5)[11] = 0x03;
    EXPECT_EQ(call(nimbra::drawImageCommand(5, 0, 0)), (Reports{{kDraw, 0xC0, 5}}));
    EXPECT_FALSE(cacheRecordPresent(imageSlot(5)));
}

TEST_F(ImageCommands, APoolTooShortForTheDecoderKeepsTheSlot) {
    ASSERT_EQ(uploadImage(6, solidPng(8, 8, {0, 255, 0}), nimbra::kImagePng), (Reports{{0x04, 0x00, 6}}));
    ASSERT_EQ(uploadImage(8, jpegFile("h2v2_q75.jpg"), nimbra::kImageJpeg), (Reports{{0x04, 0x00, 8}}));
    const uint32_t mark = GUI_AllocStart();
    GUI_AllocNoInit(GUI_GetNumFreeBytes() - 2000);
    EXPECT_EQ(call(nimbra::drawImageCommand(6, 0, 0)), (Reports{{kDraw, 0x02, 6}}));
    EXPECT_EQ(call(nimbra::drawImageCommand(8, 0, 0)), (Reports{{kDraw, 0x02, 8}}));
    EXPECT_EQ(GUI_GetNumFreeBytes(), 2000u);
    EXPECT_TRUE(cacheRecordUsable(imageSlot(6)));
    EXPECT_TRUE(cacheRecordUsable(imageSlot(8)));
    GUI_AllocEnd(mark);
    EXPECT_TRUE(call(nimbra::drawImageCommand(6, 0, 0)).empty());
    EXPECT_EQ(pixel(7, 7), 0x1C);
    EXPECT_TRUE(call(nimbra::drawImageCommand(8, 0, 0)).empty());
}

TEST_F(ImageCommands, TheSlot0PictureIsDrawnWithOrWithoutTransparency) {
    // A 4 x 1 row black, red, black, green: opaque it paints black; with an
    // alpha channel its black pixels are transparent.
    auto colour = [](uint32_t x, uint32_t) { return x == 1 ? Rgb{255, 0, 0} : x == 3 ? Rgb{0, 255, 0} : Rgb{0, 0, 0}; };
    ASSERT_EQ(uploadImage(0, rgbPng(4, 2, colour), nimbra::kImagePng), (Reports{{0x04, 0x00, 0}}));
    fillScreen(0x49);
    EXPECT_TRUE(call(nimbra::drawImageCommand(0, 20, 20)).empty());
    EXPECT_EQ(pixel(10, 10), 0x00);
    EXPECT_EQ(pixel(11, 10), 0xE0);
    EXPECT_EQ(pixel(12, 11), 0x00);
    EXPECT_EQ(pixel(13, 11), 0x1C);
    EXPECT_EQ(pixel(14, 11), 0x49);

    ASSERT_EQ(uploadImage(0, rgbPng(4, 2, colour, [](uint32_t, uint32_t) { return 255; }), nimbra::kImagePng),
              (Reports{{0x04, 0x00, 0}}));
    fillScreen(0x49);
    EXPECT_TRUE(call(nimbra::drawImageCommand(0, 20, 20)).empty());
    EXPECT_EQ(pixel(10, 10), 0x49);
    EXPECT_EQ(pixel(11, 10), 0xE0);
    EXPECT_EQ(pixel(12, 11), 0x49);
    EXPECT_EQ(pixel(13, 11), 0x1C);

    // Cleared from the cache, the picture can no longer be drawn.
    ASSERT_EQ(call(Bytes{0x16, 0x11, 0x00}), (Reports{{0x16, 0x00, 0x11}}));
    EXPECT_EQ(call(nimbra::drawImageCommand(0, 20, 20)), (Reports{{kDraw, 0x02, 0}}));
}

// ----------------------------------------------------------------- draw sprite

TEST_F(ImageCommands, SpritesAreCutFromThePicture) {
    uploadSheet();
    int32_t consumed = 0;
    EXPECT_TRUE(sprite(100, 50, 5, 7, 12, 9, 0, &consumed).empty());
    EXPECT_EQ(consumed, 11);
    expectCopy(100, 50, 12, 9, 5, 7);
}

TEST_F(ImageCommands, SpritesAtThePictureEdges) {
    uploadSheet();
    // The whole picture, the bottom-right corner, a rectangle flush with
    // the right edge and one flush with the bottom edge.
    EXPECT_TRUE(sprite(0, 0, 0, 0, 40, 30).empty());
    expectCopy(0, 0, 40, 30, 0, 0);
    fillScreen(0x49);
    EXPECT_TRUE(sprite(200, 100, 38, 28, 2, 2).empty());
    expectCopy(200, 100, 2, 2, 38, 28);
    fillScreen(0x49);
    EXPECT_TRUE(sprite(10, 10, 30, 0, 10, 5).empty());
    expectCopy(10, 10, 10, 5, 30, 0);
    // One column or row too far is refused.
    EXPECT_EQ(sprite(10, 10, 31, 0, 10, 5), (Reports{{kSprite, 0x01, 0}}));
    EXPECT_EQ(sprite(10, 10, 0, 26, 10, 5), (Reports{{kSprite, 0x01, 0}}));
    EXPECT_EQ(sprite(10, 10, 0, 0, 41, 2), (Reports{{kSprite, 0x01, 0}}));
}

TEST_F(ImageCommands, SpritesAtTheScreenEdgesAreClipped) {
    uploadSheet();
    EXPECT_TRUE(sprite(-5, -3, 10, 10, 20, 15).empty());
    expectCopy(0, 0, 15, 12, 15, 13);
    fillScreen(0x49);
    EXPECT_TRUE(sprite(630, 395, 0, 0, 20, 15).empty());
    expectCopy(630, 395, 10, 5, 0, 0);
    fillScreen(0x49);
    // Ending just off the screen to the left: nothing drawn, no report.
    EXPECT_TRUE(sprite(-20, 0, 0, 0, 19, 5).empty());
    EXPECT_TRUE(sprite(-21, 0, 0, 0, 20, 5).empty());
    EXPECT_TRUE(sprite(640, 400, 0, 0, 20, 5).empty());
    expectCopy(0, 0, 0, 0, 0, 0);
    // Ending exactly at the screen's left or top edge is refused.
    EXPECT_EQ(sprite(-20, 0, 0, 0, 20, 5), (Reports{{kSprite, 0x01, 0}}));
    EXPECT_EQ(sprite(0, -5, 0, 0, 20, 5), (Reports{{kSprite, 0x01, 0}}));
}

TEST_F(ImageCommands, SpriteRefusals) {
    int32_t consumed = 0;
    EXPECT_EQ(call(Bytes{kSprite, 0, 0, 0, 0, 0, 0, 0, 0, 0}, &consumed), (Reports{{kSprite, 0x01, 0xFF}}));
    EXPECT_EQ(consumed, -1);
    // No picture yet.
    EXPECT_EQ(sprite(0, 0, 0, 0, 4, 4, 0, &consumed), (Reports{{kSprite, 0x02, 0}}));
    EXPECT_EQ(consumed, 11);
    uploadSheet();
    EXPECT_EQ(sprite(0, 0, 0, 0, 4, 4, 1, &consumed), (Reports{{kSprite, 0x01, 1}}));
    EXPECT_EQ(consumed, 11);
    EXPECT_EQ(sprite(0, 0, 0, 0, 1, 4), (Reports{{kSprite, 0x01, 0}}));
    EXPECT_EQ(sprite(0, 0, 0, 0, 4, 1), (Reports{{kSprite, 0x01, 0}}));
    EXPECT_EQ(sprite(641, 0, 0, 0, 4, 4), (Reports{{kSprite, 0x01, 0}}));
    EXPECT_EQ(sprite(0, -401, 0, 0, 4, 4), (Reports{{kSprite, 0x01, 0}}));
    // In the 40 x 30 picture the rectangle (10, 10, 20, 20) ends on the last
    // row; one row lower it runs past it.
    EXPECT_TRUE(sprite(0, 0, 10, 10, 20, 20).empty());
    EXPECT_EQ(sprite(0, 0, 10, 11, 20, 20), (Reports{{kSprite, 0x01, 0}}));
    // Half-pixel sizes round up: 3 half pixels are 2 pixels, 1 is 1.
    EXPECT_TRUE(call(nimbra::drawSpriteCommand(0, 0, 0, 0, 3, 3)).empty());
    EXPECT_EQ(call(nimbra::drawSpriteCommand(0, 0, 0, 0, 1, 3)), (Reports{{kSprite, 0x01, 0}}));
    // Nothing was drawn by the refusals.
    fillScreen(0x49);
    EXPECT_EQ(sprite(0, 0, 39, 0, 2, 2), (Reports{{kSprite, 0x01, 0}}));
    expectCopy(0, 0, 0, 0, 0, 0);
}

// ------------------------------------------------------------- clip rectangle

TEST_F(ImageCommands, TheClipRectangleLimitsLaterDrawing) {
    uploadSheet();
    int32_t consumed = 0;
    EXPECT_TRUE(clip(105, 52, 5, 4, &consumed).empty());
    EXPECT_EQ(consumed, 7);
    EXPECT_EQ(GUI_Context.clipX0, 105);
    EXPECT_EQ(GUI_Context.clipY0, 52);
    EXPECT_EQ(GUI_Context.clipX1, 109);
    EXPECT_EQ(GUI_Context.clipY1, 55);
    EXPECT_EQ(GUI_Context.subClipX1, 439);
    EXPECT_TRUE(sprite(100, 50, 0, 0, 40, 30).empty());
    expectCopy(105, 52, 5, 4, 5, 2);
    // The whole screen again.
    EXPECT_TRUE(clip(0, 0, 640, 400).empty());
    EXPECT_EQ(GUI_Context.clipX1, 639);
    EXPECT_EQ(GUI_Context.clipY1, 399);
}

TEST_F(ImageCommands, ClipRectanglesAtTheScreenEdges) {
    uploadSheet();
    // Reaching past the bottom-right corner: clamped to the screen.
    EXPECT_TRUE(clip(630, 390, 640, 400).empty());
    EXPECT_EQ(GUI_Context.clipX0, 630);
    EXPECT_EQ(GUI_Context.clipY0, 390);
    EXPECT_EQ(GUI_Context.clipX1, 639);
    EXPECT_EQ(GUI_Context.clipY1, 399);
    EXPECT_TRUE(sprite(620, 380, 0, 0, 40, 30).empty());
    expectCopy(630, 390, 10, 10, 10, 10);
    // A clip that starts at the right or bottom edge leaves nothing visible.
    fillScreen(0x49);
    EXPECT_TRUE(clip(640, 0, 2, 400).empty());
    EXPECT_TRUE(sprite(600, 0, 0, 0, 40, 30).empty());
    EXPECT_TRUE(call(nimbra::drawImageCommand(0, 1200, 0)).empty());
    EXPECT_TRUE(clip(0, 400, 640, 2).empty());
    EXPECT_TRUE(sprite(0, 380, 0, 0, 40, 30).empty());
    expectCopy(0, 0, 0, 0, 0, 0);
    // The top-left corner, 2 x 2.
    EXPECT_TRUE(clip(0, 0, 2, 2).empty());
    EXPECT_TRUE(sprite(-1, -1, 0, 0, 40, 30).empty());
    expectCopy(0, 0, 2, 2, 1, 1);
}

TEST_F(ImageCommands, ClipRefusalsKeepTheClip) {
    ASSERT_TRUE(clip(10, 20, 30, 40).empty());
    int32_t consumed = 0;
    EXPECT_EQ(call(Bytes{kClip, 0, 0, 0, 0, 0}, &consumed), (Reports{{kClip, 0x01, 0xFF}}));
    EXPECT_EQ(consumed, -1);
    const int bad[][4] = {{10, 10, 1, 1}, {10, 10, 1, 5}, {10, 10, 5, 1}, {641, 0, 5, 5},
                          {0, 401, 5, 5}, {0, 0, 641, 5}, {0, 0, 5, 401}};
    for (auto &b : bad) {
        EXPECT_EQ(clip(b[0], b[1], b[2], b[3], &consumed), (Reports{{kClip, 0x01, 0}})) << b[0] << " " << b[1];
        EXPECT_EQ(consumed, 7);
    }
    EXPECT_EQ(GUI_Context.clipX0, 10);
    EXPECT_EQ(GUI_Context.clipY0, 20);
    EXPECT_EQ(GUI_Context.clipX1, 39);
    EXPECT_EQ(GUI_Context.clipY1, 59);
    // A slot 0 upload resets the clip to the screen.
    uploadSheet();
    EXPECT_EQ(GUI_Context.clipX0, 0);
    EXPECT_EQ(GUI_Context.clipX1, 639);
}
