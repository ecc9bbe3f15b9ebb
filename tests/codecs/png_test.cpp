// The PNG reader: header checks, the chunk walk, row filters, palettes and
// the ORV marker, and what broken files end with.
#include <gtest/gtest.h>

#include <random>

#include "codecs/png.h"
#include "gui/GUI_Alloc.h"
#include "tests/codecs/png_builder.h"
#include "tests/support/device_fixture.h"

using pngtest::Bytes;
using pngtest::PngSpec;

namespace {

struct Delivered {
    std::vector<Bytes> rows;
    std::vector<uint32_t> indices;
};
Delivered *g_delivered = nullptr;

int _Collect(PNG_Context *ctx, const uint8_t *row, uint32_t rowIndex, int32_t, int32_t) {
    g_delivered->rows.emplace_back(row, row + ctx->rowBytes);
    g_delivered->indices.push_back(rowIndex);
    return 0;
}

class PngReader : public BareDeviceTest {
protected:
    void SetUp() override {
        BareDeviceTest::SetUp();
        mark_ = GUI_AllocStart();
        ctx_ = PNG_AllocContext();
        ASSERT_NE(ctx_, nullptr);
        g_delivered = &delivered_;
    }
    void TearDown() override {
        GUI_AllocEnd(mark_);
        g_delivered = nullptr;
    }
    // A fresh copy of exactly the file's bytes, so that the address
    // sanitizer sees any read past the end.
    int open(const Bytes &file) {
        buffer_ = Bytes(file);
        return PNG_open(ctx_, buffer_.data(), (uint32_t)buffer_.size());
    }
    // Opens (which must succeed) and decodes, collecting the rows afresh.
    int decode(const Bytes &file) {
        delivered_ = Delivered();
        int r = open(file);
        EXPECT_EQ(r, PNG_OK);
        return r == PNG_OK ? PNG_decode(ctx_, 0, 0, _Collect) : -100;
    }
    Bytes colorMap(int from, int n) const { return Bytes(ctx_->colorMap + from, ctx_->colorMap + from + n); }
    // The rows delivered are the image's unfiltered rows, in order.
    void expectRows(const PngSpec &s) {
        ASSERT_EQ(delivered_.rows.size(), s.rows.size());
        for (uint32_t r = 0; r < s.rows.size(); r++) {
            EXPECT_EQ(delivered_.indices[r], r);
            EXPECT_EQ(delivered_.rows[r], s.rows[r]) << "row " << r;
        }
    }

    uint32_t mark_ = 0;
    PNG_Context *ctx_ = nullptr;
    Delivered delivered_;
    Bytes buffer_;
};

Bytes randomRow(std::mt19937 &rng, size_t n) {
    Bytes b(n);
    for (auto &v : b) v = (uint8_t)rng();
    return b;
}

// An 8-bit grey image of `h` rows of `w` random bytes.
PngSpec greyImage(uint32_t w, uint32_t h) {
    std::mt19937 rng(1);
    PngSpec s;
    s.width = w;
    s.height = h;
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

TEST_F(PngReader, HeaderChecksAndRowLengths) {
    struct Case {
        uint32_t width;
        uint8_t depth, type, comp, filter, interlace;
        int result;
        uint32_t rowBytes;
        uint8_t alpha;
    } cases[] = {
        // Row bytes and alpha of the colour types; the depth is not checked
        // against the type.
        {9, 1, 0, 0, 0, 0, PNG_OK, 2, 0},      {5, 8, 2, 0, 0, 0, PNG_OK, 15, 0},   {5, 8, 4, 0, 0, 0, PNG_OK, 10, 1},
        {5, 8, 6, 0, 0, 0, PNG_OK, 20, 1},     {3, 4, 2, 0, 0, 0, PNG_OK, 5, 0},
        // A row holds at most 2560 bytes, however its bit count is made;
        // the last width's bit count overflows 32 bits.
        {2560, 8, 0, 0, 0, 0, PNG_OK, 2560, 0}, {2561, 8, 0, 0, 0, 0, PNG_UNSUPPORTED, 0, 0},
        {0xFFFFFFFFu, 8, 6, 0, 0, 0, PNG_UNSUPPORTED, 0, 0},
        // Interlacing, other methods, other depths and types.
        {4, 8, 0, 0, 0, 1, PNG_UNSUPPORTED, 0, 0}, {4, 8, 0, 1, 0, 0, PNG_UNSUPPORTED, 0, 0},
        {4, 8, 0, 0, 1, 0, PNG_UNSUPPORTED, 0, 0}, {4, 16, 0, 0, 0, 0, PNG_UNSUPPORTED, 0, 0},
        {4, 8, 5, 0, 0, 0, PNG_UNSUPPORTED, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "width " << c.width << " depth " << int(c.depth) << " type " << int(c.type));
        ASSERT_EQ(open(header(c.width, 7, c.depth, c.type, c.comp, c.filter, c.interlace)), c.result);
        if (c.result != PNG_OK) continue;
        EXPECT_EQ(std::make_tuple(ctx_->width, ctx_->height, ctx_->rowBytes, ctx_->hasAlpha, ctx_->orvFormat),
                  std::make_tuple(c.width, 7u, c.rowBytes, c.alpha, (uint8_t)0));
    }
}

// Every colour type and depth the reader accepts, each row with its own
// filter: the rows delivered are the rows before filtering. Random rows meet
// Paeth ties and averages of sums above 255 often; filter types above 4
// leave the row as stored.
TEST_F(PngReader, EveryTypeDepthAndFilterRoundTrips) {
    struct Layout {
        uint8_t type, depth;
    } layouts[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {3, 1}, {3, 2}, {3, 4}, {3, 8}, {2, 8}, {4, 8}, {6, 8}};
    std::mt19937 rng(42);
    for (const Layout &l : layouts) {
        for (uint32_t width : {1u, 13u}) {
            SCOPED_TRACE(testing::Message() << "type " << int(l.type) << " depth " << int(l.depth) << " width " << width);
            PngSpec s;
            s.width = width;
            s.height = 10;
            s.depth = l.depth;
            s.colorType = l.type;
            int samples = l.type == 2 ? 3 : l.type == 4 ? 2 : l.type == 6 ? 4 : 1;
            size_t usedBits = (size_t)width * samples * l.depth;
            for (uint32_t r = 0; r < s.height; r++) {
                Bytes row = randomRow(rng, (usedBits + 7) / 8);
                // Bits past the last pixel are padding; keep them zero.
                if (usedBits % 8) row.back() &= (uint8_t)(0xFF << (8 - usedBits % 8));
                s.rows.push_back(row);
                s.filters.push_back((uint8_t)(r % 7));
            }
            if (l.type == 3) s.palette = Bytes(6, 0);
            ASSERT_EQ(decode(s.build()), PNG_OK);
            expectRows(s);
        }
    }
}

TEST_F(PngReader, RowsSplitAcrossManyDataChunksArriveOnceInOrder) {
    // Chunk CRCs are not checked: every one here is spoilt.
    PngSpec s = greyImage(37, 12);
    s.filters = {1, 2, 3, 4, 0, 1, 2, 3, 4, 0, 1, 2};
    s.badCrcs = true;
    for (size_t piece : {1u, 5u, 38u, 100u}) {
        s.idatPiece = piece;
        ASSERT_EQ(decode(s.build()), PNG_OK) << piece;
        expectRows(s);
    }
}

TEST_F(PngReader, RowsDeliveredAreThoseThatArrive) {
    PngSpec s = greyImage(8, 10);
    s.rowsToCompress = 8;
    EXPECT_EQ(decode(s.build()), PNG_OK);
    EXPECT_EQ(delivered_.rows.size(), 8u);
    // Without IEND the walk runs out of chunks: corrupt, but the rows stay.
    s.withIend = false;
    EXPECT_EQ(decode(s.build()), PNG_CORRUPT);
    EXPECT_EQ(delivered_.rows.size(), 8u);
    // No image data, no rows, or far fewer rows than the height says.
    EXPECT_EQ(decode(header(4, 4, 8, 0)), PNG_OK);
    EXPECT_TRUE(delivered_.rows.empty());
    for (uint32_t height : {0u, 0xFFFFFFFFu}) {
        PngSpec t = greyImage(3, 5);
        t.height = height;
        EXPECT_EQ(decode(t.build()), PNG_OK);
        EXPECT_EQ(delivered_.rows.size(), height ? 5u : 0u);
    }
}

// A palette holds at most 256 entries of 3 bytes; its colours go into the
// map (their conversion is drawn in gui_png_test.cpp).
TEST_F(PngReader, PaletteOfAtMost768Bytes) {
    PngSpec s = greyImage(2, 2);
    s.colorType = 3;
    s.palette = Bytes(769, 0);
    EXPECT_EQ(decode(s.build()), PNG_CORRUPT);
    s.palette = Bytes(768, 255);
    ASSERT_EQ(decode(s.build()), PNG_OK);
    EXPECT_EQ(colorMap(0, 256), Bytes(256, 255));
}

TEST_F(PngReader, OrvMarkerMustPrecedeThePalette) {
    PngSpec s = greyImage(2, 2);
    s.colorType = 3;
    s.palette = {0xF8, 0xF8, 0xF8, 0x1C, 0x00, 0x00};
    s.orv = true;
    ASSERT_EQ(decode(s.build()), PNG_OK);
    EXPECT_EQ(ctx_->orvFormat, 1);
    EXPECT_EQ(colorMap(0, 2), (Bytes{0xF8, 0x1C}));
    s.orvAfterPalette = true;
    ASSERT_EQ(decode(s.build()), PNG_OK);
    EXPECT_EQ(ctx_->orvFormat, 1);
    EXPECT_EQ(colorMap(0, 2), (Bytes{0xFF, 0x20}));  // (0x1C, 0, 0) as a colour: red 1
}

TEST_F(PngReader, BrokenCompressedDataIsCorrupt) {
    Bytes f = greyImage(8, 8).build();
    f[8 + 25 + 8] = 0x00;  // not a deflate stream header
    EXPECT_EQ(decode(f), PNG_CORRUPT);
    EXPECT_TRUE(delivered_.rows.empty());
    // A stream that asks for a preset dictionary cannot be inflated either.
    PngSpec s = greyImage(8, 8);
    s.presetDictionary = true;
    EXPECT_EQ(decode(s.build()), PNG_CORRUPT);
    EXPECT_TRUE(delivered_.rows.empty());
}

// A wrong Adler-32 at the end of the image data is seen together with the
// last row when the whole stream is at hand: that row is not delivered and
// the image is corrupt. When the checksum arrives in a later data chunk, the
// last row is out before it and decoding is over: all rows, no error. (Rows
// are inflated several at a time; what is delivered is what inflating one
// row at a time delivers.) Narrow rows, many to the row buffers, and rows so
// wide that two fill them.
TEST_F(PngReader, AWrongChecksumCostsTheLastRowOnlyWhenReadWithIt) {
    PngSpec narrow = greyImage(16, 40);
    PngSpec wide = greyImage(2000, 6);
    for (PngSpec s : {narrow, wide}) {
        for (size_t piece : {(size_t)0, (size_t)1}) {
            s.idatPiece = piece;
            s.filters = {0, 1, 2, 3, 4};
            Bytes f = s.build();
            // The checksum: the last four data bytes of the last IDAT, in
            // front of its CRC and the 12-byte IEND chunk.
            f[f.size() - 12 - 4 - 1] ^= 0x01;
            SCOPED_TRACE(testing::Message() << s.width << " wide, data chunks of " << piece);
            PngSpec delivered = s;
            if (piece == 0) {
                EXPECT_EQ(decode(f), PNG_CORRUPT);
                delivered.rows.pop_back();
            } else {
                EXPECT_EQ(decode(f), PNG_OK);
            }
            expectRows(delivered);
        }
    }
}

// The record is aligned for zlib's pointers; when the pool has not room for
// it, it is refused rather than the program ended. (On a reset device: the
// pool must not hold what tests before this one left in it.)
using PngInflateMemory = BareDeviceTest;
TEST_F(PngInflateMemory, ContextComesFromThePoolAndGoesBack) {
    uint32_t mark = GUI_AllocStart();
    uint32_t before = GUI_GetNumFreeBytes();
    PNG_Context *ctx = PNG_AllocContext();
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(before - GUI_GetNumFreeBytes(), PNG_CONTEXT_BYTES);
    EXPECT_EQ((uintptr_t)ctx % alignof(PNG_Context), 0u);
    GUI_AllocEnd(mark);
    GUI_AllocNoInit(GUI_GetNumFreeBytes() - PNG_CONTEXT_BYTES + 4);
    EXPECT_EQ(PNG_AllocContext(), nullptr);
    GUI_AllocEnd(mark);
    EXPECT_EQ(GUI_GetNumFreeBytes(), before);
}
