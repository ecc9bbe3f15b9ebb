// SIF fonts: opening checks, glyph lookup, UTF-8, line preparation, and the
// exact clipping of glyph blending.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Common.h"
#include "gui/GUI_Font.h"
#include "host/bytes.h"
#include "resources/builtin_fonts.h"
#include "tests/support/device_fixture.h"
#include "tests/support/sif_builder.h"

using testsupport::expectedCoverage;
using testsupport::SifBuilder;
using testsupport::SifGlyph;

namespace {

// A record filled with a recognisable pattern, to see whether opening wrote it.
GUI_FONT sentinelFont() {
    GUI_FONT f;
    memset(&f, 0, sizeof f);
    f.height = 0xAB;
    f.dataSize = 0xCAFE;
    return f;
}

std::vector<uint8_t> threeRangeFont() {
    SifBuilder b(10, 12, 2);
    for (uint16_t c = 'A'; c <= 'C'; c++) b.solid(c, 2, 2, 0, 0, 10 + (c - 'A'), 3);
    for (uint16_t c = '0'; c <= '1'; c++) b.solid(c, 2, 2, 0, 0, 20 + (c - '0'), 3);
    for (uint16_t c = 0x3B1; c <= 0x3B2; c++) b.solid(c, 2, 2, 0, 0, 30 + (c - 0x3B1), 3);
    return b.build();
}

int advanceOf(GUI_GlyphRef g) { return rd16le(g + SIF_GLYPH_ADVANCE); }

}  // namespace

// ------------------------------------------------------------------ opening

TEST(SifOpen, ValidFontFillsTheRecord) {
    SifBuilder b(20, 300, 4);   // line distance keeps only its low 8 bits
    b.solid('A', 3, 4, 0, 0, 5, 15);
    auto sif = b.build();
    GUI_FONT f = sentinelFont();
    ASSERT_EQ(GUI_SIF_CreateFont(sif.data(), &f, 4, (uint32_t)sif.size()), 0);
    EXPECT_EQ(f.height, 20);
    EXPECT_EQ(f.lineDistance, 300 & 0xFF);
    EXPECT_EQ(f.bitsPerPixel, 4);
    EXPECT_EQ(f.data, sif.data());
    EXPECT_EQ(f.dataSize, sif.size());
}

TEST(SifOpen, HeaderChecksLeaveTheRecordUntouched) {
    SifBuilder b(20, 20, 2);
    b.solid('A', 3, 4, 0, 0, 5, 3);
    const auto good = b.build();
    struct Case {
        const char *what;
        size_t offset;
        uint16_t value;
    } cases[] = {
        {"magic", 0, 0x5546}, {"height 5", 4, 5}, {"height 151", 4, 151}, {"0 ranges", 14, 0}, {"33 ranges", 14, 33},
    };
    for (const auto &c : cases) {
        auto sif = good;
        SifBuilder::put16(sif, c.offset, c.value);
        GUI_FONT f = sentinelFont();
        EXPECT_EQ(GUI_SIF_CreateFont(sif.data(), &f, 2, (uint32_t)sif.size()), -1) << c.what;
        EXPECT_EQ(f.height, 0xAB) << c.what;
        EXPECT_EQ(f.dataSize, 0xCAFEu) << c.what;
    }
    // Heights 6 and 150 are the limits that open.
    for (uint16_t h : {6, 150}) {
        auto sif = good;
        SifBuilder::put16(sif, 4, h);
        GUI_FONT f{};
        EXPECT_EQ(GUI_SIF_CreateFont(sif.data(), &f, 2, (uint32_t)sif.size()), 0) << h;
    }
}

TEST(SifOpen, FileShorterThanItsHeaderIsRefused) {
    SifBuilder b(20, 20, 2);
    b.solid('A', 1, 1, 0, 0, 5, 3);
    auto sif = b.build();
    for (uint32_t size : {0u, 4u, 15u}) {
        std::vector<uint8_t> cut(sif.begin(), sif.begin() + size);
        GUI_FONT f = sentinelFont();
        EXPECT_EQ(GUI_SIF_CreateFont(cut.data(), &f, 2, size), -1) << size;
    }
}

TEST(SifOpen, TablesPastTheEndOfTheFileAreRefused) {
    auto sif = threeRangeFont();   // 3 ranges, 7 glyphs, table at 28
    GUI_FONT f{};
    ASSERT_EQ(GUI_SIF_CreateFont(sif.data(), &f, 2, (uint32_t)sif.size()), 0);
    // Cut inside the range table, inside the last glyph entry, and just
    // after the glyph table (the glyph data is then missing).
    for (uint32_t size : {24u, 28u + 16 * 7 - 1, 28u + 16 * 7}) {
        std::vector<uint8_t> cut(sif.begin(), sif.begin() + size);
        EXPECT_EQ(GUI_SIF_CreateFont(cut.data(), &f, 2, size), -1) << size;
    }
}

TEST(SifOpen, GlyphHeightLimitIsTwiceTheFontHeight) {
    for (int rows : {20, 21}) {
        SifBuilder b(10, 10, 2);
        b.solid('A', 1, rows, 0, 0, 2, 3);
        auto sif = b.build();
        GUI_FONT f{};
        EXPECT_EQ(GUI_SIF_CreateFont(sif.data(), &f, 2, (uint32_t)sif.size()), rows == 20 ? 0 : -1) << rows;
    }
}

TEST(SifOpen, GlyphDataIsCheckedWithoutRowPadding) {
    // 5 x 4 pixels at 2 bits: 40 bits of data, 5 bytes, though the padded
    // rows take 8.
    SifBuilder b(10, 10, 2);
    b.solid('A', 5, 4, 0, 0, 6, 3);
    auto sif = b.build();
    const uint32_t dataOffset = rd32le(sif.data() + 20 + SIF_GLYPH_DATA_OFFSET);
    GUI_FONT f{};
    EXPECT_EQ(GUI_SIF_CreateFont(sif.data(), &f, 2, dataOffset + 5), 0);
    EXPECT_EQ(GUI_SIF_CreateFont(sif.data(), &f, 2, dataOffset + 4), -1);
    // The same glyph at 4 bits needs twice as much.
    EXPECT_EQ(GUI_SIF_CreateFont(sif.data(), &f, 4, dataOffset + 9), -1);
    EXPECT_EQ(GUI_SIF_CreateFont(sif.data(), &f, 4, dataOffset + 10), 0);
    // A data offset near 4 GiB must not wrap around.
    SifBuilder::put32(sif, 20 + SIF_GLYPH_DATA_OFFSET, 0xFFFFFFFFu);
    EXPECT_EQ(GUI_SIF_CreateFont(sif.data(), &f, 2, (uint32_t)sif.size()), -1);
}

// ------------------------------------------------------------------ lookup

TEST(SifLookup, GlyphsAreNumberedAcrossRanges) {
    auto sif = threeRangeFont();
    GUI_FONT f{};
    ASSERT_EQ(GUI_SIF_CreateFont(sif.data(), &f, 2, (uint32_t)sif.size()), 0);
    const uint8_t *table = sif.data() + 16 + 4 * 3;
    struct Case {
        uint16_t code;
        int glyph;
    } cases[] = {{'A', 0}, {'C', 2}, {'0', 3}, {'1', 4}, {0x3B1, 5}, {0x3B2, 6}};
    for (const auto &c : cases) {
        GUI_GlyphRef g = GUI_SIF_GetCharInfo(&f, c.code);
        EXPECT_EQ(g, table + 16 * c.glyph) << std::hex << c.code;
    }
    EXPECT_EQ(advanceOf(GUI_SIF_GetCharInfo(&f, 'B')), 11);
    EXPECT_EQ(advanceOf(GUI_SIF_GetCharInfo(&f, 0x3B2)), 31);
    for (uint16_t code : {0x00, 0x2F, 0x32, 0x40, 0x44, 0x3B0, 0x3B3, 0xFFFF}) {
        EXPECT_EQ(GUI_SIF_GetCharInfo(&f, code), nullptr) << std::hex << code;
    }
}

TEST(SifLookup, FirstMatchingRangeWinsAndEmptyRangesHoldNothing) {
    // Ranges: [B..A] (empty), [A..B], [A..A]: 'A' is glyph 0 of the second
    // range, and the third range's glyph follows at number 2.
    std::vector<uint8_t> sif(16 + 12 + 3 * 16 + 3, 0);
    SifBuilder::put32(sif, 0, 0x50495547u);
    SifBuilder::put16(sif, 4, 10);
    SifBuilder::put16(sif, 14, 3);
    const uint16_t ranges[] = {'B', 'A', 'A', 'B', 'A', 'A'};
    for (int i = 0; i < 6; i++) SifBuilder::put16(sif, 16 + 2 * i, ranges[i]);
    for (int g = 0; g < 3; g++) {
        SifBuilder::put16(sif, 28 + 16 * g + SIF_GLYPH_ADVANCE, (uint16_t)(g + 1));
        SifBuilder::put32(sif, 28 + 16 * g + SIF_GLYPH_DATA_OFFSET, 76);
    }
    GUI_FONT f{};
    ASSERT_EQ(GUI_SIF_CreateFont(sif.data(), &f, 2, (uint32_t)sif.size()), 0);
    EXPECT_EQ(GUI_SIF_GetCharInfo(&f, 'A'), sif.data() + 28);
    EXPECT_EQ(GUI_SIF_GetCharInfo(&f, 'B'), sif.data() + 28 + 16);
}

TEST(SifLookup, BuiltInFontsCarryTheirHeaderValues) {
    struct Case {
        const uint8_t *data;
        uint32_t size;
        int height, lineDistance, baseline, lowerHeight, capitalHeight;
    } cases[] = {
        {BUILTIN_FONT_SMALL_SIF, BUILTIN_FONT_SMALL_SIF_size, 22, 22, 17, 12, 16},
        {BUILTIN_FONT_MEDIUM_SIF, BUILTIN_FONT_MEDIUM_SIF_size, 34, 34, 27, 19, 25},
        {BUILTIN_FONT_BIG_SIF, BUILTIN_FONT_BIG_SIF_size, 43, 43, 34, 23, 31},
    };
    for (const auto &c : cases) {
        const uint8_t *h = c.data;
        EXPECT_EQ(rd16le(h + 4), c.height);
        EXPECT_EQ(rd16le(h + 6), c.lineDistance);
        EXPECT_EQ(rd16le(h + 8), c.baseline);
        EXPECT_EQ(rd16le(h + 10), c.lowerHeight);
        EXPECT_EQ(rd16le(h + 12), c.capitalHeight);
        EXPECT_EQ(rd16le(h + 14), 1);
        EXPECT_EQ(rd16le(h + 16), 0x20);
        EXPECT_EQ(rd16le(h + 18), 0x7E);
        // The first glyph's data starts right after the 95-entry table.
        EXPECT_EQ(rd32le(h + 20 + SIF_GLYPH_DATA_OFFSET), 1540u);
        GUI_FONT f{};
        ASSERT_EQ(GUI_SIF_CreateFont(c.data, &f, 2, c.size), 0);
        // Every printable character is there and fits the line box.
        for (uint16_t code = 0x20; code <= 0x7E; code++) {
            GUI_GlyphRef g = GUI_SIF_GetCharInfo(&f, code);
            ASSERT_NE(g, nullptr);
            EXPECT_GT(advanceOf(g), 0) << code;
            EXPECT_GE((int16_t)rd16le(g + SIF_GLYPH_YOFFSET), 0) << code;
            EXPECT_LE((int16_t)rd16le(g + SIF_GLYPH_YOFFSET) + rd16le(g + SIF_GLYPH_HEIGHT), c.height + c.height / 3)
                << code;
        }
        // 'H' stands on the baseline with the capital height.
        GUI_GlyphRef H = GUI_SIF_GetCharInfo(&f, 'H');
        EXPECT_EQ((int16_t)rd16le(H + SIF_GLYPH_YOFFSET), c.baseline - c.capitalHeight);
        EXPECT_EQ(rd16le(H + SIF_GLYPH_HEIGHT), c.capitalHeight);
    }
}

// ------------------------------------------------------------------- UTF-8

TEST(Utf8, DecodesOneTwoAndThreeByteSequences) {
    struct Case {
        std::vector<uint8_t> bytes;
        uint16_t code;
        uint32_t length;
    } cases[] = {
        {{0x41}, 0x41, 1},
        {{0x00}, 0x00, 1},
        {{0x7F}, 0x7F, 1},
        {{0xC3, 0xA9}, 0xE9, 2},
        {{0xDF, 0xBF}, 0x7FF, 2},
        {{0xE2, 0x82, 0xAC}, 0x20AC, 3},
        {{0xEF, 0xBF, 0xBF}, 0xFFFF, 3},
        // Continuation bytes are not checked.
        {{0xC3, 0x29}, 0xE9, 2},
        // Continuation bytes, 4-byte leads and 0xF8-0xFF are not accepted.
        {{0x80, 0x41}, 0, 0},
        {{0xBF, 0x41}, 0, 0},
        {{0xF0, 0x9F, 0x98, 0x80}, 0, 0},
        {{0xFF, 0x41}, 0, 0},
    };
    for (const auto &c : cases) {
        uint32_t length = 99;
        EXPECT_EQ(UTF8_Decode(c.bytes.data(), (uint32_t)c.bytes.size(), &length), c.code) << (int)c.bytes[0];
        EXPECT_EQ(length, c.length) << (int)c.bytes[0];
    }
}

TEST(Utf8, SequenceCutByTheEndOfTheTextIsNotAccepted) {
    // Each buffer is exactly as long as the text, so a read past it would
    // be caught by the address sanitizer.
    for (std::vector<uint8_t> bytes : {std::vector<uint8_t>{0xC3}, {0xE2}, {0xE2, 0x82}}) {
        uint32_t length = 99;
        UTF8_Decode(bytes.data(), (uint32_t)bytes.size(), &length);
        EXPECT_EQ(length, 0u) << bytes.size();
    }
    uint32_t length = 99;
    UTF8_Decode(nullptr, 0, &length);
    EXPECT_EQ(length, 0u);
}

// ---------------------------------------------------------- prepared lines

class PreparedLine : public BareDeviceTest {
protected:
    void SetUp() override {
        BareDeviceTest::SetUp();
        SifBuilder b(11, 14, 2);   // half the height: 5
        b.solid('A', 2, 2, 0, 0, 7, 3).solid('B', 2, 2, 0, 0, 9, 3);
        sif_ = b.build();
        ASSERT_EQ(GUI_SIF_CreateFont(sif_.data(), &font_, 2, (uint32_t)sif_.size()), 0);
        GUI_SetFont(&font_);
    }
    int32_t prepare(const std::vector<uint8_t> &text, int32_t *width, int32_t *height) {
        refs_.assign(text.size() + 1, reinterpret_cast<GUI_GlyphRef>(1));
        return GUI_PrapareLine(text.data(), (uint32_t)text.size(), width, height, refs_.data());
    }
    std::vector<uint8_t> sif_;
    GUI_FONT font_{};
    std::vector<GUI_GlyphRef> refs_;
};

TEST_F(PreparedLine, WidthIsTheSumOfAdvancesAndHeightTheLineDistance) {
    int32_t w, h;
    EXPECT_EQ(prepare({'A', 'B', 'A'}, &w, &h), 3);
    EXPECT_EQ(w, 7 + 9 + 7);
    EXPECT_EQ(h, 14);
    EXPECT_EQ(refs_[0], GUI_SIF_GetCharInfo(&font_, 'A'));
    EXPECT_EQ(refs_[1], GUI_SIF_GetCharInfo(&font_, 'B'));
}

TEST_F(PreparedLine, MissingCharacterAdvancesHalfTheFontHeight) {
    int32_t w, h;
    EXPECT_EQ(prepare({'A', 0xC3, 0xA9, 'B'}, &w, &h), 3);
    EXPECT_EQ(w, 7 + 5 + 9);
    EXPECT_EQ(refs_[1], nullptr);
}

TEST_F(PreparedLine, UnacceptedOrCutSequenceEndsTheLine) {
    int32_t w, h;
    EXPECT_EQ(prepare({'A', 0xF0, 'B', 'B'}, &w, &h), 1);
    EXPECT_EQ(w, 7);
    EXPECT_EQ(prepare({'A', 'B', 0xE2, 0x82}, &w, &h), 2);
    EXPECT_EQ(w, 16);
    EXPECT_EQ(prepare({0x80}, &w, &h), 0);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 14);
}

// ---------------------------------------------------------- glyph clipping

namespace {

// A glyph of 7 x 5 pixels whose levels run through every value, so that a
// pixel drawn from the wrong place shows.
SifGlyph patternGlyph(int bitsPerPixel) {
    SifGlyph g{'A', 7, 5, 0, 0, 8, {}};
    const int max = (1 << bitsPerPixel) - 1;
    for (int y = 0; y < g.rows; y++)
        for (int x = 0; x < g.width; x++) g.levels.push_back((uint8_t)((x * 3 + y * 5 + 1) % (max + 1)));
    return g;
}

// Packs a glyph's levels into padded rows, exactly as long as needed.
std::vector<uint8_t> packRows(const SifGlyph &g, int bitsPerPixel, int *bytesPerRow) {
    const int perByte = 8 / bitsPerPixel;
    *bytesPerRow = (g.width + perByte - 1) / perByte;
    std::vector<uint8_t> out((size_t)*bytesPerRow * g.rows, 0);
    for (int y = 0; y < g.rows; y++)
        for (int x = 0; x < g.width; x++)
            out[(size_t)y * *bytesPerRow + x / perByte] |=
                (uint8_t)(g.levels[(size_t)y * g.width + x] << (8 - bitsPerPixel * (x % perByte + 1)));
    return out;
}

struct Clip {
    int x0, y0, x1, y1;
};

// The screen a glyph drawn in white at (gx, gy) over black must leave, from
// the pixel-by-pixel definition of clipping.
std::vector<uint8_t> referenceScreen(const SifGlyph &g, int bitsPerPixel, int gx, int gy, Clip c, int width = -1) {
    std::vector<uint8_t> screen(FB_SIZE_BYTES, 0);
    if (width < 0) width = g.width;
    for (int y = 0; y < g.rows; y++) {
        for (int x = 0; x < width; x++) {
            int px = gx + x, py = gy + y;
            if (px < c.x0 || px > c.x1 || py < c.y0 || py > c.y1) continue;
            screen[(size_t)py * SCREEN_WIDTH + px] = expectedCoverage(g.levels[(size_t)y * g.width + x], bitsPerPixel);
        }
    }
    return screen;
}

::testing::AssertionResult sameScreen(const std::vector<uint8_t> &expected) {
    for (int i = 0; i < (int)FB_SIZE_BYTES; i++) {
        if (fb[i] != expected[i]) {
            int x = i % SCREEN_WIDTH, y = i / SCREEN_WIDTH;
            return ::testing::AssertionFailure()
                   << "first difference at (" << x << ", " << y << "): got " << (int)fb[i] << ", expected "
                   << (int)expected[i] << "\n"
                   << testsupport::describeRegion(fb, SCREEN_WIDTH, std::max(0, x - 4), std::max(0, y - 2), 12, 6);
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace

class GlyphClipping : public BareDeviceTest {
protected:
    void SetUp() override {
        BareDeviceTest::SetUp();
        GUI_SetColor(0xFFFFFFFF);
        GUI_SetClipRect(clip_.x0, clip_.y0, clip_.x1, clip_.y1);
    }
    void drawAndCompare(int bitsPerPixel, int gx, int gy) {
        memset(fb, 0, sizeof fb);
        SifGlyph g = patternGlyph(bitsPerPixel);
        int bytesPerRow;
        auto bitmap = packRows(g, bitsPerPixel, &bytesPerRow);
        GUI_DrawCharAA(gx, gy, g.width, g.rows, bytesPerRow, (uint8_t)bitsPerPixel, bitmap.data());
        EXPECT_TRUE(sameScreen(referenceScreen(g, bitsPerPixel, gx, gy, clip_)))
            << bitsPerPixel << " bits at (" << gx << ", " << gy << ")";
    }
    Clip clip_{20, 30, 40, 50};
};

TEST_F(GlyphClipping, EveryEdgeAndCornerAtBothDepths) {
    for (int bpp : {2, 4}) {
        // Inside, then across the left edge at every phase of a byte.
        drawAndCompare(bpp, 25, 35);
        for (int gx = 14; gx <= 20; gx++) drawAndCompare(bpp, gx, 35);
        // Right edge, top, bottom and the four corners.
        for (int gx = 34; gx <= 41; gx++) drawAndCompare(bpp, gx, 35);
        for (int gy = 25; gy <= 31; gy++) drawAndCompare(bpp, 25, gy);
        for (int gy = 46; gy <= 51; gy++) drawAndCompare(bpp, 25, gy);
        drawAndCompare(bpp, 16, 27);
        drawAndCompare(bpp, 37, 27);
        drawAndCompare(bpp, 16, 48);
        drawAndCompare(bpp, 37, 48);
        // Wholly outside on each side, and ending just at the left edge.
        drawAndCompare(bpp, 13, 35);
        drawAndCompare(bpp, 12, 35);
        drawAndCompare(bpp, 41, 35);
        drawAndCompare(bpp, 25, 25);
        drawAndCompare(bpp, 25, 51);
    }
}

TEST_F(GlyphClipping, GlyphWiderThanTheClipIsCutOnBothSides) {
    clip_ = {22, 30, 24, 50};
    GUI_SetClipRect(clip_.x0, clip_.y0, clip_.x1, clip_.y1);
    for (int bpp : {2, 4}) drawAndCompare(bpp, 19, 33);
}

TEST_F(GlyphClipping, InvertedClipDrawsNothing) {
    clip_ = {30, 30, 29, 50};
    GUI_SetClipRect(clip_.x0, clip_.y0, clip_.x1, clip_.y1);
    for (int bpp : {2, 4}) {
        drawAndCompare(bpp, 25, 35);
        drawAndCompare(bpp, 28, 35);
    }
}

TEST_F(GlyphClipping, LeftCutOfFivePixelsStartsOneByteIn) {
    // At 2 bits a row is two bytes; five pixels left of the clip leave the
    // second byte's last three pixels and nothing of the first byte.
    memset(fb, 0, sizeof fb);
    const uint8_t bitmap[2] = {0xFF, 0x3F};   // pixels 0-3 full, 4 empty, 5-7 full
    GUI_DrawCharAA(15, 35, 8, 1, 2, 2, bitmap);
    for (int x = 14; x <= 24; x++) EXPECT_EQ(fb[35 * SCREEN_WIDTH + x], x >= 20 && x <= 22 ? 0xFF : 0x00) << x;
}

TEST_F(GlyphClipping, UnsupportedDepthDrawsNothing) {
    memset(fb, 0, sizeof fb);
    const uint8_t bitmap[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    for (uint8_t bpp : {0, 1, 3, 8}) GUI_DrawCharAA(25, 35, 4, 1, 4, bpp, bitmap);
    EXPECT_TRUE(sameScreen(std::vector<uint8_t>(FB_SIZE_BYTES, 0)));
}

// ---------------------------------------------------------------- DispChar

TEST_F(GlyphClipping, PaddedRowsPastTheEndOfTheFileCountAsEmpty) {
    clip_ = {0, 0, 639, 399};
    GUI_SetClipRect(0, 0, 639, 399);
    // The last glyph is 5 x 4 at 2 bits: 5 bytes of data as the open check
    // counts them, 8 with row padding. The file ends after those 5 bytes.
    SifBuilder b(10, 10, 2);
    b.solid('A', 5, 4, 2, 3, 6, 3);
    auto full = b.build();
    std::vector<uint8_t> sif(full.begin(), full.end() - 3);
    GUI_FONT f{};
    ASSERT_EQ(GUI_SIF_CreateFont(sif.data(), &f, 2, (uint32_t)sif.size()), 0);
    GUI_SetFont(&f);
    memset(fb, 0, sizeof fb);
    DispChar(GUI_SIF_GetCharInfo(&f, 'A'), 100, 50, 2);
    // Rows 0 and 1 are whole (4 bytes); row 2 has one byte, its first four
    // pixels; row 3 has nothing.
    std::vector<uint8_t> expected(FB_SIZE_BYTES, 0);
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < (y < 2 ? 5 : 4); x++) expected[(size_t)(53 + y) * SCREEN_WIDTH + 102 + x] = 0xFF;
    EXPECT_TRUE(sameScreen(expected));
}

TEST_F(GlyphClipping, DispCharPlacesTheBitmapByItsOffsets) {
    GUI_SetClipRect(0, 0, 639, 399);
    clip_ = {0, 0, 639, 399};
    SifGlyph g = patternGlyph(4);
    g.xOffset = -3;
    g.yOffset = 6;
    SifBuilder b(10, 10, 4);
    b.glyph(g);
    auto sif = b.build();
    GUI_FONT f{};
    ASSERT_EQ(GUI_SIF_CreateFont(sif.data(), &f, 4, (uint32_t)sif.size()), 0);
    GUI_SetFont(&f);
    memset(fb, 0, sizeof fb);
    DispChar(GUI_SIF_GetCharInfo(&f, 'A'), 200, 100, 4);
    EXPECT_TRUE(sameScreen(referenceScreen(g, 4, 197, 106, clip_)));
}

// ------------------------------------------------------------ drawing lines

TEST_F(GlyphClipping, LineStopsOnceThePenReachesTheRightClipEdge) {
    // Each glyph reaches 5 pixels back from its pen position, so a glyph
    // whose pen lies past the clip edge would still show inside it.
    clip_ = {0, 0, 100, 399};
    GUI_SetClipRect(0, 0, 100, 399);
    SifBuilder b(10, 10, 2);
    b.solid('A', 2, 1, -5, 0, 6, 3);
    auto sif = b.build();
    GUI_FONT f{};
    ASSERT_EQ(GUI_SIF_CreateFont(sif.data(), &f, 2, (uint32_t)sif.size()), 0);
    GUI_SetFont(&f);
    GUI_GlyphRef a = GUI_SIF_GetCharInfo(&f, 'A');
    const GUI_GlyphRef line[4] = {a, a, a, a};
    memset(fb, 0, sizeof fb);
    GUI_DispPraparedLine(4, line, 90, 10);
    // Pens 90 and 96 draw at 85 and 91; the pen then reaches 102 and the
    // line stops, so nothing is drawn at 97.
    std::vector<uint8_t> expected(FB_SIZE_BYTES, 0);
    for (int x : {85, 86, 91, 92}) expected[10 * SCREEN_WIDTH + x] = 0xFF;
    EXPECT_TRUE(sameScreen(expected));

    // The first character is drawn even with its pen past the edge.
    memset(fb, 0, sizeof fb);
    GUI_DispPraparedLine(2, line, 104, 20);
    expected.assign(FB_SIZE_BYTES, 0);
    expected[20 * SCREEN_WIDTH + 99] = 0xFF;
    expected[20 * SCREEN_WIDTH + 100] = 0xFF;
    EXPECT_TRUE(sameScreen(expected));
}

TEST_F(GlyphClipping, MissingGlyphAdvancesWithoutDrawing) {
    GUI_SetClipRect(0, 0, 639, 399);
    SifBuilder b(13, 10, 2);   // half the height: 6
    b.solid('A', 1, 1, 0, 0, 4, 3);
    auto sif = b.build();
    GUI_FONT f{};
    ASSERT_EQ(GUI_SIF_CreateFont(sif.data(), &f, 2, (uint32_t)sif.size()), 0);
    GUI_SetFont(&f);
    GUI_GlyphRef a = GUI_SIF_GetCharInfo(&f, 'A');
    const GUI_GlyphRef line[3] = {a, nullptr, a};
    memset(fb, 0, sizeof fb);
    GUI_DispPraparedLine(3, line, 50, 60);
    std::vector<uint8_t> expected(FB_SIZE_BYTES, 0);
    expected[60 * SCREEN_WIDTH + 50] = 0xFF;
    expected[60 * SCREEN_WIDTH + 60] = 0xFF;
    EXPECT_TRUE(sameScreen(expected));
}

// ---------------------------------------------------------- broken fonts

TEST_F(GlyphClipping, CorruptFontsNeverReadOutsideTheirFile) {
    // Random damage to a real font, and cuts at random lengths: whatever
    // opens is drawn in full at places across every clip edge. Each copy is
    // exactly as long as the file, so a stray read shows under the address
    // sanitizer.
    GUI_SetClipRect(0, 0, 639, 399);
    const std::vector<uint8_t> original(BUILTIN_FONT_SMALL_SIF, BUILTIN_FONT_SMALL_SIF + BUILTIN_FONT_SMALL_SIF_size);
    uint32_t seed = 12345;
    auto next = [&seed]() { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    int opened = 0;
    for (int round = 0; round < 300; round++) {
        std::vector<uint8_t> sif = original;
        int damage = 1 + (int)(next() % 8);
        for (int k = 0; k < damage; k++) {
            // Mostly the header and glyph table, where damage matters most.
            uint32_t at = next() % (round % 3 == 0 ? (uint32_t)sif.size() : 1540u);
            sif[at] = (uint8_t)next();
        }
        if (round % 4 == 1) sif.resize(next() % sif.size());
        GUI_FONT f{};
        for (uint8_t bpp : {2, 4}) {
            if (GUI_SIF_CreateFont(sif.data(), &f, bpp, (uint32_t)sif.size()) != 0) continue;
            opened++;
            GUI_SetFont(&f);
            std::vector<uint8_t> text;
            for (int c = 0x20; c <= 0x7E; c++) text.push_back((uint8_t)c);
            std::vector<GUI_GlyphRef> refs(text.size());
            int32_t w, h;
            int32_t n = GUI_PrapareLine(text.data(), (uint32_t)text.size(), &w, &h, refs.data());
            for (int32_t i = 0; i < n; i++) {
                const int32_t xs[] = {-30, 5, 320, 630}, ys[] = {-20, 3, 200, 390};
                DispChar(refs[i], xs[i % 4], ys[(i / 4) % 4], bpp);
            }
        }
    }
    EXPECT_GT(opened, 50) << "too few damaged fonts opened to exercise drawing";
}
