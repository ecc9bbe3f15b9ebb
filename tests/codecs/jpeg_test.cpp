// The JPEG decoder on hand-built streams: exact samples from coefficients
// chosen here, the component layouts, the refusals of the header and table
// segments, broken entropy data, restart markers, clipping and the pool.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "codecs/GUI_JPEG.h"
#include "gui/GUICC_M332.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Alloc.h"
#include "gui/GUI_Common.h"
#include "tests/codecs/jpeg_stream.h"
#include "tests/support/device_fixture.h"

using namespace jpegtest;

namespace {

constexpr uint8_t kBackground = 0x5A;

uint8_t grayIndex(int sample) { return Color2Index_M332(0xFF000000u | (uint32_t)sample * 0x010101u); }

uint8_t pixel(int x, int y) { return fb[y * SCREEN_WIDTH + x]; }

// Draws on a screen filled with kBackground; the data is copied into a
// buffer of exactly its size so that a read past it is caught.
int draw(const Bytes &data, int32_t x = 0, int32_t y = 0) {
    memset(fb, kBackground, sizeof fb);
    std::vector<uint8_t> exact(data);
    uint32_t freeBefore = GUI_GetNumFreeBytes();
    int result = GUI_JPEG_Draw(exact.data(), (uint32_t)exact.size(), x, y);
    EXPECT_EQ(GUI_GetNumFreeBytes(), freeBefore) << "pool not released";
    return result;
}

int getSize(const Bytes &data, uint32_t &w, uint32_t &h, uint8_t &progressive) {
    std::vector<uint8_t> exact(data);
    w = h = 7;
    progressive = 7;
    return GUI_JPEG_GetSize(exact.data(), (uint32_t)exact.size(), &w, &h, &progressive);
}

// Checks a w x h region at (x0, y0) against one index; says where it differs.
::testing::AssertionResult regionIs(int x0, int y0, int w, int h, uint8_t index) {
    for (int y = y0; y < y0 + h; y++) {
        for (int x = x0; x < x0 + w; x++) {
            if (pixel(x, y) != index) {
                return ::testing::AssertionFailure()
                       << "pixel (" << x << ", " << y << ") is " << (int)pixel(x, y) << ", expected " << (int)index
                       << "\n"
                       << testsupport::describeRegion(fb, SCREEN_WIDTH, x0, y0, w, h);
            }
        }
    }
    return ::testing::AssertionSuccess();
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

// A colour image whose MCUs hold flat blocks; blocks lists the samples of
// each block in decoding order, MCU after MCU.
Bytes flatColor(int width, int height, uint8_t lumaSampling, const std::vector<int> &blocks, int blocksPerMcu) {
    Stream s = colorHeader(width, height, lumaSampling);
    EntropyWriter e(dcFlat(), acFlat());
    int lumaBlocks = blocksPerMcu - 2;
    int prev[3] = {0, 0, 0};
    for (size_t i = 0; i < blocks.size(); i++) {
        int pos = (int)(i % blocksPerMcu);
        int c = pos < lumaBlocks ? 0 : pos - lumaBlocks + 1;
        int dc = dcForSample(blocks[i]);
        e.block(dc - prev[c]);
        prev[c] = dc;
    }
    s.raw(e.flush()).eoi();
    return s.bytes;
}

class JpegDecode : public BareDeviceTest {};

// ---------------------------------------------------------------------------
// Samples and colours

TEST_F(JpegDecode, DcOnlyBlockIsFlat) {
    // DC 8: row pass 8 << 2 = 32, column pass ((32 + 16) >> 5) + 128 = 129.
    Stream s = grayHeader(8, 8);
    EntropyWriter e(dcFlat(), acFlat());
    e.block(8);
    s.raw(e.flush()).eoi();
    ASSERT_EQ(draw(s.bytes), 0);
    EXPECT_TRUE(regionIs(0, 0, 8, 8, grayIndex(129)));
    EXPECT_TRUE(regionIs(8, 0, 1, 8, kBackground));
    EXPECT_TRUE(regionIs(0, 8, 8, 1, kBackground));
}

TEST_F(JpegDecode, InverseTransformOfSingleFrequencies) {
    // Block 0: coefficient (0, 1) = 160. Only row 0 is not zero; its kernel
    // outputs are 11363, 9633, 6437, 2260 (and their negatives, mirrored)
    // times 160, descaled by (v + 1024) >> 11 to 888, 753, 503, 177, -177,
    // -503, -753, -888; each column is then DC-only: ((v + 16) >> 5) + 128.
    // Block 1: coefficient (1, 0) = 160. Row 1 is DC-only (640 throughout),
    // so each column runs the kernel: ((k x 640 + 131072) >> 18) + 128.
    // Block 2: coefficient (1, 1) = 200. Row 1 gives 1110, 941, 629, 221,
    // -221, -629, -941, -1110; column j then gives
    // ((k_i x row_j + 131072) >> 18) + 128 at row i.
    const int ramp[8] = {156, 152, 144, 134, 122, 112, 104, 100};
    const int diagonal[8][8] = {
        {176, 169, 155, 138, 118, 101, 87, 80},  {169, 163, 151, 136, 120, 105, 93, 87},
        {155, 151, 143, 133, 123, 113, 105, 101}, {138, 136, 133, 130, 126, 123, 120, 118},
        {118, 120, 123, 126, 130, 133, 136, 138}, {101, 105, 113, 123, 133, 143, 151, 155},
        {87, 93, 105, 120, 136, 151, 163, 169},  {80, 87, 101, 118, 138, 155, 169, 176}};
    Stream s = grayHeader(24, 8);
    EntropyWriter e(dcFlat(), acFlat());
    e.block(0, {{0, 160}});  // zig-zag 1 is (0, 1)
    e.block(0, {{1, 160}});  // zig-zag 2 is (1, 0)
    e.block(0, {{3, 200}});  // zig-zag 4 is (1, 1)
    s.raw(e.flush()).eoi();
    ASSERT_EQ(draw(s.bytes), 0);
    for (int y = 0; y < 8; y++) {
        for (int x = 0; x < 8; x++) {
            EXPECT_EQ(pixel(x, y), grayIndex(ramp[x])) << x << "," << y;
            EXPECT_EQ(pixel(8 + x, y), grayIndex(ramp[y])) << x << "," << y;
            EXPECT_EQ(pixel(16 + x, y), grayIndex(diagonal[y][x])) << x << "," << y;
        }
    }
}

TEST_F(JpegDecode, ColourConversionOfKnownSamples) {
    // Y 255 on neutral chroma is white, Y 0 black; Y 76, Cb 85, Cr 255 is
    // pure red: R = 76 + 178 = 254, G = 76 + ((-22554 x -43 + 32768 -
    // 46802 x 127) >> 16) = 76 - 76 = 0, B = 76 - 76 = 0.
    Bytes data = flatColor(24, 8, 0x11, {255, 128, 128, 0, 128, 128, 76, 85, 255}, 3);
    ASSERT_EQ(draw(data), 0);
    EXPECT_TRUE(regionIs(0, 0, 8, 8, 0xFF));
    EXPECT_TRUE(regionIs(8, 0, 8, 8, 0x00));
    EXPECT_TRUE(regionIs(16, 0, 8, 8, 0xE0));
}

TEST_F(JpegDecode, LumaBlocksOfEachLayoutLandInPlace) {
    // Neutral chroma: each luma block shows as its grey.
    {
        SCOPED_TRACE("2x1");
        ASSERT_EQ(draw(flatColor(16, 8, 0x21, {40, 200, 128, 128}, 4)), 0);
        EXPECT_TRUE(regionIs(0, 0, 8, 8, grayIndex(40)));
        EXPECT_TRUE(regionIs(8, 0, 8, 8, grayIndex(200)));
    }
    {
        SCOPED_TRACE("1x2");
        ASSERT_EQ(draw(flatColor(8, 16, 0x12, {40, 200, 128, 128}, 4)), 0);
        EXPECT_TRUE(regionIs(0, 0, 8, 8, grayIndex(40)));
        EXPECT_TRUE(regionIs(0, 8, 8, 8, grayIndex(200)));
    }
    {
        SCOPED_TRACE("2x2");
        ASSERT_EQ(draw(flatColor(16, 16, 0x22, {40, 100, 160, 220, 128, 128}, 6)), 0);
        EXPECT_TRUE(regionIs(0, 0, 8, 8, grayIndex(40)));
        EXPECT_TRUE(regionIs(8, 0, 8, 8, grayIndex(100)));
        EXPECT_TRUE(regionIs(0, 8, 8, 8, grayIndex(160)));
        EXPECT_TRUE(regionIs(8, 8, 8, 8, grayIndex(220)));
    }
    {
        SCOPED_TRACE("2x2, chroma over the whole MCU");
        ASSERT_EQ(draw(flatColor(16, 16, 0x22, {76, 76, 76, 76, 85, 255}, 6)), 0);
        EXPECT_TRUE(regionIs(0, 0, 16, 16, 0xE0));
    }
}

TEST_F(JpegDecode, PartialMcusDrawOnlyTheImage) {
    // 2x2 layout, 17 x 20: two MCUs across, two MCU rows, 17 pixels a line.
    std::vector<int> blocks;
    for (int mcu = 0; mcu < 4; mcu++) blocks.insert(blocks.end(), {200, 200, 200, 200, 128, 128});
    ASSERT_EQ(draw(flatColor(17, 20, 0x22, blocks, 6)), 0);
    EXPECT_TRUE(regionIs(0, 0, 17, 20, grayIndex(200)));
    EXPECT_TRUE(regionIs(17, 0, 15, 32, kBackground));
    EXPECT_TRUE(regionIs(0, 20, 17, 12, kBackground));
}

TEST_F(JpegDecode, SixteenBitQuantisationInZigzagOrder) {
    // The table holds 1, 2, 3, ... in segment order: q[0] = 1 scales the DC,
    // q[1] = 2 the coefficient at zig-zag 1, which is (0, 1).
    std::vector<int> q(64);
    for (int k = 0; k < 64; k++) q[k] = k + 1;
    Stream s;
    s.soi().dqt16(0, q).sof(0xC1, 16, 8, {{1, 0x11, 0}}).dht(0, 0, dcFlat()).dht(1, 0, acFlat()).sos({{1, 0}});
    EntropyWriter e(dcFlat(), acFlat());
    e.block(8);              // DC 8 x 1: flat 129
    e.block(-8, {{0, 80}});  // DC 0, (0, 1) = 80 x 2 = 160: the ramp above
    s.raw(e.flush()).eoi();
    ASSERT_EQ(draw(s.bytes), 0);
    EXPECT_TRUE(regionIs(0, 0, 8, 8, grayIndex(129)));
    EXPECT_EQ(pixel(8, 3), grayIndex(156));
    EXPECT_EQ(pixel(15, 3), grayIndex(100));
}

TEST_F(JpegDecode, LargeQuantisedValuesAreKeptAs16Bits) {
    // Quantiser 65535 and coefficients of 15 bits: the products keep their
    // low 16 bits, and the transform of any 16-bit input stays in range.
    Stream s;
    s.soi().dqt16(0, std::vector<int>(64, 65535)).sof(0xC1, 16, 8, {{1, 0x11, 0}});
    HuffSpec dc;
    dc.counts[5] = 16;
    for (int i = 0; i < 16; i++) dc.symbols.push_back((uint8_t)i);
    s.dht(0, 0, dc).dht(1, 0, acFlat()).sos({{1, 0}});
    EntropyWriter e(dc, acFlat());
    std::vector<std::pair<int, int>> extremes;
    for (int k = 1; k < 64; k++) extremes.push_back({0, (k & 1) ? 32767 : -32767});
    e.block(32767, extremes);
    e.block(-32767, extremes);
    s.raw(e.flush()).eoi();
    EXPECT_EQ(draw(s.bytes), 0);
}

// ---------------------------------------------------------------------------
// Entropy data

TEST_F(JpegDecode, StuffedByteReadsAsFF) {
    // Block 0 takes 12 bits (DC category 0, EOB); block 1's category 8 code
    // fills the second byte, so its value 255 is the byte FF, stuffed.
    Bytes data = flatGray(16, 8, {128, 128});
    Stream s = grayHeader(16, 8);
    EntropyWriter e(dcFlat(), acFlat());
    e.block(0);
    e.block(255);
    Bytes entropy = e.flush();
    ASSERT_GE(entropy.size(), 4u);
    ASSERT_EQ(entropy[2], 0xFF);
    ASSERT_EQ(entropy[3], 0x00);
    s.raw(entropy).eoi();
    ASSERT_EQ(draw(s.bytes), 0);
    // DC 255: ((1020 + 16) >> 5) + 128 = 160.
    EXPECT_TRUE(regionIs(0, 0, 8, 8, grayIndex(128)));
    EXPECT_TRUE(regionIs(8, 0, 8, 8, grayIndex(160)));
}

TEST_F(JpegDecode, MarkerInsideTheDataReadsAsOneBits) {
    // The second MCU row's data is cut off by EOI: it decodes from 1-bits,
    // which the flat tables read as DC difference 0 and end of block, and
    // the EOI is still found at the end.
    Stream s = grayHeader(8, 16);
    EntropyWriter e(dcFlat(), acFlat());
    e.block(dcForSample(90));
    s.raw(e.flush()).eoi();
    ASSERT_EQ(draw(s.bytes), 0);
    EXPECT_TRUE(regionIs(0, 0, 8, 16, grayIndex(90)));
}

TEST_F(JpegDecode, MissingEoiKeepsTheLastMcuRowUndrawn) {
    Bytes data = flatGray(8, 24, {60, 120, 180}, false);
    EXPECT_EQ(draw(data), 1);
    EXPECT_TRUE(regionIs(0, 0, 8, 8, grayIndex(60)));
    EXPECT_TRUE(regionIs(0, 8, 8, 8, grayIndex(120)));
    EXPECT_TRUE(regionIs(0, 16, 8, 8, kBackground));
    // A second scan where EOI should be refuses the last row the same way.
    Bytes twoScans = flatGray(8, 24, {60, 120, 180}, false);
    Stream extra;
    extra.sos({{1, 0}}).eoi();
    twoScans.insert(twoScans.end(), extra.bytes.begin(), extra.bytes.end());
    EXPECT_EQ(draw(twoScans), 1);
    EXPECT_TRUE(regionIs(0, 8, 8, 8, grayIndex(120)));
    EXPECT_TRUE(regionIs(0, 16, 8, 8, kBackground));
}

TEST_F(JpegDecode, LastRowOfATwoByTwoImageWaitsForEoi) {
    // Height 20 in 2x2 layout: the EOI check comes with the second MCU row,
    // before line 16 is drawn.
    std::vector<int> blocks;
    for (int mcu = 0; mcu < 2; mcu++) blocks.insert(blocks.end(), {200, 200, 200, 200, 128, 128});
    Bytes data = flatColor(16, 20, 0x22, blocks, 6);
    data.resize(data.size() - 2);
    EXPECT_EQ(draw(data), 1);
    EXPECT_TRUE(regionIs(0, 0, 16, 16, grayIndex(200)));
    EXPECT_TRUE(regionIs(0, 16, 16, 4, kBackground));
}

TEST_F(JpegDecode, TruncatedStreamsNeverReadPastTheirEnd) {
    // Every prefix of a valid stream (colour, restart markers, long codes)
    // is refused or drawn without touching anything past its bytes; the
    // exact-size copies in draw() let the address checker see any overrun.
    std::vector<std::vector<uint8_t>> sources;
    for (const char *name : {"h2v2_restart2.jpg", "h1v1_q4_16bit.jpg", "gray_q75.jpg"}) {
        std::ifstream in(std::string(NIMBRA_SOURCE_DIR) + "/tests/data/jpeg/" + name, std::ios::binary);
        sources.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        ASSERT_GT(sources.back().size(), 100u) << name;
    }
    for (const auto &full : sources) {
        for (size_t n = 0; n < full.size(); n += (n < 700 ? 1 : 7)) {
            Bytes prefix(full.begin(), full.begin() + (long)n);
            int result = draw(prefix);
            EXPECT_TRUE(result == 1) << "prefix of " << n << " bytes gave " << result;
            uint32_t w, h;
            uint8_t p;
            getSize(prefix, w, h, p);
        }
    }
}

TEST_F(JpegDecode, CorruptedStreamsStayInBounds) {
    // Flipped bytes anywhere in a real stream: any result is allowed, but
    // the pool comes back and nothing outside the image changes.
    std::ifstream in(std::string(NIMBRA_SOURCE_DIR) + "/tests/data/jpeg/h2v2_optimized.jpg", std::ios::binary);
    Bytes full((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(full.size(), 200u);
    uint32_t state = 12345;
    for (int round = 0; round < 300; round++) {
        Bytes data = full;
        for (int flips = 0; flips < 1 + round % 4; flips++) {
            state = state * 1103515245u + 12345u;
            size_t at = 2 + (state >> 8) % (data.size() - 2);
            data[at] ^= (uint8_t)(1u << ((state >> 4) & 7));
        }
        int result = draw(data, 3, 2);
        EXPECT_TRUE(result == 0 || result == 1 || result == -1);
        EXPECT_TRUE(regionIs(0, 0, 3, 40, kBackground));
        EXPECT_TRUE(regionIs(0, 0, 48, 2, kBackground));
    }
}

TEST_F(JpegDecode, LongCodesWalkTheTree) {
    // DC codes of lengths 1 to 12 (category 10 takes 11 bits, 11 takes 12);
    // AC: EOB is "0" and the rest have 16-bit codes under one 8-bit prefix.
    HuffSpec dc;
    for (int l = 1; l <= 12; l++) {
        dc.counts[l] = 1;
        dc.symbols.push_back((uint8_t)(l - 1));
    }
    HuffSpec ac;
    ac.counts[1] = 1;
    ac.symbols.push_back(0x00);
    for (int r = 0; r < 16; r++) {
        for (int size = 1; size < 16; size++) ac.symbols.push_back((uint8_t)(r << 4 | size));
    }
    ac.symbols.push_back(0xF0);
    ac.counts[16] = (uint8_t)(ac.symbols.size() - 1);
    Stream s;
    s.soi().dqt8(0, unitQuant()).sof(0xC0, 24, 8, {{1, 0x11, 0}}).dht(0, 0, dc).dht(1, 0, ac).sos({{1, 0}});
    EntropyWriter e(dc, ac);
    e.block(dcForSample(255));                         // category 10
    e.block(dcForSample(0) - dcForSample(255));        // -2040: category 11
    e.block(dcForSample(128) - dcForSample(0), {{0, 160}});
    s.raw(e.flush()).eoi();
    ASSERT_EQ(draw(s.bytes), 0);
    EXPECT_TRUE(regionIs(0, 0, 8, 8, 0xFF));
    EXPECT_TRUE(regionIs(8, 0, 8, 8, 0x00));
    EXPECT_EQ(pixel(16, 0), grayIndex(156));
    EXPECT_EQ(pixel(23, 7), grayIndex(100));
}

TEST_F(JpegDecode, AcRunPastTheBlockAbandonsTheRow) {
    // Row 0: blocks at 150 and 170. Row 1: block 0 decodes its DC (90),
    // then three ZRLs reach position 49 and a run of 15 would pass 63: the
    // rest of the row is abandoned, so block 1 keeps row 0's coefficients.
    Stream s = grayHeader(16, 16);
    EntropyWriter e(dcFlat(), acFlat());
    e.block(dcForSample(150));
    e.block(dcForSample(170) - dcForSample(150));
    e.block(dcForSample(90) - dcForSample(170), {}, false);
    e.acSymbol(0xF0);
    e.acSymbol(0xF0);
    e.acSymbol(0xF0);
    e.acSymbol(0xF1);
    e.bits(1, 1);
    s.raw(e.flush()).eoi();
    ASSERT_EQ(draw(s.bytes), 0);
    EXPECT_TRUE(regionIs(0, 0, 8, 8, grayIndex(150)));
    EXPECT_TRUE(regionIs(8, 0, 8, 8, grayIndex(170)));
    EXPECT_TRUE(regionIs(0, 8, 8, 8, grayIndex(90)));
    EXPECT_TRUE(regionIs(8, 8, 8, 8, grayIndex(170)));
}

TEST_F(JpegDecode, ZeroRunAfterPosition48AbandonsTheRow) {
    Stream s = grayHeader(16, 8);
    EntropyWriter e(dcFlat(), acFlat());
    e.block(dcForSample(150), {{48, 5}}, false);  // three ZRLs, then a value at 49
    e.acSymbol(0xF0);                       // a fourth ZRL at position 50
    s.raw(e.flush()).eoi();
    ASSERT_EQ(draw(s.bytes), 0);
    // Block 1 was never decoded: zero coefficients, mid grey.
    EXPECT_TRUE(regionIs(8, 0, 8, 8, grayIndex(128)));
}

TEST_F(JpegDecode, DcCategoryAbove15AbandonsTheRow) {
    HuffSpec dc;
    dc.counts[5] = 17;
    for (int i = 0; i <= 16; i++) dc.symbols.push_back((uint8_t)i);
    Stream s;
    s.soi().dqt8(0, unitQuant()).sof(0xC0, 16, 16, {{1, 0x11, 0}}).dht(0, 0, dc).dht(1, 0, acFlat());
    s.sos({{1, 0}});
    EntropyWriter e(dc, acFlat());
    e.block(dcForSample(60));
    e.dcSymbol(16);
    e.bits(0xFFFF, 16);
    s.raw(e.flush()).eoi();
    ASSERT_EQ(draw(s.bytes), 0);
    EXPECT_TRUE(regionIs(0, 0, 8, 8, grayIndex(60)));
    EXPECT_TRUE(regionIs(8, 0, 8, 8, grayIndex(128)));
}

TEST_F(JpegDecode, CoefficientsOfEarlierRowsAreCleared) {
    // Row 0 block 0 has a high-frequency coefficient; row 1's block ends at
    // once, so nothing of row 0 may survive into it.
    Stream s = grayHeader(8, 16);
    EntropyWriter e(dcFlat(), acFlat());
    e.block(dcForSample(128), {{0, 100}, {30, -70}, {20, 3}});
    e.block(dcForSample(200) - dcForSample(128));
    s.raw(e.flush()).eoi();
    ASSERT_EQ(draw(s.bytes), 0);
    EXPECT_TRUE(regionIs(0, 8, 8, 8, grayIndex(200)));
}

// ---------------------------------------------------------------------------
// Restart intervals

Bytes restartImage(int mcus, int interval, const std::vector<int> &samples, int wrongMarkerAt = -1) {
    Stream s;
    s.soi().dqt8(0, unitQuant()).sof(0xC0, 8 * mcus, 8, {{1, 0x11, 0}}).dri(interval);
    s.dht(0, 0, dcFlat()).dht(1, 0, acFlat()).sos({{1, 0}});
    EntropyWriter e(dcFlat(), acFlat());
    int prev = 0, marker = 0;
    for (int m = 0; m < mcus; m++) {
        if (m > 0 && m % interval == 0) {
            s.raw(e.flush());
            uint8_t code = (uint8_t)(0xD0 + (marker++ & 7));
            if (m == wrongMarkerAt) code = (uint8_t)(0xD0 + ((marker + 3) & 7));
            s.raw({0xFF, code});
            prev = 0;
        }
        e.block(dcForSample(samples[m]) - prev);
        prev = dcForSample(samples[m]);
    }
    s.raw(e.flush()).eoi();
    return s.bytes;
}

TEST_F(JpegDecode, RestartMarkersResetThePrediction) {
    // Interval 1 over 10 MCUs: markers D0 to D7, then D0 and D1 again, and
    // each MCU's DC coded from 0.
    std::vector<int> samples = {10, 40, 70, 100, 130, 160, 190, 220, 250, 20};
    ASSERT_EQ(draw(restartImage(10, 1, samples)), 0);
    for (int m = 0; m < 10; m++) EXPECT_TRUE(regionIs(8 * m, 0, 8, 8, grayIndex(samples[m]))) << m;
    // Interval 2: a marker after each second MCU.
    ASSERT_EQ(draw(restartImage(6, 2, {30, 60, 90, 120, 150, 180})), 0);
    for (int m = 0; m < 6; m++) EXPECT_TRUE(regionIs(8 * m, 0, 8, 8, grayIndex(30 + 30 * m))) << m;
}

TEST_F(JpegDecode, WrongRestartMarkerStopsLookingForMarkers) {
    // Two MCU rows of two MCUs, a marker after each MCU; the first marker
    // is wrong. MCU 0 is intact; no marker is looked for after the failed
    // one, so the next marker stops the entropy data and, still there when
    // the image should end, refuses the last row.
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
    s.eoi();
    EXPECT_EQ(draw(s.bytes), 1);
    EXPECT_TRUE(regionIs(0, 0, 8, 8, grayIndex(40)));
    EXPECT_TRUE(regionIs(0, 8, 16, 8, kBackground));
}

// ---------------------------------------------------------------------------
// Header and table segments

TEST_F(JpegDecode, StreamStartsAndEnds) {
    uint32_t w, h;
    uint8_t p;
    EXPECT_EQ(getSize({0xFF, 0xD9}, w, h, p), 1);
    EXPECT_EQ(w, 0u);
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(p, 0);
    EXPECT_EQ(getSize({0xFF, 0xD8}, w, h, p), 1);
    EXPECT_EQ(getSize({}, w, h, p), 1);
    EXPECT_EQ(GUI_JPEG_GetSize(nullptr, 100, &w, &h, &p), 1);
    EXPECT_EQ(draw({0xFF, 0xD8}), 1);
    EXPECT_EQ(draw({}), 1);
}

TEST_F(JpegDecode, SegmentsBeforeTheFrameAreSkipped) {
    Bytes image = flatGray(8, 8, {77});
    Stream s;
    s.soi().segment(0xFE, {'h', 'i', 0xFF, 0xD9}).segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 2});
    s.raw({0xFF, 0xFF, 0xFF});  // fill bytes before a marker
    s.raw(Bytes(image.begin() + 2, image.end()));
    uint32_t w, h;
    uint8_t p;
    EXPECT_EQ(getSize(s.bytes, w, h, p), 0);
    EXPECT_EQ(w, 8u);
    EXPECT_EQ(h, 8u);
    ASSERT_EQ(draw(s.bytes), 0);
    EXPECT_TRUE(regionIs(0, 0, 8, 8, grayIndex(77)));
    // Arithmetic-coding conditioning is refused, in the header and in draw.
    Stream dac;
    dac.soi().segment(0xCC, {0, 0}).raw(Bytes(image.begin() + 2, image.end()));
    EXPECT_EQ(getSize(dac.bytes, w, h, p), 1);
    EXPECT_EQ(draw(dac.bytes), 1);
}

TEST_F(JpegDecode, HeaderWithoutASupportedFrameIsRefused) {
    // A lossless frame, or a scan before any frame, gives no size.
    uint32_t w, h;
    uint8_t p;
    Stream lossless;
    lossless.soi().sof(0xC3, 8, 8, {{1, 0x11, 0}}).eoi();
    EXPECT_EQ(getSize(lossless.bytes, w, h, p), 1);
    EXPECT_EQ(w, 0u);
    EXPECT_EQ(draw(lossless.bytes), 1);
    Stream noFrame;
    noFrame.soi().sos({{1, 0}}).eoi();
    EXPECT_EQ(getSize(noFrame.bytes, w, h, p), 1);
}

TEST_F(JpegDecode, FrameHeaderChecks) {
    uint32_t w, h;
    uint8_t p;
    Stream zero;
    zero.soi().sof(0xC0, 0, 8, {{1, 0x11, 0}});
    EXPECT_EQ(getSize(zero.bytes, w, h, p), 1);
    Stream five;
    five.soi().sof(0xC0, 8, 8, {{1, 0x11, 0}, {2, 0x11, 0}, {3, 0x11, 0}, {4, 0x11, 0}, {5, 0x11, 0}});
    EXPECT_EQ(getSize(five.bytes, w, h, p), 1);
    Stream badLength;
    badLength.soi().segment(0xC0, {8, 0, 8, 0, 8, 1, 1, 0x11, 0, 0});
    EXPECT_EQ(getSize(badLength.bytes, w, h, p), 1);
    // The width and height are the frame header's own 16-bit fields.
    Stream big;
    big.soi().sof(0xC0, 65535, 40000, {{1, 0x11, 0}});
    EXPECT_EQ(getSize(big.bytes, w, h, p), 0);
    EXPECT_EQ(w, 65535u);
    EXPECT_EQ(h, 40000u);
}

TEST_F(JpegDecode, UnsupportedLayoutsAreRefused) {
    auto frame = [](const std::vector<Component> &comps) {
        Stream s;
        s.soi().dqt8(0, unitQuant()).sof(0xC0, 16, 16, comps).dht(0, 0, dcFlat()).dht(1, 0, acFlat());
        s.sos({{1, 0}}).raw(Bytes(64, 0)).eoi();
        return s.bytes;
    };
    EXPECT_EQ(draw(frame({{1, 0x11, 0}, {2, 0x21, 0}, {3, 0x11, 0}})), 1);  // Cb 2x1
    EXPECT_EQ(draw(frame({{1, 0x11, 0}, {2, 0x11, 0}, {3, 0x11, 0}, {4, 0x11, 0}})), 1);
    EXPECT_EQ(draw(frame({{1, 0x11, 0}, {2, 0x11, 0}})), 1);
    EXPECT_EQ(draw(frame({{1, 0x31, 0}, {2, 0x11, 0}, {3, 0x11, 0}})), 1);
    EXPECT_EQ(draw(frame({{1, 0x00, 0}})), 1);  // a grey frame with no sampling
    // A grey frame draws one 8 x 8 block per MCU whatever its sampling.
    EXPECT_EQ(draw(frame({{1, 0x22, 0}})), 0);
    EXPECT_TRUE(regionIs(0, 0, 16, 16, grayIndex(128)));
}

TEST_F(JpegDecode, AdobeTransformFlag) {
    Bytes image = flatGray(8, 8, {77});
    auto withAdobe = [&](Bytes payload) {
        Stream s;
        s.soi().segment(0xEE, payload).raw(Bytes(image.begin() + 2, image.end()));
        return s.bytes;
    };
    Bytes header = {'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0};
    Bytes ycc = header, none = header;
    ycc.push_back(1);
    none.push_back(0);
    EXPECT_EQ(draw(withAdobe(ycc)), 0);
    EXPECT_TRUE(regionIs(0, 0, 8, 8, grayIndex(77)));
    // Flag 0 is refused when drawn, but the size is still read.
    EXPECT_EQ(draw(withAdobe(none)), 1);
    uint32_t w, h;
    uint8_t p;
    EXPECT_EQ(getSize(withAdobe(none), w, h, p), 0);
    EXPECT_EQ(w, 8u);
    EXPECT_EQ(draw(withAdobe(Bytes(header.begin(), header.begin() + 10))), 1);  // too short
}

TEST_F(JpegDecode, QuantisationSegments) {
    // Two 8-bit tables in one segment (length 132) define both slots.
    Bytes both{0x00};
    for (int k = 0; k < 64; k++) both.push_back(1);
    both.push_back(0x01);
    for (int k = 0; k < 64; k++) both.push_back(2);
    auto image = [](const Bytes &dqt, uint8_t quantSlot) {
        Stream s;
        s.soi().segment(0xDB, dqt).sof(0xC0, 8, 8, {{1, 0x11, quantSlot}});
        s.dht(0, 0, dcFlat()).dht(1, 0, acFlat()).sos({{1, 0}});
        EntropyWriter e(dcFlat(), acFlat());
        e.block(40);  // DC 40 x q
        s.raw(e.flush()).eoi();
        return s.bytes;
    };
    ASSERT_EQ(draw(image(both, 1)), 0);
    EXPECT_TRUE(regionIs(0, 0, 8, 8, grayIndex(128 + 10)));  // 80 x 4 = 320, (336 >> 5) = 10
    ASSERT_EQ(draw(image(both, 0)), 0);
    EXPECT_TRUE(regionIs(0, 0, 8, 8, grayIndex(128 + 5)));
    Bytes cut(both.begin(), both.end() - 1);  // length 131
    EXPECT_EQ(draw(image(cut, 0)), 1);
    Bytes slot4 = both;
    slot4[0] = 0x04;
    EXPECT_EQ(draw(image(slot4, 1)), 1);
    // A frame naming a table no segment defined, or a selector above 3.
    EXPECT_EQ(draw(image(Bytes(both.begin(), both.begin() + 65), 1)), 1);
    EXPECT_EQ(draw(image(both, 4)), 1);
}

// A 16 x 8 grey image whose AC table is given; the scan uses AC table 0
// unless said otherwise.
Bytes withAcTable(int tableClass, int id, const HuffSpec &spec, uint8_t scanTables = 0x00) {
    Stream s;
    s.soi().dqt8(0, unitQuant()).sof(0xC0, 16, 8, {{1, 0x11, 0}}).dht(0, 0, dcFlat()).dht(1, 0, acFlat());
    s.dht(tableClass, id, spec).sos({{1, scanTables}});
    EntropyWriter e(dcFlat(), acFlat());
    e.block(dcForSample(99));
    e.block(0);
    s.raw(e.flush()).eoi();
    return s.bytes;
}

TEST_F(JpegDecode, HuffmanSegments) {
    // AC table 1 fills slot 3 and can be used; AC table 2 does not exist.
    ASSERT_EQ(draw(withAcTable(1, 1, acFlat(), 0x01)), 0);
    EXPECT_TRUE(regionIs(0, 0, 16, 8, grayIndex(99)));
    EXPECT_EQ(draw(withAcTable(1, 2, acFlat())), 1);
    // A scan naming an AC table that was never defined.
    EXPECT_EQ(draw(withAcTable(0, 1, dcFlat(), 0x01)), 1);
    // 256 codes in one table.
    HuffSpec tooMany;
    tooMany.counts[9] = 255;
    tooMany.counts[10] = 1;
    tooMany.symbols.resize(256);
    EXPECT_EQ(draw(withAcTable(1, 1, tooMany)), 1);
    // Up to 16 bytes after the last table of a segment are left unread.
    {
        Bytes payload{0x11};
        HuffSpec spec = acFlat();
        for (int l = 1; l <= 16; l++) payload.push_back(spec.counts[l]);
        payload.insert(payload.end(), spec.symbols.begin(), spec.symbols.end());
        payload.insert(payload.end(), 16, 0x42);
        Stream s;
        s.soi().dqt8(0, unitQuant()).sof(0xC0, 8, 8, {{1, 0x11, 0}}).dht(0, 0, dcFlat()).segment(0xC4, payload);
        s.sos({{1, 0x01}});
        EntropyWriter e(dcFlat(), acFlat());
        e.block(dcForSample(99));
        s.raw(e.flush()).eoi();
        ASSERT_EQ(draw(s.bytes), 0);
        EXPECT_TRUE(regionIs(0, 0, 8, 8, grayIndex(99)));
    }
    // More codes than the segment holds.
    HuffSpec short_ = acFlat();
    short_.symbols.resize(100);
    EXPECT_EQ(draw(withAcTable(1, 1, short_)), 1);
}

TEST_F(JpegDecode, BrokenHuffmanTablesAreRefused) {
    // Three codes of one bit over-subscribe the code space: refused even
    // in a slot the scan does not use.
    HuffSpec over;
    over.counts[1] = 3;
    over.symbols = {1, 2, 3};
    EXPECT_EQ(draw(withAcTable(1, 1, over)), 1);
    HuffSpec overLong = acFlat();
    overLong.counts[2] = 1;  // on top of 242 codes of 8 bits
    overLong.symbols.insert(overLong.symbols.begin(), 0x11);
    EXPECT_EQ(draw(withAcTable(1, 1, overLong)), 1);
    // One code of 14 bits and 254 of 16: the long codes straddle so many
    // prefixes that they need 260 tree nodes, more than the 256 there are.
    HuffSpec deep;
    deep.counts[14] = 1;
    deep.counts[16] = 254;
    for (int i = 0; i < 255; i++) deep.symbols.push_back((uint8_t)i);
    EXPECT_EQ(draw(withAcTable(1, 1, deep)), 1);
    // 255 codes of 16 bits from code 0 need 255 nodes, which fit.
    HuffSpec full;
    full.counts[16] = 255;
    for (int i = 0; i < 255; i++) full.symbols.push_back((uint8_t)i);
    EXPECT_EQ(draw(withAcTable(1, 1, full)), 0);
}

TEST_F(JpegDecode, RestartAndScanSegments) {
    Bytes image = flatGray(8, 8, {50});
    Stream badDri;
    badDri.soi().segment(0xDD, {0, 2, 0}).raw(Bytes(image.begin() + 2, image.end()));
    EXPECT_EQ(draw(badDri.bytes), 1);

    auto scanWith = [](const Bytes &sosPayload) {
        Stream s;
        s.soi().dqt8(0, unitQuant()).sof(0xC0, 8, 8, {{1, 0x11, 0}, {2, 0x11, 0}, {3, 0x11, 0}});
        s.dht(0, 0, dcFlat()).dht(1, 0, acFlat()).segment(0xDA, sosPayload).raw(Bytes(16, 0)).eoi();
        return s.bytes;
    };
    EXPECT_EQ(draw(scanWith({3, 1, 0, 2, 0, 3, 0, 0, 63, 0})), 0);
    EXPECT_EQ(draw(scanWith({3, 1, 0, 2, 0, 4, 0, 0, 63, 0})), 1);  // no component 4
    EXPECT_EQ(draw(scanWith({3, 1, 0, 2, 0, 3, 0, 0, 63})), 1);     // wrong length
    EXPECT_EQ(draw(scanWith({0, 0, 63, 0})), 1);                    // no components
    EXPECT_EQ(draw(scanWith({3, 1, 0x40, 2, 0, 3, 0, 0, 63, 0})), 1);  // DC table 4
    // A component listed twice needs more blocks than an MCU has.
    EXPECT_EQ(draw(scanWith({4, 1, 0, 1, 0, 2, 0, 3, 0, 0, 63, 0})), 1);
    // Something other than a scan after the tables.
    Stream noScan;
    noScan.soi().dqt8(0, unitQuant()).sof(0xC0, 8, 8, {{1, 0x11, 0}}).eoi();
    EXPECT_EQ(draw(noScan.bytes), 1);
}

// ---------------------------------------------------------------------------
// Clipping

class JpegClip : public BareDeviceTest {
protected:
    // A 37 x 29 colour image and its decoding drawn whole at (0, 0).
    void SetUp() override {
        BareDeviceTest::SetUp();
        std::ifstream in(std::string(NIMBRA_SOURCE_DIR) + "/tests/data/jpeg/h2v1_q75.jpg", std::ios::binary);
        image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        ASSERT_EQ(draw(image), 0);
        for (int y = 0; y < 29; y++) {
            for (int x = 0; x < 37; x++) truth[y][x] = pixel(x, y);
        }
    }
    // Draws at (x, y) and checks every pixel of the screen.
    void expectDrawnAt(int32_t x, int32_t y, int x0, int y0, int x1, int y1) {
        EXPECT_EQ(draw(image, x, y), 0);
        for (int py = 0; py < SCREEN_HEIGHT; py++) {
            for (int px = 0; px < SCREEN_WIDTH; px++) {
                int ix = px - x, iy = py - y;
                bool inside = px >= x0 && px <= x1 && py >= y0 && py <= y1 && ix >= 0 && ix < 37 && iy >= 0 && iy < 29;
                uint8_t expected = inside ? truth[iy][ix] : kBackground;
                if (pixel(px, py) != expected) {
                    ADD_FAILURE() << "at (" << x << ", " << y << "): pixel (" << px << ", " << py << ") is "
                                  << (int)pixel(px, py) << ", expected " << (int)expected;
                    return;
                }
            }
        }
    }
    Bytes image;
    uint8_t truth[29][37];
};

TEST_F(JpegClip, EachScreenEdge) {
    expectDrawnAt(-10, -7, 0, 0, 639, 399);
    expectDrawnAt(620, 390, 0, 0, 639, 399);
    expectDrawnAt(-36, 100, 0, 0, 639, 399);
    expectDrawnAt(100, -28, 0, 0, 639, 399);
    expectDrawnAt(639, 399, 0, 0, 639, 399);
}

TEST_F(JpegClip, ClipRectangle) {
    GUI_SetClipRect(5, 4, 20, 15);
    expectDrawnAt(0, 0, 5, 4, 20, 15);
    expectDrawnAt(10, 10, 5, 4, 20, 15);
    // Starting right of or below the clip rectangle draws nothing.
    expectDrawnAt(21, 0, 5, 4, 20, 15);
    expectDrawnAt(0, 16, 5, 4, 20, 15);
    // Ending left of or above it draws nothing either.
    expectDrawnAt(-40, 5, 5, 4, 20, 15);
    expectDrawnAt(5, -40, 5, 4, 20, 15);
    // An empty rectangle.
    GUI_SetClipRect(10, 10, 9, 20);
    EXPECT_EQ(draw(image, 0, 0), 0);
    EXPECT_TRUE(regionIs(0, 0, 40, 30, kBackground));
}

TEST_F(JpegClip, FarAwayPositions) {
    EXPECT_EQ(draw(image, 700, 0), 0);
    EXPECT_EQ(draw(image, INT32_MAX, INT32_MAX), 0);
    EXPECT_EQ(draw(image, INT32_MIN, INT32_MIN), 0);
    EXPECT_EQ(draw(image, INT32_MIN, 0), 0);
    EXPECT_TRUE(regionIs(0, 0, 640, 400, kBackground));
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

TEST_F(JpegClip, IntoSmallerOffScreenBuffer) {
    // Drawing into a picture smaller than the image keeps to the picture.
    std::vector<uint8_t> picture(20 * 10, 0x33);
    GUI_SetFrameBufferBase(picture.data(), 20, 10);
    EXPECT_EQ(GUI_JPEG_Draw(image.data(), (uint32_t)image.size(), -3, -2), 0);
    GUI_RestoreFrameBufferBase();
    for (int y = 0; y < 10; y++) {
        for (int x = 0; x < 20; x++) ASSERT_EQ(picture[y * 20 + x], truth[y + 2][x + 3]) << x << "," << y;
    }
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

TEST_F(JpegPool, RowBuffersNeedRoomInThePool) {
    // 640 wide, 2x2: 40 MCUs of 6 blocks need more than 193 x 240 + 2 x 640
    // bytes beside the record. (Free counts here keep the record on an
    // 8-byte boundary, so it takes no padding.)
    std::vector<int> blocks;
    for (int mcu = 0; mcu < 40; mcu++) blocks.insert(blocks.end(), {90, 90, 90, 90, 128, 128});
    Bytes wide = flatColor(640, 16, 0x22, blocks, 6);
    leaveFree(JPEG_CONTEXT_BYTES + 200);
    EXPECT_EQ(draw(wide), -1);
    EXPECT_EQ(pixel(0, 0), kBackground);
    leaveFree(JPEG_CONTEXT_BYTES + 193 * 240 + 2 * 640);
    EXPECT_EQ(draw(wide), -1);
    leaveFree(JPEG_CONTEXT_BYTES + 193 * 240 + 2 * 640 + 8);
    EXPECT_EQ(draw(wide), 0);
    EXPECT_TRUE(regionIs(0, 0, 640, 16, grayIndex(90)));
}

TEST_F(JpegPool, CheckPassesExactlyWhenTheBuffersFit) {
    // One 2x2 MCU asks for 193 x 6 + 2 x 16 = 1190 bytes; the pool hands
    // out 4-byte steps, so the buffers take 1192, which the next free count
    // above 1190 holds exactly.
    Bytes one = flatColor(16, 16, 0x22, {90, 90, 90, 90, 128, 128}, 6);
    leaveFree(JPEG_CONTEXT_BYTES + 1184);
    EXPECT_EQ(draw(one), -1);
    leaveFree(JPEG_CONTEXT_BYTES + 1192);
    EXPECT_EQ(draw(one), 0);
    EXPECT_TRUE(regionIs(0, 0, 16, 16, grayIndex(90)));
}

TEST_F(JpegPool, NoRoomEvenForTheRecord) {
    Bytes small = flatGray(8, 8, {50});
    leaveFree(100);
    EXPECT_EQ(draw(small), -1);
    uint32_t w, h;
    uint8_t p;
    EXPECT_EQ(getSize(small, w, h, p), 1);
    EXPECT_EQ(GUI_GetNumFreeBytes(), 100u);
}

TEST_F(JpegPool, RecordAtAnyPoolPosition) {
    // The record holds pointers: it must sit aligned whatever the pool's
    // fill, and the pool comes back to the same place.
    Bytes small = flatGray(8, 8, {50});
    for (uint32_t used : {0u, 4u, 8u, 12u}) {
        GUI_AllocEnd(start);
        GUI_AllocNoInit(used);
        uint32_t freeBefore = GUI_GetNumFreeBytes();
        ASSERT_EQ(draw(small), 0) << used;
        EXPECT_TRUE(regionIs(0, 0, 8, 8, grayIndex(50)));
        EXPECT_EQ(GUI_GetNumFreeBytes(), freeBefore);
    }
}

TEST_F(JpegPool, HostileSizes) {
    // 65535 x 65535 colour: far more row memory than the pool has.
    Stream huge;
    huge.soi().dqt8(0, unitQuant()).sof(0xC0, 65535, 65535, {{1, 0x22, 0}, {2, 0x11, 0}, {3, 0x11, 0}});
    huge.dht(0, 0, dcFlat()).dht(1, 0, acFlat()).sos({{1, 0}, {2, 0}, {3, 0}}).raw({1, 2, 3}).eoi();
    EXPECT_EQ(draw(huge.bytes), -1);
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
