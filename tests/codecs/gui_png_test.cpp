// Drawing PNG and ORV images: conversion to colour indices, alpha blending,
// placement, and the pool discipline. (Clipping is drawn by the image
// commands' tests.)
#include <gtest/gtest.h>

#include <cstring>

#include "codecs/GUI_PNG.h"
#include "codecs/png.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Alloc.h"
#include "gui/GUI_Common.h"
#include "tests/codecs/png_builder.h"
#include "tests/support/device_fixture.h"

using pngtest::Bytes;
using pngtest::PngSpec;

namespace {

constexpr uint8_t kBackground = 0x49;  // a colour no test image uses by chance

class PngDraw : public BareDeviceTest {
protected:
    void SetUp() override {
        BareDeviceTest::SetUp();
        memset(fb, kBackground, sizeof fb);
    }
    // Draws a copy of exactly the file's bytes, so that the address
    // sanitizer sees any read past the end.
    int draw(const Bytes &file, int32_t x, int32_t y) {
        Bytes exact(file);
        return GUI_PNG_Draw(exact.data(), (uint32_t)exact.size(), x, y);
    }
    static uint8_t px(int x, int y) { return fb[y * 640 + x]; }
    // n pixels of screen row y from x on.
    static Bytes row(int x, int y, int n) { return Bytes(fb + y * 640 + x, fb + y * 640 + x + n); }
    // Counts frame-buffer pixels that differ from the background.
    static int changed() {
        int n = 0;
        for (uint8_t v : fb) n += v != kBackground;
        return n;
    }
};

// An image of the given rows (unfiltered bytes).
PngSpec image(uint8_t type, uint32_t width, std::vector<Bytes> rows, bool orv = false, uint8_t depth = 8) {
    PngSpec s;
    s.width = width;
    s.height = (uint32_t)rows.size();
    s.colorType = type;
    s.depth = depth;
    s.orv = orv;
    s.rows = std::move(rows);
    return s;
}

// An ORV grey image whose pixel (x, y) holds the index value(x, y).
uint8_t value(uint32_t x, uint32_t y) {
    uint8_t v = (uint8_t)(1 + x * 7 + y * 29);
    return v == kBackground ? 0 : v;
}
PngSpec orvGrey(uint32_t w, uint32_t h) {
    PngSpec s = image(0, w, {}, true);
    s.height = h;
    for (uint32_t y = 0; y < h; y++) {
        Bytes row;
        for (uint32_t x = 0; x < w; x++) row.push_back(value(x, y));
        s.rows.push_back(row);
        s.filters.push_back((uint8_t)(y % 5));
    }
    return s;
}

}  // namespace

// The size query reads the header only: the alpha flag, and on a refusal
// the sizes are left as they were.
TEST_F(PngDraw, GetSizeReportsAlphaAndRefusals) {
    Bytes f = image(4, 3, {Bytes(6, 1), Bytes(6, 2)}).build();
    uint32_t w = 0, h = 0;
    uint8_t a = 0;
    EXPECT_EQ(GUI_PNG_GetSize(f.data(), (uint32_t)f.size(), &w, &h, &a), 0);
    EXPECT_EQ(std::make_tuple(w, h, a), std::make_tuple(3u, 2u, (uint8_t)1));
    w = h = 77;
    f[28] = 1;   // interlaced
    EXPECT_EQ(GUI_PNG_GetSize(f.data(), (uint32_t)f.size(), &w, &h, &a), PNG_UNSUPPORTED);
    EXPECT_EQ(GUI_PNG_GetSize(f.data(), 20, &w, &h, &a), PNG_NOT_PNG);
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(77u, 77u));
}

TEST_F(PngDraw, OrdinaryColourConversion) {
    // Truecolour (200, 100, 50): red 5, green 3, blue 1.
    ASSERT_EQ(draw(image(2, 2, {{200, 100, 50, 255, 255, 255}, {0, 0, 0, 128, 128, 128}}).build(), 0, 0), 0);
    EXPECT_EQ(row(0, 0, 2), (Bytes{173, 0xFF}));
    EXPECT_EQ(row(0, 1, 2), (Bytes{0x00, 146}));

    // Grey samples are shifted up without bit replication, then quantised.
    struct Case {
        int depth;
        std::vector<uint32_t> samples;
        Bytes want;
    } cases[] = {
        {1, {1, 0, 1}, {146, 0, 146}},
        {2, {3, 2, 1, 0}, {182, 146, 0x49, 0}},  // 192 -> 5,5,2; 128 -> 4,4,2; 64 -> 2,2,1
        {4, {15, 8, 1}, {0xFF, 146, 0}},         // 240 -> 7,7,3; 16 -> 0,0,0
        {8, {248, 37}, {0xFF, 0x24}},            // 37 -> 1,1,0
    };
    for (const Case &c : cases) {
        Bytes packed = pngtest::packSamples(c.samples, c.depth);
        ASSERT_EQ(draw(image(0, (uint32_t)c.samples.size(), {packed, packed}, false, (uint8_t)c.depth).build(), 10, 10),
                  0);
        EXPECT_EQ(row(10, 11, (int)c.want.size()), c.want) << "depth " << c.depth;
    }
}

TEST_F(PngDraw, AlphaBlendingWorkedByHand) {
    memset(fb, 0x00, sizeof fb);
    // Grey with alpha over black. Alpha 0: untouched; 255: the grey; 7:
    // stored as is; 16: weight 0; 128: weight 4, half of white on black =
    // red 3, green 3, blue 1; 64: weight 2 of white = red 1, green 1, blue 0
    // (2 x 3 x 2 / 8 halved).
    ASSERT_EQ(draw(image(4, 6, {{255, 0, 255, 255, 255, 7, 255, 16, 255, 128, 255, 64}, Bytes(12, 0)}).build(), 0, 0),
              0);
    EXPECT_EQ(row(0, 0, 6), (Bytes{0x00, 0xFF, 0xFF, 0x00, 0x6D, 0x24}));

    // Truecolour with alpha: pure red at weight 4 over black, and pure blue
    // at weight 4 over white (blue stays, red and green halve to 3).
    fb[1 * 640 + 11] = 0xFF;
    ASSERT_EQ(draw(image(6, 2, {{255, 0, 0, 128, 0, 0, 255, 128}, Bytes(8, 0)}).build(), 10, 1), 0);
    EXPECT_EQ(row(10, 1, 2), (Bytes{0x60, 0x6F}));
}

TEST_F(PngDraw, OrvRowsAreColourIndices) {
    PngSpec g = image(0, 2, {{0xF8, 0x00}, {0x03, 0x1C}}, true);
    ASSERT_EQ(draw(g.build(), 0, 0), 0);
    EXPECT_EQ(row(0, 0, 2), (Bytes{0xF8, 0x00}));
    EXPECT_EQ(row(0, 1, 2), (Bytes{0x03, 0x1C}));
    // The same file without the marker is an ordinary grey image.
    g.orv = false;
    ASSERT_EQ(draw(g.build(), 0, 0), 0);
    EXPECT_EQ(row(0, 0, 2), (Bytes{0xFF, 0x00}));
    EXPECT_EQ(row(0, 1, 2), (Bytes{0x00, 0x24}));

    // Index and alpha pairs, blended over black: alpha 255 and 7 store the
    // index, 0 leaves the pixel, 128 mixes white at weight 4.
    memset(fb, 0x00, sizeof fb);
    ASSERT_EQ(draw(image(4, 4, {{0xE0, 255, 0x1C, 0, 0x03, 7, 0xFF, 128}, Bytes(8, 0)}, true).build(), 0, 0), 0);
    EXPECT_EQ(row(0, 0, 4), (Bytes{0xE0, 0x00, 0x03, 0x6D}));

    // Truecolour has no meaning in an ORV file: nothing is drawn.
    memset(fb, kBackground, sizeof fb);
    EXPECT_EQ(draw(image(2, 2, {Bytes(6, 9), Bytes(6, 9)}, true).build(), 0, 0), 0);
    EXPECT_EQ(changed(), 0);
}

TEST_F(PngDraw, IndexedImagesWiderThanTheScreen) {
    Bytes rows[2];
    for (int r = 0; r < 2; r++) {
        for (uint32_t x = 0; x < 2000; x++) rows[r].push_back((uint8_t)(x * 3 + r));
    }
    PngSpec s = image(3, 2000, {rows[0], rows[1]}, true);
    for (int i = 0; i < 256; i++) s.palette.insert(s.palette.end(), {(uint8_t)i, (uint8_t)i, (uint8_t)i});
    ASSERT_EQ(draw(s.build(), -1000, 0), 0);
    for (int x = 0; x < 640; x++) {
        ASSERT_EQ(px(x, 0), (uint8_t)((x + 1000) * 3)) << x;
        ASSERT_EQ(px(x, 1), (uint8_t)((x + 1000) * 3 + 1)) << x;
    }
    EXPECT_EQ(px(0, 2), kBackground);
}

TEST_F(PngDraw, PaletteIndexPastThePaletteDrawsBlack) {
    // Leave a recognisable pattern where the decoder record will lie.
    uint32_t mark = GUI_AllocStart();
    memset(GUI_AllocNoInit(PNG_CONTEXT_BYTES), 0xAB, PNG_CONTEXT_BYTES);
    GUI_AllocEnd(mark);
    PngSpec s = image(3, 3, {pngtest::packSamples({0, 1, 9}, 4), pngtest::packSamples({15, 1, 0}, 4)}, false, 4);
    s.palette = {255, 255, 255, 0, 0, 255};
    ASSERT_EQ(draw(s.build(), 0, 0), 0);
    EXPECT_EQ(row(0, 0, 3), (Bytes{0xFF, 0x03, 0x00}));
    EXPECT_EQ(row(0, 1, 3), (Bytes{0x00, 0x03, 0xFF}));
}

// Decoding stops at the first row below the clip: what follows is never
// inflated, so damage there goes unnoticed.
TEST_F(PngDraw, DecodingStopsBelowTheClip) {
    PngSpec s = orvGrey(8, 40);
    s.withIend = false;
    s.rowsToCompress = 30;  // and the file ends without IEND
    Bytes f = s.build();
    EXPECT_EQ(draw(f, 0, 0), PNG_CORRUPT);
    memset(fb, kBackground, sizeof fb);
    GUI_SetClipRect(0, 0, 639, 9);
    EXPECT_EQ(draw(f, 0, 0), 0);
    EXPECT_EQ(px(7, 9), value(7, 9));
    EXPECT_EQ(changed(), 80);
}
