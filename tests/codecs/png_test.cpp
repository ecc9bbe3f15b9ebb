// The PNG reader: header checks, the chunk walk, row filters, palettes and
// the ORV marker, and what broken or hostile files end with.
#include <gtest/gtest.h>

#include <random>

#include "codecs/png.h"
#include "gui/GUI_Alloc.h"
#include "tests/codecs/png_builder.h"

using pngtest::Bytes;
using pngtest::ExactBuffer;
using pngtest::PngSpec;

namespace {

struct Delivered {
    std::vector<Bytes> rows;
    std::vector<uint32_t> indices;
    uint32_t stopAfter = UINT32_MAX;
};
Delivered *g_delivered = nullptr;

int _Collect(PNG_Context *ctx, const uint8_t *row, uint32_t rowIndex, int32_t, int32_t) {
    g_delivered->rows.emplace_back(row, row + ctx->rowBytes);
    g_delivered->indices.push_back(rowIndex);
    return rowIndex == g_delivered->stopAfter ? 1 : 0;
}

class PngReader : public ::testing::Test {
protected:
    void SetUp() override {
        mark_ = GUI_AllocStart();
        ctx_ = PNG_AllocContext();
        ASSERT_NE(ctx_, nullptr);
        g_delivered = &delivered_;
    }
    void TearDown() override {
        GUI_AllocEnd(mark_);
        g_delivered = nullptr;
    }
    int open(const Bytes &file) {
        buffer_ = std::make_unique<ExactBuffer>(file);
        return PNG_open(ctx_, buffer_->data, buffer_->size);
    }
    // Opens and decodes; the open must succeed.
    int decode(const Bytes &file) {
        int r = open(file);
        EXPECT_EQ(r, PNG_OK);
        if (r != PNG_OK) return -100;
        return PNG_decode(ctx_, 0, 0, _Collect);
    }

    uint32_t mark_ = 0;
    PNG_Context *ctx_ = nullptr;
    Delivered delivered_;
    std::unique_ptr<ExactBuffer> buffer_;
};

Bytes randomRow(std::mt19937 &rng, size_t n) {
    Bytes b(n);
    for (auto &v : b) v = (uint8_t)rng();
    return b;
}

// An 8-bit grey image of `h` rows of `w` distinct-looking bytes.
PngSpec greyImage(uint32_t w, uint32_t h, uint32_t seed = 1) {
    std::mt19937 rng(seed);
    PngSpec s;
    s.width = w;
    s.height = h;
    s.depth = 8;
    s.colorType = 0;
    for (uint32_t r = 0; r < h; r++) s.rows.push_back(randomRow(rng, w));
    return s;
}

// A minimal header-only file (32 bytes) with chosen fields.
Bytes header(uint32_t w, uint32_t h, uint8_t depth, uint8_t type, uint8_t comp = 0, uint8_t filter = 0,
             uint8_t interlace = 0) {
    Bytes f(nimbra::kPngSignature, nimbra::kPngSignature + 8);
    nimbra::appendPngChunk(f, "IHDR", nimbra::pngHeaderData(w, h, depth, type, comp, filter, interlace));
    nimbra::appendPngChunk(f, "IEND", nullptr, 0);
    return f;
}

}  // namespace

TEST_F(PngReader, ShortOrForeignDataIsNotPng) {
    Bytes f = header(4, 4, 8, 0);
    EXPECT_EQ(open(Bytes(f.begin(), f.begin() + 31)), PNG_NOT_PNG);
    EXPECT_EQ(open(Bytes(31, 0)), PNG_NOT_PNG);
    Bytes wrongStart = f;
    wrongStart[1] = 'Q';
    EXPECT_EQ(open(wrongStart), PNG_NOT_PNG);
    Bytes notHeaderFirst = f;
    notHeaderFirst[12] = 'X';
    EXPECT_EQ(open(notHeaderFirst), PNG_NOT_PNG);
    // Only the first four signature bytes count.
    Bytes oddTail = f;
    oddTail[4] = oddTail[5] = oddTail[6] = oddTail[7] = 0;
    EXPECT_EQ(open(oddTail), PNG_OK);
}

TEST_F(PngReader, UnsupportedHeadersAreRefused) {
    EXPECT_EQ(open(header(4, 4, 8, 0, 0, 0, 1)), PNG_UNSUPPORTED);  // interlaced
    EXPECT_EQ(open(header(4, 4, 8, 0, 1, 0, 0)), PNG_UNSUPPORTED);  // compression method
    EXPECT_EQ(open(header(4, 4, 8, 0, 0, 1, 0)), PNG_UNSUPPORTED);  // filter method
    EXPECT_EQ(open(header(4, 4, 16, 0)), PNG_UNSUPPORTED);
    EXPECT_EQ(open(header(4, 4, 3, 0)), PNG_UNSUPPORTED);
    EXPECT_EQ(open(header(4, 4, 0, 0)), PNG_UNSUPPORTED);
    for (uint8_t type : {1, 5, 7, 255}) EXPECT_EQ(open(header(4, 4, 8, type)), PNG_UNSUPPORTED) << int(type);
    // Depth is not checked against the colour type.
    EXPECT_EQ(open(header(4, 4, 4, 2)), PNG_OK);
}

TEST_F(PngReader, RowLengthLimit) {
    EXPECT_EQ(open(header(854, 1, 8, 2)), PNG_UNSUPPORTED);  // 2562 bytes
    EXPECT_EQ(open(header(853, 1, 8, 2)), PNG_OK);
    EXPECT_EQ(ctx_->rowBytes, 2559u);
    EXPECT_EQ(open(header(2560, 1, 8, 0)), PNG_OK);
    EXPECT_EQ(open(header(2561, 1, 8, 0)), PNG_UNSUPPORTED);
    EXPECT_EQ(open(header(20480, 1, 1, 3)), PNG_OK);
    EXPECT_EQ(ctx_->rowBytes, 2560u);
    // A width whose bit count overflows 32 bits is still refused.
    EXPECT_EQ(open(header(0xFFFFFFFFu, 1, 8, 6)), PNG_UNSUPPORTED);
    EXPECT_EQ(open(header(0x20000000u, 1, 8, 0)), PNG_UNSUPPORTED);
}

TEST_F(PngReader, HeaderFieldsForEachColourType) {
    struct Case {
        uint8_t type, depth;
        uint32_t width, rowBytes;
        uint8_t alpha;
    } cases[] = {
        {0, 1, 9, 2, 0},  {0, 2, 9, 3, 0},  {0, 4, 9, 5, 0},  {0, 8, 9, 9, 0},  {3, 1, 17, 3, 0},
        {3, 4, 3, 2, 0},  {3, 8, 5, 5, 0},  {2, 8, 5, 15, 0}, {4, 8, 5, 10, 1}, {6, 8, 5, 20, 1},
        {2, 4, 3, 5, 0},  {6, 1, 3, 2, 1},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(open(header(c.width, 7, c.depth, c.type)), PNG_OK);
        EXPECT_EQ(ctx_->width, c.width);
        EXPECT_EQ(ctx_->height, 7u);
        EXPECT_EQ(ctx_->rowBytes, c.rowBytes) << "type " << int(c.type) << " depth " << int(c.depth);
        EXPECT_EQ(ctx_->hasAlpha, c.alpha);
        EXPECT_EQ(ctx_->orvFormat, 0);
    }
}

TEST(PngDeFilter, PaethPredictorChoices) {
    // a = b = c: the predictor is a.
    uint8_t prev[2] = {7, 7};
    uint8_t line[2] = {7, 1};
    DeFilterLine(4, line, prev, 2, 2);
    // First byte: a = 0, b = 7, c = 0: p = 7, b is nearest -> 7 + 7.
    EXPECT_EQ(line[0], 14);
    uint8_t prev2[2] = {15, 20};
    uint8_t line2[2] = {251, 0};   // 251 + b(15) = 10 = a for the second byte
    DeFilterLine(4, line2, prev2, 2, 2);
    EXPECT_EQ(line2[0], 10);
    // a = 10, b = 20, c = 15: p = 15, pa = 5, pb = 5, pc = 0 -> c.
    EXPECT_EQ(line2[1], 15);
    uint8_t prev3[2] = {9, 9};
    uint8_t line3[2] = {9, 1};    // a = 18, b = 9, c = 9: p = 18 -> a
    DeFilterLine(4, line3, prev3, 2, 2);
    EXPECT_EQ(line3[1], 19);
}

TEST(PngDeFilter, AverageSumsWithoutOverflowAndUnknownTypesLeaveTheRow) {
    uint8_t prev[2] = {255, 255};
    uint8_t line[2] = {0, 0};
    DeFilterLine(3, line, prev, 2, 2);
    EXPECT_EQ(line[0], 127);          // (0 + 255) >> 1
    EXPECT_EQ(line[1], 191);          // (127 + 255) >> 1, not (382 mod 256) >> 1 = 63
    uint8_t row[3] = {1, 2, 3};
    uint8_t zeros[3] = {9, 9, 9};
    for (uint8_t f : {0, 5, 7, 255}) {
        DeFilterLine(f, row, zeros, 3, 3);
        EXPECT_EQ(row[0], 1);
        EXPECT_EQ(row[1], 2);
        EXPECT_EQ(row[2], 3);
    }
}

// Every colour type and depth the reader accepts, each row with its own
// filter: the rows delivered are the rows before filtering.
TEST_F(PngReader, EveryTypeDepthAndFilterRoundTrips) {
    struct Layout {
        uint8_t type, depth;
    } layouts[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {3, 1}, {3, 2}, {3, 4}, {3, 8}, {2, 8}, {4, 8}, {6, 8}};
    std::mt19937 rng(42);
    for (const Layout &l : layouts) {
        for (uint32_t width : {1u, 2u, 3u, 7u, 13u}) {
            PngSpec s;
            s.width = width;
            s.height = 10;
            s.depth = l.depth;
            s.colorType = l.type;
            int samples = l.type == 2 ? 3 : l.type == 4 ? 2 : l.type == 6 ? 4 : 1;
            size_t rowBytes = ((size_t)width * samples * l.depth + 7) / 8;
            for (uint32_t r = 0; r < s.height; r++) {
                Bytes row = randomRow(rng, rowBytes);
                // Bits past the last pixel are padding; keep them zero.
                size_t usedBits = (size_t)width * samples * l.depth;
                if (usedBits % 8) row.back() &= (uint8_t)(0xFF << (8 - usedBits % 8));
                s.rows.push_back(row);
                s.filters.push_back((uint8_t)(r % 5));
            }
            if (l.type == 3) s.palette = Bytes(6, 0);
            delivered_ = Delivered();
            ASSERT_EQ(decode(s.build()), PNG_OK) << "type " << int(l.type) << " depth " << int(l.depth);
            ASSERT_EQ(delivered_.rows.size(), s.rows.size());
            for (uint32_t r = 0; r < s.height; r++) {
                EXPECT_EQ(delivered_.indices[r], r);
                EXPECT_EQ(delivered_.rows[r], s.rows[r])
                    << "type " << int(l.type) << " depth " << int(l.depth) << " width " << width << " row " << r;
            }
        }
    }
}

// The test's own filter writer agrees with an independent decoder, so that
// the round trip above tests the reader and not a shared mistake.
TEST(PngBuilder, FilteredFilesReadBackThroughLibpng) {
    std::mt19937 rng(7);
    struct Layout {
        uint8_t type;
        int channels;
    } layouts[] = {{0, 1}, {2, 3}, {6, 4}};
    for (const Layout &l : layouts) {
        PngSpec s;
        s.width = 9;
        s.height = 10;
        s.colorType = l.type;
        for (uint32_t r = 0; r < s.height; r++) {
            s.rows.push_back(randomRow(rng, s.width * l.channels));
            s.filters.push_back((uint8_t)(r % 5));
        }
        nimbra::RgbaImage img;
        std::string error;
        ASSERT_TRUE(nimbra::decodePngRgba(s.build(), img, error)) << error;
        for (uint32_t y = 0; y < s.height; y++) {
            for (uint32_t x = 0; x < s.width; x++) {
                const uint8_t *p = img.pixel(x, y);
                const uint8_t *src = &s.rows[y][x * l.channels];
                if (l.channels == 1) {
                    EXPECT_EQ(p[0], src[0]);
                } else {
                    // The simplified reader premultiplies nothing for 8-bit RGBA output.
                    for (int c = 0; c < l.channels; c++) EXPECT_EQ(p[c], src[c]) << x << "," << y;
                }
            }
        }
    }
}

TEST_F(PngReader, FilterTypesAboveFourLeaveTheRowAsStored) {
    PngSpec s = greyImage(6, 3);
    s.filters = {0, 7, 5};
    ASSERT_EQ(decode(s.build()), PNG_OK);
    ASSERT_EQ(delivered_.rows.size(), 3u);
    EXPECT_EQ(delivered_.rows[1], s.rows[1]);
    EXPECT_EQ(delivered_.rows[2], s.rows[2]);
}

TEST_F(PngReader, RowsSplitAcrossManyDataChunksArriveOnceInOrder) {
    PngSpec s = greyImage(37, 12);
    s.filters = {1, 2, 3, 4, 0, 1, 2, 3, 4, 0, 1, 2};
    for (size_t piece : {1u, 5u, 38u, 100u}) {
        s.idatPiece = piece;
        delivered_ = Delivered();
        ASSERT_EQ(decode(s.build()), PNG_OK) << piece;
        ASSERT_EQ(delivered_.rows.size(), 12u);
        for (uint32_t r = 0; r < 12; r++) {
            EXPECT_EQ(delivered_.indices[r], r);
            EXPECT_EQ(delivered_.rows[r], s.rows[r]);
        }
    }
}

TEST_F(PngReader, LineFunctionStopsDecoding) {
    PngSpec s = greyImage(8, 10);
    delivered_.stopAfter = 3;
    EXPECT_EQ(decode(s.build()), PNG_OK);
    EXPECT_EQ(delivered_.indices, (std::vector<uint32_t>{0, 1, 2, 3}));
}

TEST_F(PngReader, ShortImageDataStillEndsWell) {
    PngSpec s = greyImage(8, 10);
    s.rowsToCompress = 8;
    EXPECT_EQ(decode(s.build()), PNG_OK);
    EXPECT_EQ(delivered_.rows.size(), 8u);
    // Without IEND the walk runs out of chunks: corrupt, but the rows stay.
    s.withIend = false;
    delivered_ = Delivered();
    EXPECT_EQ(decode(s.build()), PNG_CORRUPT);
    EXPECT_EQ(delivered_.rows.size(), 8u);
}

TEST_F(PngReader, ChunkCrcsAreNotChecked) {
    PngSpec s = greyImage(5, 4);
    s.badCrcs = true;
    EXPECT_EQ(decode(s.build()), PNG_OK);
    EXPECT_EQ(delivered_.rows.size(), 4u);
}

TEST_F(PngReader, NoImageDataOrZeroHeight) {
    EXPECT_EQ(decode(header(4, 4, 8, 0)), PNG_OK);
    EXPECT_TRUE(delivered_.rows.empty());
    PngSpec s = greyImage(4, 3);
    s.height = 0;
    EXPECT_EQ(decode(s.build()), PNG_OK);
    EXPECT_TRUE(delivered_.rows.empty());
}

TEST_F(PngReader, PaletteLengthsAndConversion) {
    PngSpec s = greyImage(2, 2);
    s.colorType = 3;
    s.palette = Bytes(769, 0);
    EXPECT_EQ(decode(s.build()), PNG_CORRUPT);

    s.palette.clear();
    for (int i = 0; i < 256; i++) s.palette.insert(s.palette.end(), {255, 255, 255});
    ASSERT_EQ(decode(s.build()), PNG_OK);
    for (int i = 0; i < 256; i++) ASSERT_EQ(ctx_->colorMap[i], 255) << i;

    // Seven bytes: two whole entries; the rest of the map is black.
    s.palette = {255, 255, 255, 128, 128, 128, 9};
    ASSERT_EQ(decode(s.build()), PNG_OK);
    EXPECT_EQ(ctx_->colorMap[0], 255);
    EXPECT_EQ(ctx_->colorMap[1], (4 << 5) | (4 << 2) | 2);
    EXPECT_EQ(ctx_->colorMap[2], 0);
    EXPECT_EQ(ctx_->colorMap[255], 0);

    // (200, 100, 50): red 5, green 3, blue 1.
    s.palette = {200, 100, 50};
    ASSERT_EQ(decode(s.build()), PNG_OK);
    EXPECT_EQ(ctx_->colorMap[0], 173);
}

TEST_F(PngReader, OrvMarkerMustPrecedeThePalette) {
    PngSpec s = greyImage(2, 2);
    s.colorType = 3;
    s.palette = {0xF8, 0xF8, 0xF8, 0x1C, 0x00, 0x00};
    s.orv = true;
    ASSERT_EQ(decode(s.build()), PNG_OK);
    EXPECT_EQ(ctx_->orvFormat, 1);
    EXPECT_EQ(ctx_->colorMap[0], 0xF8);
    EXPECT_EQ(ctx_->colorMap[1], 0x1C);
    s.orvAfterPalette = true;
    ASSERT_EQ(decode(s.build()), PNG_OK);
    EXPECT_EQ(ctx_->orvFormat, 1);
    EXPECT_EQ(ctx_->colorMap[0], 0xFF);
    EXPECT_EQ(ctx_->colorMap[1], 0x20);   // (0x1C, 0, 0) as a colour: red 1
}

// Every truncation of a valid file ends with a result, never a read past
// the end (the buffer is exact, so the address sanitizer would see one).
TEST_F(PngReader, EveryTruncationEndsCleanly) {
    PngSpec s = greyImage(16, 16);
    s.colorType = 3;
    s.palette = Bytes(48, 1);
    s.orv = true;
    s.filters = {4, 3, 2, 1};
    s.idatPiece = 40;
    Bytes f = s.build();
    for (size_t n = 32; n < f.size(); n++) {
        delivered_ = Delivered();
        int r = decode(Bytes(f.begin(), f.begin() + (long)n));
        // Once the last row is in, decoding is over before the cut is seen.
        EXPECT_EQ(r, delivered_.rows.size() == 16 ? PNG_OK : PNG_CORRUPT) << "length " << n;
    }
}

TEST_F(PngReader, HostileChunkLengths) {
    Bytes good = greyImage(4, 4).build();
    // A length that wraps 32-bit arithmetic.
    Bytes wrap = good;
    size_t idat = 8 + 25;     // after IHDR: the first IDAT head
    wrap[idat] = wrap[idat + 1] = wrap[idat + 2] = 0xFF;
    wrap[idat + 3] = 0xF0;
    EXPECT_EQ(decode(wrap), PNG_CORRUPT);
    // A chunk whose data runs a few bytes past the file's end, though its
    // length alone would fit.
    Bytes tail(nimbra::kPngSignature, nimbra::kPngSignature + 8);
    nimbra::appendPngChunk(tail, "IHDR", nimbra::pngHeaderData(4, 4, 8, 0));
    nimbra::appendPngChunk(tail, "teXt", Bytes(20, 'a'));
    tail.resize(tail.size() - 4 - 6);     // CRC and six data bytes cut off
    EXPECT_EQ(decode(tail), PNG_CORRUPT);
    // The header chunk's own length is checked when walking over it.
    Bytes bigHeader = good;
    bigHeader[8] = 0x7F;
    EXPECT_EQ(decode(bigHeader), PNG_CORRUPT);
}

TEST_F(PngReader, BrokenCompressedData) {
    PngSpec s = greyImage(8, 8);
    Bytes f = s.build();
    size_t zlibStart = 8 + 25 + 8;
    Bytes badHeader = f;
    badHeader[zlibStart] = 0x00;   // not a deflate stream header
    EXPECT_EQ(decode(badHeader), PNG_CORRUPT);
    // Random bytes in place of the stream: a clean result every time.
    std::mt19937 rng(3);
    for (int trial = 0; trial < 200; trial++) {
        Bytes noisy = f;
        size_t len = ((size_t)f[33] << 24) | (f[34] << 16) | (f[35] << 8) | f[36];
        for (size_t i = 2; i < len; i++)
            if (rng() % 4 == 0) noisy[zlibStart + i] = (uint8_t)rng();
        delivered_ = Delivered();
        int r = decode(noisy);
        EXPECT_TRUE(r == PNG_OK || r == PNG_CORRUPT) << r;
        EXPECT_LE(delivered_.rows.size(), 8u);
    }
}

TEST_F(PngReader, HugeHeightDeliversOnlyTheRowsPresent) {
    PngSpec s = greyImage(3, 5);
    s.height = 0xFFFFFFFFu;
    EXPECT_EQ(decode(s.build()), PNG_OK);
    EXPECT_EQ(delivered_.rows.size(), 5u);
}

// The inflater's areas are sized from what this zlib asks for: record the
// requests of a real inflation and compare.
namespace {
std::vector<uint64_t> g_requests;
voidpf _RecordingAlloc(voidpf, uInt items, uInt size) {
    g_requests.push_back((uint64_t)items * size);
    return calloc(items, size);
}
void _RecordingFree(voidpf, voidpf p) { free(p); }
}  // namespace

TEST(PngInflateMemory, ZlibRequestsFitTheRecordAreas) {
    g_requests.clear();
    Bytes raw(100000);
    for (size_t i = 0; i < raw.size(); i++) raw[i] = (uint8_t)(i * 7 + (i >> 9));
    Bytes z = nimbra::zlibCompress(raw);
    z_stream zs{};
    zs.zalloc = _RecordingAlloc;
    zs.zfree = _RecordingFree;
    ASSERT_EQ(inflateInit2(&zs, 15), Z_OK);
    Bytes out(raw.size());
    zs.next_in = z.data();
    zs.avail_in = (uInt)z.size();
    // Row-sized output steps, as the reader makes them.
    int ret = Z_OK;
    for (size_t pos = 0; ret == Z_OK && pos < out.size(); pos += 100) {
        zs.next_out = out.data() + pos;
        zs.avail_out = 100;
        ret = inflate(&zs, Z_NO_FLUSH);
    }
    EXPECT_EQ(ret, Z_STREAM_END);
    inflateEnd(&zs);
    EXPECT_EQ(out, raw);
    ASSERT_EQ(g_requests.size(), 2u);
    EXPECT_LE(g_requests[0], PNG_INFLATE_STATE_BYTES);
    EXPECT_EQ(g_requests[1], PNG_WINDOW_BYTES);
}

TEST(PngInflateMemory, ContextComesFromThePoolAndGoesBack) {
    uint32_t mark = GUI_AllocStart();
    uint32_t before = GUI_GetNumFreeBytes();
    PNG_Context *ctx = PNG_AllocContext();
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(before - GUI_GetNumFreeBytes(), PNG_CONTEXT_BYTES);
    EXPECT_EQ((uintptr_t)ctx % alignof(PNG_Context), 0u);
    GUI_AllocEnd(mark);
    // With too little room the record is refused, not fatal.
    GUI_AllocNoInit(GUI_GetNumFreeBytes() - PNG_CONTEXT_BYTES + 4);
    EXPECT_EQ(PNG_AllocContext(), nullptr);
    GUI_AllocEnd(mark);
    EXPECT_EQ(GUI_GetNumFreeBytes(), before);
}
