// The JPEG decoder on hand-built streams: the worked examples decoded to
// exact indices, the refusals of the header and table segments, broken and
// truncated entropy data, restart markers, clipping and the pool.
#include <gtest/gtest.h>

#include <cstring>

#include "codecs/GUI_JPEG.h"
#include "gui/GUICC_M332.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Alloc.h"
#include "gui/GUI_Common.h"
#include "tests/codecs/jpeg_stream.h"
#include "tests/support/device_fixture.h"

using namespace jpegtest;
using testsupport::testData;

namespace {

constexpr uint8_t kBackground = 0x5A;

uint8_t grayIndex(int sample) { return Color2Index_M332(0xFF000000u | (uint32_t)sample * 0x010101u); }
uint8_t pixel(int x, int y) { return fb[y * SCREEN_WIDTH + x]; }

// Draws on a screen filled with kBackground; the data is copied into a
// buffer of exactly its size so that a read past it is caught, and the pool
// must come back to where it was.
int draw(const Bytes &data, int32_t x = 0, int32_t y = 0) {
    memset(fb, kBackground, sizeof fb);
    std::vector<uint8_t> exact(data);
    uint32_t freeBefore = GUI_GetNumFreeBytes();
    int result = GUI_JPEG_Draw(exact.data(), (uint32_t)exact.size(), x, y);
    EXPECT_EQ(GUI_GetNumFreeBytes(), freeBefore) << "pool not released";
    return result;
}

struct Size {
    int result;
    uint32_t w = 7, h = 7;
    uint8_t progressive = 7;
};
Size sizeOf(const Bytes &data) {
    std::vector<uint8_t> exact(data);
    Size s{0};
    s.result = GUI_JPEG_GetSize(exact.data(), (uint32_t)exact.size(), &s.w, &s.h, &s.progressive);
    return s;
}

// Checks a w x h region at (x0, y0) against one index; says where it differs.
::testing::AssertionResult regionIs(int x0, int y0, int w, int h, uint8_t index) {
    for (int y = y0; y < y0 + h; y++)
        for (int x = x0; x < x0 + w; x++)
            if (pixel(x, y) != index)
                return ::testing::AssertionFailure()
                       << "pixel (" << x << ", " << y << ") is " << (int)pixel(x, y) << ", expected " << (int)index
                       << "\n"
                       << testsupport::describeRegion(fb, SCREEN_WIDTH, x0, y0, w, h);
    return ::testing::AssertionSuccess();
}

// Codes of the given lengths, in ascending order, for symbols 0, 1, 2 ...
HuffSpec huff(std::initializer_list<std::pair<int, int>> lengthCounts) {
    HuffSpec s;
    for (auto [length, count] : lengthCounts) {
        s.counts[length] = (uint8_t)count;
        for (int i = 0; i < count; i++) s.symbols.push_back((uint8_t)s.symbols.size());
    }
    return s;
}

// A grey image whose blocks (in decoding order) are flat at the given samples.
Bytes flatGray(int width, int height, const std::vector<int> &samples, bool withEoi = true) {
    Stream s = grayHeader(width, height);
    EntropyWriter e(dcFlat(), acFlat());
    int prev = 0;
    for (int v : samples) {
        e.block(dcForSample(v) - prev);
        prev = dcForSample(v);
    }
    s.raw(e.flush());
    if (withEoi) s.eoi();
    return s.bytes;
}

// A colour image of flat blocks, MCU after MCU, each listing the samples of
// its blocks in decoding order (luma blocks, then Cb and Cr).
Bytes flatColor(int width, int height, uint8_t lumaSampling, const std::vector<std::vector<int>> &mcus) {
    Stream s = colorHeader(width, height, lumaSampling);
    EntropyWriter e(dcFlat(), acFlat());
    int prev[3] = {0, 0, 0};
    for (const auto &mcu : mcus) {
        const int lumaBlocks = (int)mcu.size() - 2;
        for (int i = 0; i < (int)mcu.size(); i++) {
            int c = i < lumaBlocks ? 0 : i - lumaBlocks + 1;
            e.block(dcForSample(mcu[i]) - prev[c]);
            prev[c] = dcForSample(mcu[i]);
        }
    }
    s.raw(e.flush()).eoi();
    return s.bytes;
}
std::vector<std::vector<int>> repeat(int count, const std::vector<int> &mcu) { return {(size_t)count, mcu}; }

class JpegDecode : public BareDeviceTest {};

// ---------------------------------------------------------------------------
// Samples (the transform, colours and layouts are compared with an
// independent decoder in jpeg_reference_test.cpp)

// The worked examples: a grey block whose only coefficient is DC 8 gives
// row-pass values 8 << 2 = 32 and samples ((32 + 16) >> 5) + 128 = 129,
// grey levels 4, 4, 2: index 0x92. Y 76, Cb 85, Cr 255 is pure red (R 254,
// G 0, B 0): 0xE0; Y 255 and Y 0 with neutral chroma are white and black.
TEST_F(JpegDecode, WorkedExamplesGiveExactIndices) {
    EntropyWriter dc8(dcFlat(), acFlat());
    dc8.block(8);
    ASSERT_EQ(draw(grayHeader(8, 8).raw(dc8.flush()).eoi().bytes), 0);
    EXPECT_TRUE(regionIs(0, 0, 8, 8, 0x92));
    ASSERT_EQ(draw(flatColor(24, 8, 0x11, {{76, 85, 255}, {255, 128, 128}, {0, 128, 128}})), 0);
    EXPECT_TRUE(regionIs(0, 0, 8, 8, 0xE0));
    EXPECT_TRUE(regionIs(8, 0, 8, 8, 0xFF));
    EXPECT_TRUE(regionIs(16, 0, 8, 8, 0x00));
    EXPECT_TRUE(regionIs(24, 0, 8, 8, kBackground));
}

// ---------------------------------------------------------------------------
// Entropy data

TEST_F(JpegDecode, MissingEoiKeepsTheLastMcuRowUndrawn) {
    Bytes noEoi = flatGray(8, 24, {60, 120, 180}, false);
    EXPECT_EQ(draw(noEoi), 1);
    EXPECT_TRUE(regionIs(0, 0, 8, 8, grayIndex(60)));
    EXPECT_TRUE(regionIs(0, 8, 8, 8, grayIndex(120)));
    EXPECT_TRUE(regionIs(0, 16, 8, 8, kBackground));
    // A second scan where EOI should be refuses the last row the same way.
    EXPECT_EQ(draw(Stream().raw(noEoi).sos({{1, 0}}).eoi().bytes), 1);
    EXPECT_TRUE(regionIs(0, 8, 8, 8, grayIndex(120)));
    EXPECT_TRUE(regionIs(0, 16, 8, 8, kBackground));
    // Height 20 in 2x2 layout: the EOI check comes with the second MCU row,
    // before line 16 is drawn.
    Bytes tall = flatColor(16, 20, 0x22, repeat(2, {200, 200, 200, 200, 128, 128}));
    tall.resize(tall.size() - 2);
    EXPECT_EQ(draw(tall), 1);
    EXPECT_TRUE(regionIs(0, 0, 16, 16, grayIndex(200)));
    EXPECT_TRUE(regionIs(0, 16, 16, 4, kBackground));
}

// Coefficients that would run past the block abandon the rest of the row;
// its blocks keep the coefficients of the row before.
TEST_F(JpegDecode, BadCoefficientDataAbandonsTheRow) {
    // Row 0: blocks at 150 and 170. Row 1: block 0 decodes its DC (90),
    // then three ZRLs reach position 49 and a run of 15 would pass 63.
    EntropyWriter run(dcFlat(), acFlat());
    run.block(dcForSample(150));
    run.block(dcForSample(170) - dcForSample(150));
    run.block(dcForSample(90) - dcForSample(170), {}, false);
    for (uint8_t s : {0xF0, 0xF0, 0xF0, 0xF1}) run.acSymbol(s);
    run.bits(1, 1);
    ASSERT_EQ(draw(grayHeader(16, 16).raw(run.flush()).eoi().bytes), 0);
    EXPECT_TRUE(regionIs(0, 0, 8, 8, grayIndex(150)));
    EXPECT_TRUE(regionIs(8, 0, 8, 8, grayIndex(170)));
    EXPECT_TRUE(regionIs(0, 8, 8, 8, grayIndex(90)));
    EXPECT_TRUE(regionIs(8, 8, 8, 8, grayIndex(170)));
    // Three ZRLs and a value at 49, then a fourth ZRL at position 50: block
    // 1 is never decoded and stays mid grey.
    EntropyWriter zrl(dcFlat(), acFlat());
    zrl.block(dcForSample(150), {{48, 5}}, false);
    zrl.acSymbol(0xF0);
    ASSERT_EQ(draw(grayHeader(16, 8).raw(zrl.flush()).eoi().bytes), 0);
    EXPECT_TRUE(regionIs(8, 0, 8, 8, grayIndex(128)));
    // A DC category above 15.
    HuffSpec dc17 = huff({{5, 17}});
    EntropyWriter category(dc17, acFlat());
    category.block(dcForSample(60));
    category.dcSymbol(16);
    category.bits(0xFFFF, 16);
    Stream withDc17;
    withDc17.soi().dqt8(0, unitQuant()).sof(0xC0, 16, 16, {{1, 0x11, 0}}).dht(0, 0, dc17).dht(1, 0, acFlat());
    ASSERT_EQ(draw(withDc17.sos({{1, 0}}).raw(category.flush()).eoi().bytes), 0);
    EXPECT_TRUE(regionIs(0, 0, 8, 8, grayIndex(60)));
    EXPECT_TRUE(regionIs(8, 0, 8, 8, grayIndex(128)));
}

// ---------------------------------------------------------------------------
// Restart intervals

// Each marker resets the predictions, and their numbers wrap after RST7.
TEST_F(JpegDecode, RestartMarkersCountModuloEight) {
    Stream s;
    s.soi().dqt8(0, unitQuant()).sof(0xC0, 80, 8, {{1, 0x11, 0}}).dri(1);
    s.dht(0, 0, dcFlat()).dht(1, 0, acFlat()).sos({{1, 0}});
    EntropyWriter e(dcFlat(), acFlat());
    for (int m = 0; m < 10; m++) {
        e.block(dcForSample(20 + 20 * m));
        s.raw(e.flush());
        if (m < 9) s.raw({0xFF, (uint8_t)(0xD0 + m % 8)});
    }
    ASSERT_EQ(draw(s.eoi().bytes), 0);
    for (int m = 0; m < 10; m++) EXPECT_TRUE(regionIs(8 * m, 0, 8, 8, grayIndex(20 + 20 * m))) << "MCU " << m;
}

TEST_F(JpegDecode, WrongRestartMarkerStopsLookingForMarkers) {
    // Two MCU rows of two MCUs, interval 1; the first marker is wrong. MCU 0
    // is intact; no marker is looked for after the failed one, so the next
    // marker stops the entropy data and, still there when the image should
    // end, refuses the last row.
    Stream s;
    s.soi().dqt8(0, unitQuant()).sof(0xC0, 16, 16, {{1, 0x11, 0}}).dri(1);
    s.dht(0, 0, dcFlat()).dht(1, 0, acFlat()).sos({{1, 0}});
    EntropyWriter e(dcFlat(), acFlat());
    const uint8_t markers[3] = {0xD5, 0xD1, 0xD2};
    for (int m = 0; m < 4; m++) {
        e.block(dcForSample(40 + 40 * m));
        s.raw(e.flush());
        if (m < 3) s.raw({0xFF, markers[m]});
    }
    EXPECT_EQ(draw(s.eoi().bytes), 1);
    EXPECT_TRUE(regionIs(0, 0, 8, 8, grayIndex(40)));
    EXPECT_TRUE(regionIs(0, 8, 16, 8, kBackground));
}

// ---------------------------------------------------------------------------
// Header and table segments

// Segments before the frame are skipped; refused headers give no size.
// The image drawn, where it is, is flat 77.
TEST_F(JpegDecode, HeaderChecks) {
    Bytes image = flatGray(8, 8, {77});
    Bytes afterSoi(image.begin() + 2, image.end());
    const std::vector<Component> gray = {{1, 0x11, 0}};
    auto adobe = [&](Bytes tail) {
        return Stream().soi().segment(0xEE, Bytes{'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0} + tail).raw(afterSoi).bytes;
    };
    struct Case {
        const char *what;
        Bytes data;
        int result;
        uint32_t w, h;
        int drawn;
    } cases[] = {
        {"EOI first", {0xFF, 0xD9}, 1, 0, 0, 1},
        {"SOI alone", {0xFF, 0xD8}, 1, 0, 0, 1},
        {"segments and fill bytes before the frame",
         Stream().soi().segment(0xFE, {'h', 'i', 0xFF, 0xD9}).segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 2})
             .raw({0xFF, 0xFF, 0xFF}).raw(afterSoi).bytes,
         0, 8, 8, 0},
        {"arithmetic-coding conditioning", Stream().soi().segment(0xCC, {0, 0}).raw(afterSoi).bytes, 1, 0, 0, 1},
        {"lossless frame", Stream().soi().sof(0xC3, 8, 8, gray).eoi().bytes, 1, 0, 0, 1},
        {"scan before any frame", Stream().soi().sos({{1, 0}}).eoi().bytes, 1, 0, 0, 1},
        {"zero width", Stream().soi().sof(0xC0, 0, 8, gray).bytes, 1, 0, 0, 1},
        {"five components",
         Stream().soi().sof(0xC0, 8, 8, {{1, 0x11, 0}, {2, 0x11, 0}, {3, 0x11, 0}, {4, 0x11, 0}, {5, 0x11, 0}}).bytes,
         1, 0, 0, 1},
        {"frame length wrong", Stream().soi().segment(0xC0, {8, 0, 8, 0, 8, 1, 1, 0x11, 0, 0}).bytes, 1, 0, 0, 1},
        // The width and height are the frame header's own 16-bit fields;
        // rows that wide do not fit the pool.
        {"largest size", Stream().soi().sof(0xC0, 65535, 40000, gray).bytes, 0, 65535, 40000, -1},
        // An Adobe segment without the YCbCr transform flag, or too short to
        // hold one, is refused when drawn, but the size is still read.
        {"Adobe, YCbCr", adobe({1}), 0, 8, 8, 0},
        {"Adobe, no transform", adobe({0}), 0, 8, 8, 1},
        {"Adobe, too short", adobe({}), 0, 8, 8, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Size s = sizeOf(c.data);
        EXPECT_EQ(std::make_tuple(s.result, s.w, s.h, s.progressive), std::make_tuple(c.result, c.w, c.h, (uint8_t)0));
        EXPECT_EQ(draw(c.data), c.drawn);
        EXPECT_TRUE(regionIs(0, 0, 8, 8, c.drawn == 0 ? grayIndex(77) : kBackground));
    }
    uint32_t w, h;
    uint8_t p;
    EXPECT_EQ(GUI_JPEG_GetSize(nullptr, 100, &w, &h, &p), 1);
}

TEST_F(JpegDecode, UnsupportedLayoutsAreRefused) {
    auto frame = [](const std::vector<Component> &comps) {
        Stream s;
        s.soi().dqt8(0, unitQuant()).sof(0xC0, 16, 16, comps).dht(0, 0, dcFlat()).dht(1, 0, acFlat());
        return s.sos({{1, 0}}).raw(Bytes(64, 0)).eoi().bytes;
    };
    EXPECT_EQ(draw(frame({{1, 0x11, 0}, {2, 0x21, 0}, {3, 0x11, 0}})), 1);   // Cb 2x1
    EXPECT_EQ(draw(frame({{1, 0x11, 0}, {2, 0x11, 0}, {3, 0x11, 0}, {4, 0x11, 0}})), 1);
    EXPECT_EQ(draw(frame({{1, 0x31, 0}, {2, 0x11, 0}, {3, 0x11, 0}})), 1);
    // A grey frame draws one 8 x 8 block per MCU whatever its sampling.
    EXPECT_EQ(draw(frame({{1, 0x22, 0}})), 0);
    EXPECT_TRUE(regionIs(0, 0, 16, 16, grayIndex(128)));
}

TEST_F(JpegDecode, QuantisationSegments) {
    // Two 8-bit tables in one segment (length 132) define both slots.
    const Bytes both = Bytes{0x00} + Bytes(64, 1) + Bytes{0x01} + Bytes(64, 2);
    auto image = [](const Bytes &dqt, uint8_t quantSlot) {
        Stream s;
        s.soi().segment(0xDB, dqt).sof(0xC0, 8, 8, {{1, 0x11, quantSlot}});
        s.dht(0, 0, dcFlat()).dht(1, 0, acFlat()).sos({{1, 0}});
        EntropyWriter e(dcFlat(), acFlat());
        e.block(40);   // DC 40 x q
        return s.raw(e.flush()).eoi().bytes;
    };
    ASSERT_EQ(draw(image(both, 1)), 0);
    EXPECT_TRUE(regionIs(0, 0, 8, 8, grayIndex(128 + 10)));   // 80 x 4 = 320, (336 >> 5) = 10
    ASSERT_EQ(draw(image(both, 0)), 0);
    EXPECT_TRUE(regionIs(0, 0, 8, 8, grayIndex(128 + 5)));
    EXPECT_EQ(draw(image(Bytes(both.begin(), both.end() - 1), 0)), 1);   // length 131
    Bytes slot4 = both;
    slot4[0] = 0x04;
    EXPECT_EQ(draw(image(slot4, 1)), 1);
    // A frame naming a table no segment defined, or a selector above 3.
    EXPECT_EQ(draw(image(Bytes(both.begin(), both.begin() + 65), 1)), 1);
    EXPECT_EQ(draw(image(both, 4)), 1);
}

// A 16 x 8 grey image with one more table segment; the scan uses AC table 0
// unless said otherwise.
Bytes withAcTable(int tableClass, int id, const HuffSpec &table, uint8_t scanTables = 0x00) {
    Stream s;
    s.soi().dqt8(0, unitQuant()).sof(0xC0, 16, 8, {{1, 0x11, 0}}).dht(0, 0, dcFlat()).dht(1, 0, acFlat());
    s.dht(tableClass, id, table).sos({{1, scanTables}});
    EntropyWriter e(dcFlat(), acFlat());
    e.block(dcForSample(99));
    e.block(0);
    return s.raw(e.flush()).eoi().bytes;
}

TEST_F(JpegDecode, HuffmanSegments) {
    HuffSpec overLong = acFlat();
    overLong.counts[2] = 1;   // on top of 242 codes of 8 bits
    overLong.symbols.insert(overLong.symbols.begin(), 0x11);
    HuffSpec cutShort = acFlat();
    cutShort.symbols.resize(100);
    struct Case {
        const char *what;
        int tableClass, id;
        HuffSpec table;
        uint8_t scanTables;
        int result;
    } cases[] = {
        {"AC table 1 in use", 1, 1, acFlat(), 0x01, 0},
        {"AC table 2", 1, 2, acFlat(), 0x00, 1},
        {"scan naming an AC table never defined", 0, 1, dcFlat(), 0x01, 1},
        {"256 codes", 1, 1, huff({{9, 255}, {10, 1}}), 0x00, 1},
        {"more codes than the segment holds", 1, 1, cutShort, 0x00, 1},
        // Over-subscribed code spaces are refused even in a slot the scan
        // does not use.
        {"three 1-bit codes", 1, 1, huff({{1, 3}}), 0x00, 1},
        {"a 2-bit code over full 8-bit codes", 1, 1, overLong, 0x00, 1},
        // The long codes straddle so many prefixes that they need 260 tree
        // nodes, more than the 256 there are...
        {"one 14-bit and 254 16-bit codes", 1, 1, huff({{14, 1}, {16, 254}}), 0x00, 1},
        // ... while 255 codes of 16 bits from code 0 need 255, which fit.
        {"255 16-bit codes", 1, 1, huff({{16, 255}}), 0x00, 0},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(draw(withAcTable(c.tableClass, c.id, c.table, c.scanTables)), c.result) << c.what;
        EXPECT_TRUE(c.result != 0 || regionIs(0, 0, 16, 8, grayIndex(99))) << c.what;
    }
    // Up to 16 bytes after the last table of a segment are left unread.
    HuffSpec table = acFlat();
    Bytes payload = Bytes{0x11} + Bytes(table.counts + 1, table.counts + 17) + table.symbols + Bytes(16, 0x42);
    Stream s;
    s.soi().dqt8(0, unitQuant()).sof(0xC0, 8, 8, {{1, 0x11, 0}}).dht(0, 0, dcFlat()).segment(0xC4, payload);
    EntropyWriter e(dcFlat(), acFlat());
    e.block(dcForSample(99));
    ASSERT_EQ(draw(s.sos({{1, 0x01}}).raw(e.flush()).eoi().bytes), 0);
    EXPECT_TRUE(regionIs(0, 0, 8, 8, grayIndex(99)));
}

TEST_F(JpegDecode, RestartAndScanSegments) {
    Bytes image = flatGray(8, 8, {50});
    EXPECT_EQ(draw(Stream().soi().segment(0xDD, {0, 2, 0}).raw(Bytes(image.begin() + 2, image.end())).bytes), 1);
    auto scanWith = [](const Bytes &sosPayload) {
        Stream s;
        s.soi().dqt8(0, unitQuant()).sof(0xC0, 8, 8, {{1, 0x11, 0}, {2, 0x11, 0}, {3, 0x11, 0}});
        s.dht(0, 0, dcFlat()).dht(1, 0, acFlat()).segment(0xDA, sosPayload).raw(Bytes(16, 0)).eoi();
        return s.bytes;
    };
    EXPECT_EQ(draw(scanWith({3, 1, 0, 2, 0, 3, 0, 0, 63, 0})), 0);
    EXPECT_EQ(draw(scanWith({3, 1, 0, 2, 0, 4, 0, 0, 63, 0})), 1);      // no component 4
    EXPECT_EQ(draw(scanWith({3, 1, 0, 2, 0, 3, 0, 0, 63})), 1);         // wrong length
    EXPECT_EQ(draw(scanWith({0, 0, 63, 0})), 1);                        // no components
    EXPECT_EQ(draw(scanWith({3, 1, 0x40, 2, 0, 3, 0, 0, 63, 0})), 1);   // DC table 4
    // A component listed twice needs more blocks than an MCU has.
    EXPECT_EQ(draw(scanWith({4, 1, 0, 1, 0, 2, 0, 3, 0, 0, 63, 0})), 1);
    // Something other than a scan after the tables.
    EXPECT_EQ(draw(Stream().soi().dqt8(0, unitQuant()).sof(0xC0, 8, 8, {{1, 0x11, 0}}).eoi().bytes), 1);
}

// ---------------------------------------------------------------------------
// Clipping

class JpegClip : public BareDeviceTest {
protected:
    // A 37 x 29 colour image and its decoding drawn whole at (0, 0).
    void SetUp() override {
        BareDeviceTest::SetUp();
        image = testData("jpeg/h2v1_q75.jpg");
        ASSERT_EQ(draw(image), 0);
        for (int y = 0; y < 29; y++)
            for (int x = 0; x < 37; x++) truth[y][x] = pixel(x, y);
    }
    // Draws at (x, y) under the clip rectangle given and checks every pixel
    // of the screen.
    void expectDrawnAt(int32_t x, int32_t y, int x0 = 0, int y0 = 0, int x1 = 639, int y1 = 399) {
        GUI_SetClipRect(x0, y0, x1, y1);
        EXPECT_EQ(draw(image, x, y), 0);
        for (int py = 0; py < SCREEN_HEIGHT; py++)
            for (int px = 0; px < SCREEN_WIDTH; px++) {
                int64_t ix = (int64_t)px - x, iy = (int64_t)py - y;
                bool inside = px >= x0 && px <= x1 && py >= y0 && py <= y1 && ix >= 0 && ix < 37 && iy >= 0 && iy < 29;
                uint8_t expected = inside ? truth[iy][ix] : kBackground;
                if (pixel(px, py) != expected) {
                    ADD_FAILURE() << "at (" << x << ", " << y << "): pixel (" << px << ", " << py << ") is "
                                  << (int)pixel(px, py) << ", expected " << (int)expected;
                    return;
                }
            }
    }
    Bytes image;
    uint8_t truth[29][37];
};

TEST_F(JpegClip, ScreenEdgesClipSidesAndFarAwayPositions) {
    expectDrawnAt(-10, -7);   // rows above the screen are decoded, not drawn
    expectDrawnAt(620, 390);
    expectDrawnAt(INT32_MAX, INT32_MAX);
    expectDrawnAt(INT32_MIN, INT32_MIN);
    expectDrawnAt(10, 10, 5, 4, 20, 15);
    // Starting right of the clip rectangle, or ending above it, draws
    // nothing; so does an empty clip rectangle.
    expectDrawnAt(21, 0, 5, 4, 20, 15);
    expectDrawnAt(5, -40, 5, 4, 20, 15);
    expectDrawnAt(0, 0, 10, 10, 9, 20);
}

TEST_F(JpegClip, DecodingStopsBelowTheClip) {
    // Without EOI the image fails only when its last MCU row is reached;
    // with the clip ending above it, decoding stops first and succeeds.
    Bytes cut(image.begin(), image.end() - 2);
    EXPECT_EQ(draw(cut, 0, 0), 1);
    GUI_SetClipRect(0, 0, 639, 20);
    EXPECT_EQ(draw(cut, 0, 0), 0);
    EXPECT_TRUE(regionIs(0, 21, 37, 10, kBackground));
}

// ---------------------------------------------------------------------------
// The pool

class JpegPool : public BareDeviceTest {
protected:
    void SetUp() override {
        BareDeviceTest::SetUp();
        start = GUI_AllocStart();
    }
    void TearDown() override { GUI_AllocEnd(start); }
    // Leaves exactly `bytes` free above whatever the pool held at the start.
    void leaveFree(uint32_t bytes) {
        GUI_AllocEnd(start);
        ASSERT_GE(GUI_GetNumFreeBytes(), bytes);
        GUI_AllocNoInit(GUI_GetNumFreeBytes() - bytes);
    }
    uint32_t start = 0;
};

TEST_F(JpegPool, RecordAndRowBuffersNeedRoomInThePool) {
    // One 2x2 MCU asks for 193 x 6 + 2 x 16 = 1190 bytes; the pool hands out
    // 4-byte steps, so the buffers take 1192. 640 wide, 40 such MCUs need
    // more than 193 x 240 + 2 x 640 bytes. (Free counts here keep the record
    // on an 8-byte boundary, so it takes no padding.)
    Bytes small = flatGray(16, 16, {90, 90, 90, 90});
    Bytes one = flatColor(16, 16, 0x22, {{90, 90, 90, 90, 128, 128}});
    Bytes wide = flatColor(640, 16, 0x22, repeat(40, {90, 90, 90, 90, 128, 128}));
    struct Case {
        const Bytes &image;
        int width;
        uint32_t free;
        int result;
    } cases[] = {
        {small, 16, 100, -1},   // not even room for the record
        {one, 16, JPEG_CONTEXT_BYTES + 1184, -1},
        {one, 16, JPEG_CONTEXT_BYTES + 1192, 0},
        {wide, 640, JPEG_CONTEXT_BYTES + 193 * 240 + 2 * 640, -1},
        {wide, 640, JPEG_CONTEXT_BYTES + 193 * 240 + 2 * 640 + 8, 0},
    };
    for (const Case &c : cases) {
        leaveFree(c.free);
        EXPECT_EQ(draw(c.image), c.result) << c.width << " wide, " << c.free << " bytes";
        EXPECT_TRUE(regionIs(0, 0, c.width, 16, c.result == 0 ? grayIndex(90) : kBackground));
    }
    leaveFree(100);
    EXPECT_EQ(sizeOf(small).result, 1);
    EXPECT_EQ(GUI_GetNumFreeBytes(), 100u);
}

TEST_F(JpegPool, TallestImage) {
    // 8 x 65535 grey with a few bytes of data: decoding runs on 1-bits and
    // stops at the bottom of the screen...
    Bytes tall = flatGray(8, 65535, {200});
    EXPECT_EQ(draw(tall), 0);
    EXPECT_TRUE(regionIs(0, 0, 8, 400, grayIndex(200)));
    EXPECT_TRUE(regionIs(8, 0, 1, 400, kBackground));
    // ... and drawn from far above, it decodes every row and finds its EOI.
    EXPECT_EQ(draw(tall, 0, -65535 + 10), 0);
    EXPECT_TRUE(regionIs(0, 0, 8, 10, grayIndex(200)));
    EXPECT_TRUE(regionIs(0, 10, 8, 1, kBackground));
}

}  // namespace
