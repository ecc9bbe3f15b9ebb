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
#include "tests/gui/gui_test_support.h"
#include "tests/support/sif_builder.h"

using guitest::Frame;
using guitest::frameIs;
using testsupport::SifBuilder;
using testsupport::SifGlyph;

namespace {

// Opens the first `size` bytes of a font, copied to a buffer of exactly that
// length so that a read past it shows under the address sanitizer. With
// `recordKept`, tells whether the font record was left as it was.
int openCut(const std::vector<uint8_t> &sif, uint8_t bpp, uint32_t size, bool *recordKept = nullptr) {
    std::vector<uint8_t> cut(sif.begin(), sif.begin() + size);
    GUI_FONT f;
    memset(&f, 0xA5, sizeof f);
    int result = GUI_SIF_CreateFont(cut.data(), &f, bpp, size);
    if (recordKept) *recordKept = f.dataSize == 0xA5A5A5A5u && f.height == 0xA5;
    return result;
}

// Glyphs A-C, 0-1 and alpha-beta in three ranges, advances 10.., 20.., 30..
std::vector<uint8_t> threeRangeFont() {
    SifBuilder b(10, 12, 2);
    for (uint16_t c = 'A'; c <= 'C'; c++) b.solid(c, 2, 2, 0, 0, 10 + (c - 'A'), 3);
    for (uint16_t c = '0'; c <= '1'; c++) b.solid(c, 2, 2, 0, 0, 20 + (c - '0'), 3);
    for (uint16_t c = 0x3B1; c <= 0x3B2; c++) b.solid(c, 2, 2, 0, 0, 30 + (c - 0x3B1), 3);
    return b.build();
}

}  // namespace

TEST(SifOpen, HeaderTablesAndGlyphDataAreChecked) {
    const auto good = SifBuilder(20, 300, 4).solid('A', 3, 4, 0, 0, 5, 3).build();
    GUI_FONT f{};
    ASSERT_EQ(GUI_SIF_CreateFont(good.data(), &f, 4, (uint32_t)good.size()), 0);
    EXPECT_EQ(f.lineDistance, 300 & 0xFF);   // the record keeps its low 8 bits
    EXPECT_TRUE(f.height == 20 && f.bitsPerPixel == 4 && f.data == good.data() && f.dataSize == good.size());
    // A header that is refused leaves the record untouched.
    const struct {
        size_t offset;
        uint16_t value;
        int result;
    } fields[] = {{0, 0x5546, -1}, {4, 5, -1}, {4, 6, 0}, {4, 150, 0}, {4, 151, -1}, {14, 0, -1}, {14, 33, -1}};
    for (const auto &c : fields) {
        auto sif = good;
        SifBuilder::put16(sif, c.offset, c.value);
        bool kept = false;
        EXPECT_EQ(openCut(sif, 2, (uint32_t)sif.size(), &kept), c.result) << c.offset << " = " << c.value;
        EXPECT_EQ(kept, c.result != 0) << c.offset << " = " << c.value;
    }
    // Cut inside the header, inside the range table, and inside the glyph
    // table (3 ranges and 7 glyphs: it ends at 28 + 16 * 7).
    EXPECT_EQ(openCut(good, 2, 15), -1);
    auto three = threeRangeFont();
    for (uint32_t size : {24u, 28u + 16 * 7}) EXPECT_EQ(openCut(three, 2, size), -1) << size;
    // Glyphs may be twice the font height.
    for (int rows : {20, 21}) {
        auto sif = SifBuilder(10, 10, 2).solid('A', 1, rows, 0, 0, 2, 3).build();
        EXPECT_EQ(openCut(sif, 2, (uint32_t)sif.size()), rows == 20 ? 0 : -1) << rows;
    }
    // Glyph data is counted without row padding: 5 x 4 pixels at 2 bits are
    // 40 bits, 5 bytes (padded rows would take 8); at 4 bits twice as much.
    auto sif = SifBuilder(10, 10, 2).solid('A', 5, 4, 0, 0, 6, 3).build();
    const uint32_t data = rd32le(sif.data() + 20 + SIF_GLYPH_DATA_OFFSET);
    EXPECT_EQ(openCut(sif, 2, data + 5), 0);
    EXPECT_EQ(openCut(sif, 2, data + 4), -1);
    sif.resize(data + 10);
    EXPECT_EQ(openCut(sif, 4, data + 10), 0);
    EXPECT_EQ(openCut(sif, 4, data + 9), -1);
    // A data offset near 4 GiB must not wrap around.
    SifBuilder::put32(sif, 20 + SIF_GLYPH_DATA_OFFSET, 0xFFFFFFFFu);
    EXPECT_EQ(openCut(sif, 2, (uint32_t)sif.size()), -1);
}

TEST(SifLookup, GlyphsAreNumberedAcrossRangesAndTheFirstMatchingRangeWins) {
    auto sif = threeRangeFont();
    GUI_FONT f{};
    ASSERT_EQ(GUI_SIF_CreateFont(sif.data(), &f, 2, (uint32_t)sif.size()), 0);
    const std::pair<uint16_t, int> found[] = {{'A', 0}, {'C', 2}, {'0', 3}, {'1', 4}, {0x3B1, 5}, {0x3B2, 6}};
    for (auto [code, glyph] : found) EXPECT_EQ(GUI_SIF_GetCharInfo(&f, code), sif.data() + 28 + 16 * glyph) << code;
    for (uint16_t code : {0x00, 0x2F, 0x32, 0x40, 0x44, 0x3B0, 0x3B3, 0xFFFF})
        EXPECT_EQ(GUI_SIF_GetCharInfo(&f, code), nullptr) << code;
    // Ranges [B..A] (empty), [A..B], [A..A]: 'A' is glyph 0 of the second
    // range and the third range's glyph follows at number 2.
    std::vector<uint8_t> overlap(16 + 12 + 3 * 16 + 3, 0);
    SifBuilder::put32(overlap, 0, SIF_MAGIC);
    SifBuilder::put16(overlap, 4, 10);
    SifBuilder::put16(overlap, 14, 3);
    const uint16_t ranges[] = {'B', 'A', 'A', 'B', 'A', 'A'};
    for (int i = 0; i < 6; i++) SifBuilder::put16(overlap, 16 + 2 * i, ranges[i]);
    for (int g = 0; g < 3; g++) SifBuilder::put32(overlap, 28 + 16 * g + SIF_GLYPH_DATA_OFFSET, 76);
    ASSERT_EQ(GUI_SIF_CreateFont(overlap.data(), &f, 2, (uint32_t)overlap.size()), 0);
    EXPECT_EQ(GUI_SIF_GetCharInfo(&f, 'A'), overlap.data() + 28);
    EXPECT_EQ(GUI_SIF_GetCharInfo(&f, 'B'), overlap.data() + 28 + 16);
}

TEST(Utf8, DecodesOneTwoAndThreeByteSequences) {
    struct Case {
        std::vector<uint8_t> bytes;   // exactly as long as the text
        uint16_t code;
        uint32_t length;
    } cases[] = {
        {{0x41}, 0x41, 1}, {{0xDF, 0xBF}, 0x7FF, 2}, {{0xE2, 0x82, 0xAC}, 0x20AC, 3}, {{0xEF, 0xBF, 0xBF}, 0xFFFF, 3},
        {{0xC3, 0x29}, 0xE9, 2},   // continuation bytes are not checked
        // Continuation bytes, 4-byte leads and 0xF8-0xFF are not accepted,
        // nor sequences cut by the end of the text.
        {{0x80, 0x41}, 0, 0}, {{0xF0, 0x9F, 0x98, 0x80}, 0, 0}, {{0xFF, 0x41}, 0, 0}, {{0xC3}, 0, 0},
        {{0xE2, 0x82}, 0, 0}, {{}, 0, 0},
    };
    for (const auto &c : cases) {
        uint32_t length = 99;
        uint16_t code = UTF8_Decode(c.bytes.empty() ? nullptr : c.bytes.data(), (uint32_t)c.bytes.size(), &length);
        EXPECT_EQ(std::make_pair(c.length ? code : (uint16_t)0, length), std::make_pair(c.code, c.length))
            << c.bytes.size() << " bytes from " << (c.bytes.empty() ? 0 : (int)c.bytes[0]);
    }
}

TEST(PreparedLine, WidthsRefsAndWhereTheLineEnds) {
    testsupport::resetDevice(false);
    // Height 11, so a missing character advances 5.
    auto sif = SifBuilder(11, 14, 2).solid('A', 2, 2, 0, 0, 7, 3).solid('B', 2, 2, 0, 0, 9, 3).build();
    GUI_FONT font{};
    ASSERT_EQ(GUI_SIF_CreateFont(sif.data(), &font, 2, (uint32_t)sif.size()), 0);
    GUI_SetFont(&font);
    const GUI_GlyphRef A = GUI_SIF_GetCharInfo(&font, 'A'), B = GUI_SIF_GetCharInfo(&font, 'B');
    struct Case {
        std::vector<uint8_t> text;
        std::vector<GUI_GlyphRef> refs;
        int32_t width;
    } cases[] = {
        {{'A', 'B', 'A'}, {A, B, A}, 7 + 9 + 7},
        {{'A', 0xC3, 0xA9, 'B'}, {A, nullptr, B}, 7 + 5 + 9},
        // An unaccepted or cut sequence ends the line.
        {{'A', 0xF0, 'B', 'B'}, {A}, 7},
        {{'A', 'B', 0xE2, 0x82}, {A, B}, 16},
    };
    for (const auto &c : cases) {
        std::vector<GUI_GlyphRef> refs(c.text.size());
        int32_t w = -1, h = -1;
        int32_t n = GUI_PrapareLine(c.text.data(), (uint32_t)c.text.size(), &w, &h, refs.data());
        refs.resize(std::max(n, 0));
        EXPECT_EQ(refs, c.refs) << c.text.size();
        EXPECT_EQ(std::make_pair(w, h), std::make_pair(c.width, 14)) << c.text.size();
    }
}

// ---------------------------------------------------------- glyph drawing

namespace {

// A glyph of 7 x 5 pixels whose levels run through every value, so that a
// pixel drawn from the wrong place shows.
SifGlyph patternGlyph(int bitsPerPixel) {
    SifGlyph g{'A', 7, 5, 0, 0, 8, {}};
    for (int y = 0; y < g.rows; y++)
        for (int x = 0; x < g.width; x++) g.levels.push_back((uint8_t)((x * 3 + y * 5 + 1) % (1 << bitsPerPixel)));
    return g;
}

// The screen a glyph drawn in white at (gx, gy) over black must leave, from
// the pixel-by-pixel definition of clipping: 2-bit levels weigh three
// eighths each, 4-bit levels half their value, the top level is the colour.
Frame referenceScreen(const SifGlyph &g, int bitsPerPixel, int gx, int gy, guitest::Box c) {
    Frame screen(FB_SIZE_BYTES, 0);
    for (int y = 0; y < g.rows; y++)
        for (int x = 0; x < g.width; x++) {
            int px = gx + x, py = gy + y, level = g.levels[(size_t)y * g.width + x];
            if (px < c.x0 || px > c.x1 || py < c.y0 || py > c.y1) continue;
            screen[(size_t)py * SCREEN_WIDTH + px] = level == (1 << bitsPerPixel) - 1
                                                         ? 0xFF
                                                         : guitest::refMix(0xFF, 0, bitsPerPixel == 2 ? 3 * level : level >> 1);
        }
    return screen;
}

// A screen of black with white pixels at the given places.
Frame whiteAt(std::initializer_list<std::pair<int, int>> pixels) {
    Frame f(FB_SIZE_BYTES, 0);
    for (auto [x, y] : pixels) f[(size_t)y * SCREEN_WIDTH + x] = 0xFF;
    return f;
}

}  // namespace

class GlyphDrawing : public BareDeviceTest {
protected:
    void SetUp() override {
        BareDeviceTest::SetUp();
        GUI_SetColor(0xFFFFFFFF);
    }
    // Opens a font kept by the fixture and selects it.
    GUI_FONT *use(std::vector<uint8_t> sif, uint8_t bpp) {
        sif_ = std::move(sif);
        EXPECT_EQ(GUI_SIF_CreateFont(sif_.data(), &font_, bpp, (uint32_t)sif_.size()), 0);
        GUI_SetFont(&font_);
        memset(fb, 0, sizeof fb);
        return &font_;
    }
    std::vector<uint8_t> sif_;
    GUI_FONT font_{};
};

// Corners, every edge, and the left and right edges at every phase of a
// byte, under a normal, a narrow and an inverted clip; unsupported depths
// draw nothing.
TEST_F(GlyphDrawing, ClippingAtEveryEdgeAndCornerAtBothDepths) {
    const guitest::Box clips[] = {{20, 30, 40, 50}, {22, 30, 24, 50}, {30, 30, 29, 50}};
    std::vector<std::pair<int, int>> places = {{25, 35}, {16, 27}, {37, 48}, {12, 35}, {41, 35}, {25, 51},
                                               {25, 27}, {25, 48}, {28, 35}};
    for (int gx = 14; gx <= 20; gx++) places.push_back({gx, 35}), places.push_back({gx + 20, 35});
    for (const auto &clip : clips)
        for (int bpp : {2, 4}) {
            GUI_SetClipRect(clip.x0, clip.y0, clip.x1, clip.y1);
            SifGlyph g = patternGlyph(bpp);
            auto bitmap = SifBuilder::packRows(g, bpp);
            for (auto [gx, gy] : places) {
                memset(fb, 0, sizeof fb);
                GUI_DrawCharAA(gx, gy, g.width, g.rows, (int32_t)bitmap.size() / g.rows, (uint8_t)bpp, bitmap.data());
                ASSERT_TRUE(frameIs(referenceScreen(g, bpp, gx, gy, clip)))
                    << bpp << " bits at (" << gx << ", " << gy << "), clip x " << clip.x0 << ".." << clip.x1;
            }
        }
    memset(fb, 0, sizeof fb);
    const uint8_t bitmap[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    for (uint8_t bpp : {0, 1, 3, 8}) GUI_DrawCharAA(25, 40, 4, 1, 4, bpp, bitmap);
    EXPECT_TRUE(frameIs(whiteAt({})));
}

TEST_F(GlyphDrawing, DispCharPlacesTheBitmapByItsOffsets) {
    SifGlyph g = patternGlyph(4);
    g.xOffset = -3;
    g.yOffset = 6;
    GUI_FONT *f = use(SifBuilder(10, 10, 4).glyph(g).build(), 4);
    DispChar(GUI_SIF_GetCharInfo(f, 'A'), 200, 100, 4);
    EXPECT_TRUE(frameIs(referenceScreen(g, 4, 197, 106, guitest::kScreen)));
}

TEST_F(GlyphDrawing, PaddedRowsPastTheEndOfTheFileCountAsEmpty) {
    // The last glyph is 5 x 4 at 2 bits: 5 bytes of data as the open check
    // counts them, 8 with row padding. The file ends after those 5 bytes:
    // rows 0 and 1 are whole, row 2 has its first four pixels, row 3 nothing.
    auto full = SifBuilder(10, 10, 2).solid('A', 5, 4, 2, 3, 6, 3).build();
    GUI_FONT *f = use(std::vector<uint8_t>(full.begin(), full.end() - 3), 2);
    DispChar(GUI_SIF_GetCharInfo(f, 'A'), 100, 50, 2);
    Frame expected(FB_SIZE_BYTES, 0);
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < (y < 2 ? 5 : 4); x++) expected[(size_t)(53 + y) * SCREEN_WIDTH + 102 + x] = 0xFF;
    EXPECT_TRUE(frameIs(expected));
}

TEST_F(GlyphDrawing, LinesAdvanceOverMissingGlyphsAndStopAtTheRightClipEdge) {
    // Each glyph reaches 5 pixels back from its pen position, so a glyph
    // whose pen lies past the clip edge would still show inside it. A
    // missing glyph advances half the height, 6, and draws nothing.
    GUI_FONT *f = use(SifBuilder(13, 10, 2).solid('A', 2, 1, -5, 0, 6, 3).build(), 2);
    GUI_SetClipRect(0, 0, 100, 399);
    GUI_GlyphRef a = GUI_SIF_GetCharInfo(f, 'A');
    const GUI_GlyphRef line[4] = {a, nullptr, a, a};
    // Pens 84 and 96 draw at 79 and 91; the pen then reaches 102 and the
    // line stops. The first character is drawn even with its pen past the edge.
    GUI_DispPraparedLine(4, line, 84, 10);
    GUI_DispPraparedLine(1, line, 104, 20);
    EXPECT_TRUE(frameIs(whiteAt({{79, 10}, {80, 10}, {91, 10}, {92, 10}, {99, 20}, {100, 20}})));
}
