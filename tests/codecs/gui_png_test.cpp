// Drawing PNG and ORV images: conversion to colour indices, alpha blending,
// placement, clipping on every side, and the pool discipline.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "codecs/GUI_PNG.h"
#include "codecs/png.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Alloc.h"
#include "gui/GUI_Common.h"
#include "tests/codecs/png_builder.h"
#include "tests/support/device_fixture.h"

using pngtest::Bytes;
using pngtest::ExactBuffer;
using pngtest::PngSpec;

namespace {

constexpr uint8_t kBackground = 0x49;   // a colour no test image uses by chance

class PngDraw : public BareDeviceTest {
protected:
    void SetUp() override {
        BareDeviceTest::SetUp();
        memset(fb, kBackground, sizeof fb);
    }
    int draw(const Bytes &file, int32_t x, int32_t y) {
        ExactBuffer b(file);
        return GUI_PNG_Draw(b.data, b.size, x, y);
    }
    static uint8_t px(int x, int y) { return fb[y * 640 + x]; }
    // Counts frame-buffer pixels that differ from the background.
    static int changed() {
        int n = 0;
        for (uint8_t v : fb) n += v != kBackground;
        return n;
    }
};

// An ORV grey image whose pixel (x, y) holds the index value(x, y).
uint8_t value(uint32_t x, uint32_t y) {
    uint8_t v = (uint8_t)(1 + x * 7 + y * 29);
    return v == kBackground ? 0 : v;
}
PngSpec orvGrey(uint32_t w, uint32_t h) {
    PngSpec s;
    s.width = w;
    s.height = h;
    s.colorType = 0;
    s.orv = true;
    for (uint32_t y = 0; y < h; y++) {
        Bytes row;
        for (uint32_t x = 0; x < w; x++) row.push_back(value(x, y));
        s.rows.push_back(row);
        s.filters.push_back((uint8_t)(y % 5));
    }
    return s;
}

// A 4-bit ORV palette image with the same pixel values (16 distinct ones
// per position pattern, looked up through the palette).
PngSpec orvPalette4(uint32_t w, uint32_t h) {
    PngSpec s;
    s.width = w;
    s.height = h;
    s.depth = 4;
    s.colorType = 3;
    s.orv = true;
    for (int i = 0; i < 16; i++) s.palette.insert(s.palette.end(), {(uint8_t)(i * 16 + 1), 0, 0});
    for (uint32_t y = 0; y < h; y++) {
        std::vector<uint32_t> samples;
        for (uint32_t x = 0; x < w; x++) samples.push_back((x + 3 * y) % 16);
        s.rows.push_back(pngtest::packSamples(samples, 4));
    }
    return s;
}
uint8_t paletteValue(uint32_t x, uint32_t y) { return (uint8_t)(((x + 3 * y) % 16) * 16 + 1); }

}  // namespace

TEST_F(PngDraw, SinglePixelLinesAreNeverDrawn) {
    for (auto [w, h] : {std::pair{1u, 10u}, std::pair{10u, 1u}}) {
        Bytes f = orvGrey(w, h).build();
        EXPECT_EQ(draw(f, 5, 5), -1);
        uint32_t xs = 0, ys = 0;
        uint8_t alpha = 9;
        EXPECT_EQ(GUI_PNG_GetSize(f.data(), (uint32_t)f.size(), &xs, &ys, &alpha), 0);
        EXPECT_EQ(xs, w);
        EXPECT_EQ(ys, h);
        EXPECT_EQ(alpha, 0);
    }
    EXPECT_EQ(changed(), 0);
}

TEST_F(PngDraw, GetSizeReportsAlphaAndRefusals) {
    PngSpec s = orvGrey(3, 2);
    s.colorType = 4;
    s.orv = false;
    uint32_t w = 0, h = 0;
    uint8_t a = 0;
    Bytes f = s.build();
    EXPECT_EQ(GUI_PNG_GetSize(f.data(), (uint32_t)f.size(), &w, &h, &a), 0);
    EXPECT_EQ(a, 1);
    w = h = 77;
    f[28] = 1;   // interlaced
    EXPECT_EQ(GUI_PNG_GetSize(f.data(), (uint32_t)f.size(), &w, &h, &a), PNG_UNSUPPORTED);
    EXPECT_EQ(GUI_PNG_GetSize(f.data(), 20, &w, &h, &a), PNG_NOT_PNG);
    EXPECT_EQ(w, 77u);
    EXPECT_EQ(h, 77u);
}

TEST_F(PngDraw, PlacementAtTheOrigin) {
    Bytes f = orvGrey(20, 4).build();
    EXPECT_EQ(draw(f, -20, 0), -1);
    EXPECT_EQ(draw(f, 0, -4), -1);
    EXPECT_EQ(changed(), 0);
    EXPECT_EQ(draw(f, -19, 0), 0);
    for (int y = 0; y < 4; y++) EXPECT_EQ(px(0, y), value(19, y));
    EXPECT_EQ(px(1, 0), kBackground);
    EXPECT_EQ(changed(), 4);
}

TEST_F(PngDraw, ImagesOutsideTheClipDrawNothing) {
    Bytes f = orvGrey(20, 20).build();
    EXPECT_EQ(draw(f, 640, 10), 0);
    EXPECT_EQ(draw(f, 10, 400), 0);
    GUI_SetClipRect(100, 100, 199, 199);
    EXPECT_EQ(draw(f, 200, 100), 0);
    EXPECT_EQ(draw(f, 100, 200), 0);
    EXPECT_EQ(draw(f, 79, 100), 0);     // right edge at 99
    EXPECT_EQ(changed(), 0);
}

TEST_F(PngDraw, RowsAboveTheScreenAreSkipped) {
    Bytes f = orvGrey(6, 10).build();
    EXPECT_EQ(draw(f, 3, -5), 0);
    for (int y = 0; y < 5; y++)
        for (int x = 0; x < 6; x++) EXPECT_EQ(px(3 + x, y), value(x, y + 5));
    EXPECT_EQ(changed(), 30);
}

// Every placement around a small clip rectangle: each pixel inside both the
// clip and the image shows the right source pixel, nothing else changes.
TEST_F(PngDraw, ClippingOnEverySide) {
    const int cx0 = 100, cy0 = 50, cx1 = 111, cy1 = 58;
    struct Kind {
        const char *name;
        PngSpec spec;
        uint8_t (*expected)(uint32_t, uint32_t);
    } kinds[] = {{"orv grey", orvGrey(9, 7), value}, {"orv palette 4", orvPalette4(9, 7), paletteValue}};
    for (const Kind &k : kinds) {
        Bytes f = k.spec.build();
        for (int y = cy0 - 8; y <= cy1 + 1; y += 3) {
            for (int x = cx0 - 10; x <= cx1 + 1; x += 2) {
                memset(fb, kBackground, sizeof fb);
                GUI_SetClipRect(cx0, cy0, cx1, cy1);
                ASSERT_EQ(draw(f, x, y), 0);
                for (int py = cy0 - 10; py <= cy1 + 10; py++) {
                    for (int pxl = cx0 - 12; pxl <= cx1 + 12; pxl++) {
                        bool inClip = pxl >= cx0 && pxl <= cx1 && py >= cy0 && py <= cy1;
                        bool inImage = pxl >= x && pxl < x + 9 && py >= y && py < y + 7;
                        uint8_t want = inClip && inImage ? k.expected(pxl - x, py - y) : kBackground;
                        ASSERT_EQ(px(pxl, py), want) << k.name << " at " << x << "," << y << " pixel " << pxl
                                                      << "," << py;
                    }
                }
            }
        }
    }
}

TEST_F(PngDraw, InvertedClipRectangleDrawsNothing) {
    Bytes f = orvGrey(50, 5).build();
    GUI_SetClipRect(100, 0, 50, 399);
    EXPECT_EQ(draw(f, 40, 0), 0);
    GUI_SetClipRect(700, 0, 900, 399);
    EXPECT_EQ(draw(f, 0, 0), 0);
    EXPECT_EQ(changed(), 0);
}

TEST_F(PngDraw, OrdinaryColourConversion) {
    // Truecolour (200, 100, 50): red 5, green 3, blue 1.
    PngSpec rgb;
    rgb.width = 2;
    rgb.height = 2;
    rgb.colorType = 2;
    rgb.rows = {{200, 100, 50, 255, 255, 255}, {0, 0, 0, 128, 128, 128}};
    ASSERT_EQ(draw(rgb.build(), 0, 0), 0);
    EXPECT_EQ(px(0, 0), 173);
    EXPECT_EQ(px(1, 0), 0xFF);
    EXPECT_EQ(px(0, 1), 0x00);
    EXPECT_EQ(px(1, 1), 146);

    // Grey samples are shifted up without bit replication, then quantised.
    struct Case {
        int depth;
        std::vector<uint32_t> samples;
        std::vector<uint8_t> want;
    } cases[] = {
        {1, {1, 0, 1}, {146, 0, 146}},
        {2, {3, 2, 1, 0}, {182, 146, 0x49, 0}},      // 192 -> 5,5,2; 128 -> 4,4,2; 64 -> 2,2,1
        {4, {15, 8, 1}, {0xFF, 146, 0}},             // 240 -> 7,7,3; 16 -> 0,0,0
        {8, {248, 37}, {0xFF, 0x24}},                // 37 -> 1,1,0
    };
    for (const Case &c : cases) {
        memset(fb, kBackground, sizeof fb);
        PngSpec g;
        g.width = (uint32_t)c.samples.size();
        g.height = 2;
        g.depth = (uint8_t)c.depth;
        g.colorType = 0;
        g.rows = {pngtest::packSamples(c.samples, c.depth), pngtest::packSamples(c.samples, c.depth)};
        ASSERT_EQ(draw(g.build(), 10, 10), 0);
        for (size_t i = 0; i < c.want.size(); i++) EXPECT_EQ(px(10 + (int)i, 11), c.want[i]) << "depth " << c.depth;
    }
}

TEST_F(PngDraw, AlphaBlendingWorkedByHand) {
    memset(fb, 0x00, sizeof fb);
    // Grey with alpha over black.
    PngSpec ga;
    ga.width = 6;
    ga.height = 2;
    ga.colorType = 4;
    // alpha 0: untouched; 255: the grey; 7: stored as is; 16: weight 0;
    // 128: weight 4, half of white on black = red 3, green 3, blue 1;
    // 64: weight 2 of white = red 1, green 1, blue 0 (2 x 3 x 2 / 8 halved).
    ga.rows = {{255, 0, 255, 255, 255, 7, 255, 16, 255, 128, 255, 64}, Bytes(12, 0)};
    ASSERT_EQ(draw(ga.build(), 0, 0), 0);
    EXPECT_EQ(px(0, 0), 0x00);
    EXPECT_EQ(px(1, 0), 0xFF);
    EXPECT_EQ(px(2, 0), 0xFF);
    EXPECT_EQ(px(3, 0), 0x00);
    EXPECT_EQ(px(4, 0), 0x6D);
    EXPECT_EQ(px(5, 0), 0x24);

    // Truecolour with alpha: pure red at weight 4 over black, and pure blue
    // at weight 4 over white (blue stays, red and green halve to 3).
    fb[1 * 640 + 11] = 0xFF;
    PngSpec rgba;
    rgba.width = 2;
    rgba.height = 2;
    rgba.colorType = 6;
    rgba.rows = {{255, 0, 0, 128, 0, 0, 255, 128}, Bytes(8, 0)};
    ASSERT_EQ(draw(rgba.build(), 10, 1), 0);
    EXPECT_EQ(px(10, 1), 0x60);
    EXPECT_EQ(px(11, 1), 0x6F);
}

TEST_F(PngDraw, OrvRowsAreColourIndices) {
    PngSpec g;
    g.width = 2;
    g.height = 2;
    g.colorType = 0;
    g.orv = true;
    g.rows = {{0xF8, 0x00}, {0x03, 0x1C}};
    ASSERT_EQ(draw(g.build(), 0, 0), 0);
    EXPECT_EQ(px(0, 0), 0xF8);
    EXPECT_EQ(px(1, 0), 0x00);
    EXPECT_EQ(px(0, 1), 0x03);
    EXPECT_EQ(px(1, 1), 0x1C);
    // The same file without the marker is an ordinary grey image.
    g.orv = false;
    ASSERT_EQ(draw(g.build(), 0, 0), 0);
    EXPECT_EQ(px(0, 0), 0xFF);
    EXPECT_EQ(px(0, 1), 0x00);

    // Index and alpha pairs, blended over black: alpha 255 and 7 store the
    // index, 0 leaves the pixel, 128 mixes white at weight 4.
    memset(fb, 0x00, sizeof fb);
    PngSpec ga;
    ga.width = 4;
    ga.height = 2;
    ga.colorType = 4;
    ga.orv = true;
    ga.rows = {{0xE0, 255, 0x1C, 0, 0x03, 7, 0xFF, 128}, Bytes(8, 0)};
    ASSERT_EQ(draw(ga.build(), 0, 0), 0);
    EXPECT_EQ(px(0, 0), 0xE0);
    EXPECT_EQ(px(1, 0), 0x00);
    EXPECT_EQ(px(2, 0), 0x03);
    EXPECT_EQ(px(3, 0), 0x6D);

    // Truecolour has no meaning in an ORV file: nothing is drawn.
    memset(fb, kBackground, sizeof fb);
    PngSpec rgb;
    rgb.width = 2;
    rgb.height = 2;
    rgb.colorType = 2;
    rgb.orv = true;
    rgb.rows = {Bytes(6, 9), Bytes(6, 9)};
    EXPECT_EQ(draw(rgb.build(), 0, 0), 0);
    EXPECT_EQ(changed(), 0);
}

TEST_F(PngDraw, OrvPaletteDrawnLeftOfTheOrigin) {
    Bytes f = orvPalette4(9, 3).build();
    ASSERT_EQ(draw(f, -3, 0), 0);
    EXPECT_EQ(px(0, 0), paletteValue(3, 0));
    EXPECT_EQ(px(5, 2), paletteValue(8, 2));
    EXPECT_EQ(changed(), 18);
}

// Sub-8-bit depths for types that need 8-bit samples have rows too short to
// read that way: nothing is drawn and nothing is read past the row.
TEST_F(PngDraw, UndefinedDepthCombinationsDrawNothing) {
    for (auto [type, orv] : {std::pair{2, false}, std::pair{6, false}, std::pair{4, false}, std::pair{0, true},
                             std::pair{4, true}}) {
        PngSpec s;
        s.width = 2000;
        s.height = 2;
        s.depth = 1;
        s.colorType = (uint8_t)type;
        s.orv = orv;
        size_t samples = type == 2 ? 3 : type == 6 ? 4 : type == 4 ? 2 : 1;
        s.rows = {Bytes((2000 * samples + 7) / 8, 0xA5), Bytes((2000 * samples + 7) / 8, 0x5A)};
        EXPECT_EQ(draw(s.build(), -1000, 0), 0) << type;
    }
    EXPECT_EQ(changed(), 0);
}

TEST_F(PngDraw, IndexedImagesWiderThanTheScreen) {
    PngSpec s;
    s.width = 2000;
    s.height = 2;
    s.depth = 8;
    s.colorType = 3;
    for (int i = 0; i < 256; i++) s.palette.insert(s.palette.end(), {(uint8_t)i, (uint8_t)i, (uint8_t)i});
    s.orv = true;
    for (int r = 0; r < 2; r++) {
        Bytes row;
        for (uint32_t x = 0; x < 2000; x++) row.push_back((uint8_t)(x * 3 + r));
        s.rows.push_back(row);
    }
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
    PngSpec s;
    s.width = 3;
    s.height = 2;
    s.depth = 4;
    s.colorType = 3;
    s.palette = {255, 255, 255, 0, 0, 255};
    s.rows = {pngtest::packSamples({0, 1, 9}, 4), pngtest::packSamples({15, 1, 0}, 4)};
    ASSERT_EQ(draw(s.build(), 0, 0), 0);
    EXPECT_EQ(px(0, 0), 0xFF);
    EXPECT_EQ(px(1, 0), 0x03);
    EXPECT_EQ(px(2, 0), 0x00);
    EXPECT_EQ(px(0, 1), 0x00);
}

// Decoding stops at the first row below the clip: what follows is never
// inflated, so damage there goes unnoticed.
TEST_F(PngDraw, DecodingStopsBelowTheClip) {
    PngSpec s = orvGrey(8, 40);
    s.withIend = false;
    s.rowsToCompress = 30;       // and the file ends without IEND
    Bytes f = s.build();
    EXPECT_EQ(draw(f, 0, 0), PNG_CORRUPT);
    memset(fb, kBackground, sizeof fb);
    GUI_SetClipRect(0, 0, 639, 9);
    EXPECT_EQ(draw(f, 0, 0), 0);
    EXPECT_EQ(px(7, 9), value(7, 9));
    EXPECT_EQ(changed(), 80);
}

TEST_F(PngDraw, HostileSizesEndCleanly) {
    PngSpec s = orvGrey(4, 3);
    s.height = 0x7FFFFFFFu;
    EXPECT_EQ(draw(s.build(), 0, 0), 0);     // the stream ends, IEND follows
    EXPECT_EQ(changed(), 12);
    s.height = 0xFFFFFFFFu;
    EXPECT_EQ(draw(s.build(), 0, -0x7FFFFFFF), 0);
    PngSpec wide = orvGrey(4, 3);
    wide.width = 0x80000000u;
    EXPECT_EQ(draw(wide.build(), 0, 0), PNG_UNSUPPORTED);
    EXPECT_EQ(draw(Bytes(40, 0xFF), 0, 0), PNG_NOT_PNG);
}

TEST_F(PngDraw, PoolIsGivenBackOnEveryPath) {
    const uint32_t before = GUI_GetNumFreeBytes();
    Bytes good = orvGrey(5, 5).build();
    Bytes corrupt = good;
    corrupt.resize(corrupt.size() - 20);
    EXPECT_EQ(draw(good, 0, 0), 0);
    EXPECT_EQ(GUI_GetNumFreeBytes(), before);
    EXPECT_EQ(draw(corrupt, 0, 0), PNG_CORRUPT);
    EXPECT_EQ(GUI_GetNumFreeBytes(), before);
    EXPECT_EQ(draw(Bytes(10, 0), 0, 0), PNG_NOT_PNG);
    EXPECT_EQ(GUI_GetNumFreeBytes(), before);
    // A pool without room for the decoder refuses the image instead of
    // ending the program.
    uint32_t mark = GUI_AllocStart();
    GUI_AllocNoInit(GUI_GetNumFreeBytes() - 1000);
    EXPECT_EQ(draw(good, 0, 0), PNG_INFLATE_INIT_FAILED);
    GUI_AllocEnd(mark);
    EXPECT_EQ(GUI_GetNumFreeBytes(), before);
}

TEST_F(PngDraw, DrawsIntoAnOffScreenBuffer) {
    uint8_t picture[9 * 7];
    memset(picture, 0, sizeof picture);
    GUI_SetFrameBufferBase(picture, 9, 7);
    EXPECT_EQ(draw(orvGrey(9, 7).build(), 0, 0), 0);
    GUI_RestoreFrameBufferBase();
    for (uint32_t y = 0; y < 7; y++)
        for (uint32_t x = 0; x < 9; x++) EXPECT_EQ(picture[y * 9 + x], value(x, y));
    EXPECT_EQ(changed(), 0);
}

// Random damage anywhere in a file, header included: every draw ends with a
// result code, leaves the pool as it was, and writes only inside the clip.
TEST_F(PngDraw, DamagedFilesNeverEscape) {
    PngSpec s = orvPalette4(40, 30);
    s.filters = {1, 2, 3, 4, 0};
    s.idatPiece = 64;
    const Bytes good = s.build();
    const uint32_t before = GUI_GetNumFreeBytes();
    std::mt19937 rng(2024);
    GUI_SetClipRect(100, 100, 299, 199);
    for (int trial = 0; trial < 400; trial++) {
        Bytes f = good;
        int flips = 1 + (int)(rng() % 4);
        for (int k = 0; k < flips; k++) f[rng() % f.size()] = (uint8_t)rng();
        if (trial % 5 == 0) f.resize(32 + rng() % (f.size() - 32));
        int r = draw(f, 90 + (int)(rng() % 40), 90 + (int)(rng() % 40));
        EXPECT_TRUE(r >= -1 && r <= 4) << r;
        ASSERT_EQ(GUI_GetNumFreeBytes(), before);
    }
    for (int y = 0; y < 400; y++) {
        for (int x = 0; x < 640; x++) {
            if (x < 100 || x > 299 || y < 100 || y > 199) {
                ASSERT_EQ(px(x, y), kBackground) << x << "," << y;
            }
        }
    }
}
