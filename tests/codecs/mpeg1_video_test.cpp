// The MPEG-1 video decoder on its own: pictures against an independent
// decoder's, a picture written bit by bit for the escape codes, quantiser
// changes and saturation, the inverse DCT's accuracy, the stream buffer's
// contract, the sequence header rules and partly buffered pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "codecs/mpeg1_idct.h"
#include "codecs/mpeg1_video.h"
#include "gui/GUI_Alloc.h"
#include "tests/codecs/mpeg_test_streams.h"
#include "tests/support/device_fixture.h"
#include "tools/hostlib/video_stream.h"

namespace {

using nimbra::Bytes;

constexpr size_t kCapacity = 16384;
// The inverse DCT is not prescribed exactly; pictures must stay this close
// to the independent decoder's.
constexpr double kMinPsnr = 60.0;

// Writes values most significant bit first.
struct BitWriter {
    Bytes out;
    int used = 0;   // bits of the last byte in use (0: start a new byte)
    void put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; i--) {
            if (used == 0) out.push_back(0);
            if ((value >> i) & 1) out.back() |= (uint8_t)(0x80 >> used);
            used = (used + 1) & 7;
        }
    }
    void align() { used = 0; }   // the rest of the byte stays zero
};

// Sequence header of the given size; each matrix given (64 entries in
// zigzag order) is loaded.
Bytes sequenceHeader(int width, int height, const Bytes &intra = {}, const Bytes &nonIntra = {}) {
    BitWriter w;
    w.put(0x1B3, 32);
    w.put((uint32_t)width, 12);
    w.put((uint32_t)height, 12);
    w.put(1, 4);          // aspect ratio
    w.put(4, 4);          // picture rate
    w.put(0x3FFFF, 18);   // bit rate
    w.put(1, 1);          // marker
    w.put(3, 10);         // buffer size
    w.put(0, 1);          // constrained parameters
    for (const Bytes *matrix : {&intra, &nonIntra}) {
        w.put(matrix->empty() ? 0 : 1, 1);
        for (uint8_t v : *matrix) w.put(v, 8);
    }
    return w.out;
}

// Luma PSNR of a decoded frame against a reference picture.
double psnrOf(const plm_frame_t *frame, const mpegtest::Stream &s, int displayIndex) {
    return mpegtest::psnr(frame->y.data, frame->y.width, s.reference(displayIndex), s.width, s.height);
}

// The exact two-dimensional transforms, done as two one-dimensional passes:
// forward (pixels to coefficients) and inverse, in double precision, on
// natural-order blocks (vertical frequency v at row v).
struct ExactDct {
    double c[8][8];   // c[u][x]
    ExactDct() {
        for (int u = 0; u < 8; u++)
            for (int x = 0; x < 8; x++) c[u][x] = (u == 0 ? std::sqrt(0.125) : 0.5) * std::cos((2 * x + 1) * u * M_PI / 16.0);
    }
    // out[i][j] = sum over k, l of m(i, k) m(j, l) in[k][l], m = c (forward) or c transposed.
    void apply(const double in[64], double out[64], bool forward) const {
        double half[64];
        auto m = [&](int i, int k) { return forward ? c[i][k] : c[k][i]; };
        for (int k = 0; k < 8; k++)
            for (int j = 0; j < 8; j++) {
                double s = 0;
                for (int l = 0; l < 8; l++) s += m(j, l) * in[k * 8 + l];
                half[k * 8 + j] = s;
            }
        for (int i = 0; i < 8; i++)
            for (int j = 0; j < 8; j++) {
                double s = 0;
                for (int k = 0; k < 8; k++) s += m(i, k) * half[k * 8 + j];
                out[i * 8 + j] = s;
            }
    }
};

// A decoder in the pool, released to the mark taken before it.
class DecoderTest : public BareDeviceTest {
protected:
    void SetUp() override {
        BareDeviceTest::SetUp();
        mark = GUI_AllocStart();
        fresh();
    }
    void TearDown() override { GUI_AllocEnd(mark); }
    // Gives the pool back and makes a new decoder.
    void fresh() {
        GUI_AllocEnd(mark);
        buffer = plm_buffer_create_with_capacity(kCapacity);
        ASSERT_NE(buffer, nullptr);
        video = plm_video_create_with_buffer(buffer);
        ASSERT_NE(video, nullptr);
    }
    bool write(const Bytes &bytes) { return plm_buffer_write(buffer, bytes.data(), bytes.size()) == bytes.size(); }
    // Loads a clip and splits it into the groups a host sends.
    std::vector<Bytes> load(const char *name) {
        clip = mpegtest::load(name);
        return nimbra::splitVideoGroups(clip.bytes);
    }

    uint32_t mark = 0;
    plm_buffer_t *buffer = nullptr;
    plm_video_t *video = nullptr;
    mpegtest::Stream clip;
};

// ------------------------------------------------ against ffmpeg's pictures

// Streams each clip a group at a time, as the host does, decoding after each
// group; each returned picture is compared with the reference picture it
// must show (for a B picture, the previous reference again). The larger
// clips hold twice the buffer's capacity: consumed bytes must be dropped
// before each write. The clips cover intra and predicted pictures, half-pel
// and full-pel vectors, larger vector ranges, B pictures, loaded matrices,
// sizes that are no multiple of 16, escape codes and quantiser changes from
// macroblock to macroblock.
TEST_F(DecoderTest, EveryStreamMatchesTheIndependentDecoder) {
    for (const std::string &name : mpegtest::allNames()) {
        fresh();
        mpegtest::Stream s = mpegtest::load(name);
        std::vector<Bytes> groups = nimbra::splitVideoGroups(s.bytes);
        ASSERT_EQ(groups.size(), s.pictures.size()) << name;
        int lastReference = -1;
        const uint8_t *lastFrameData = nullptr;
        for (size_t g = 0; g < groups.size(); g++) {
            SCOPED_TRACE(testing::Message() << name << " picture " << g << " type " << s.pictures[g].type);
            ASSERT_TRUE(write(groups[g]));
            plm_frame_t *frame = plm_video_decode(video);
            if (s.pictures[g].type != 3) lastReference = s.pictures[g].displayIndex;
            ASSERT_NE(frame, nullptr);
            EXPECT_EQ(std::make_tuple(frame->width, frame->height, frame->y.width),
                      std::make_tuple(s.width, s.height, (s.width + 15) / 16 * 16));
            EXPECT_TRUE(s.pictures[g].type != 3 || frame->y.data == lastFrameData) << "a B picture returns the last reference";
            lastFrameData = frame->y.data;
            EXPECT_GE(psnrOf(frame, s, lastReference), kMinPsnr);
        }
    }
}

TEST_F(DecoderTest, WholeStreamAtOnceDecodesPictureByPicture) {
    load("ip_176x120_q1");
    ASSERT_TRUE(write(clip.bytes));
    for (size_t g = 0; g < clip.pictures.size(); g++) {
        plm_frame_t *frame = plm_video_decode(video);
        ASSERT_NE(frame, nullptr) << g;
        EXPECT_GE(psnrOf(frame, clip, clip.pictures[g].displayIndex), kMinPsnr);
    }
    EXPECT_EQ(plm_video_decode(video), nullptr) << "no picture left";
}

TEST_F(DecoderTest, GarbageBetweenPicturesChangesNothing) {
    std::vector<Bytes> groups = load("ip_320x240_q6");
    // Bytes without a start code prefix, then a start code of no meaning to
    // video, then more bytes: all between one picture's last slice and the
    // next picture.
    const Bytes garbage = {0x5A, 0xC3, 0xFF, 0x12, 0x00, 0x00, 0x02, 0x77, 0x00, 0x00, 0x01, 0xC0,
                           0x99, 0x01, 0x00, 0x01, 0xE3, 0x80};
    for (size_t g = 0; g < groups.size(); g++) {
        ASSERT_TRUE(write(groups[g] + garbage));
        plm_frame_t *frame = plm_video_decode(video);
        ASSERT_NE(frame, nullptr) << g;
        EXPECT_GE(psnrOf(frame, clip, (int)g), kMinPsnr) << g;
    }
}

// ------------------------------------------------ a picture written by hand

// An intra picture of two macroblocks. The first, at quantiser 1, has in its
// first block the levels 200, -200, 100 and -100 at scan positions 1 to 4,
// each in an escape code (16-bit levels of both signs, then 8-bit ones); the
// second sets the quantiser to 31 and repeats the first two levels, whose
// coefficients then pass the bound on both sides. The expected samples are
// the exact inverse transform of the coefficients worked out below, within
// the one level the accuracy procedure allows; every other block is flat.
TEST_F(DecoderTest, EscapeCodesQuantiserChangeAndSaturation) {
    BitWriter w;
    w.out = sequenceHeader(32, 16);
    w.put(0x100, 32);                                              // picture: number 0, intra,
    w.put(0, 10), w.put(1, 3), w.put(0xFFFF, 16), w.put(0, 1);   // no delay, no extra bits
    w.align();
    w.put(0x101, 32), w.put(1, 5), w.put(0, 1);   // slice 1, quantiser 1
    // The level fields after an escape and run 0: 200 is 0x00 then 200,
    // -200 is 0x80 then -200 + 256; 100 and -100 are one signed byte.
    struct Level {
        uint32_t field;
        int bits;
    };
    const std::vector<Level> levels[2] = {{{0x00C8, 16}, {0x8038, 16}, {0x64, 8}, {0x9C, 8}},
                                          {{0x00C8, 16}, {0x8038, 16}}};
    for (int mb = 0; mb < 2; mb++) {
        w.put(1, 1);                               // address increment 1
        if (mb == 0) w.put(1, 1);                  // intra
        if (mb == 1) w.put(1, 2), w.put(31, 5);    // intra with quantiser 31
        w.put(0b100, 3);                           // luma DC size 0: DC 1024
        for (Level level : levels[mb]) w.put(1, 6), w.put(0, 6), w.put(level.field, level.bits);
        w.put(0b10, 2);                            // end of block
        for (int b = 1; b < 4; b++) w.put(0b100, 3), w.put(0b10, 2);
        for (int b = 4; b < 6; b++) w.put(0b00, 2), w.put(0b10, 2);   // chroma DC size 0
    }
    w.align();
    w.put(0x1B7, 32);
    ASSERT_TRUE(write(w.out));
    plm_frame_t *frame = plm_video_decode(video);
    ASSERT_NE(frame, nullptr);

    // Scan positions 1 to 4 are, in natural order, (row 0, column 1), (1, 0),
    // (2, 0) and (1, 1), of weights 16, 16, 19 and 16 in the default intra
    // matrix. At quantiser 1, 2 x level x 1 x weight / 16 gives 400, -400,
    // 237 (237.5 toward zero) and -200, made odd toward zero: 399, -399, 237,
    // -199. At 31 the first two are 12399 and -12399: bound to 2047 and -2048.
    const int coefficients[2][4] = {{399, -399, 237, -199}, {2047, -2048, 0, 0}};
    static const ExactDct dct;
    for (int mb = 0; mb < 2; mb++) {
        double in[64] = {1024}, exact[64];
        in[1] = coefficients[mb][0], in[8] = coefficients[mb][1], in[16] = coefficients[mb][2], in[9] = coefficients[mb][3];
        dct.apply(in, exact, false);
        for (int y = 0; y < 16; y++)
            for (int x = 0; x < 16; x++) {
                int expected = x < 8 && y < 8 ? std::clamp((int)std::floor(exact[y * 8 + x] + 0.5), 0, 255) : 128;
                EXPECT_NEAR(frame->y.data[y * 32 + mb * 16 + x], expected, 1) << "macroblock " << mb << " at " << x << "," << y;
            }
    }
}

// ------------------------------------------------------------ inverse DCT

// The accuracy procedure for interchangeable inverse DCTs (IEEE 1180):
// 10000 random blocks of pixels in a range, transformed forward exactly and
// rounded to coefficients, then inverse transformed by the decoder and by
// the exact formula; the errors must stay within fixed bounds.
struct IdctErrors {
    int peak = 0;
    double worstPixelMse = 0, overallMse = 0, worstPixelMean = 0, overallMean = 0;
};

// The procedure's own random numbers, started afresh for each run: a linear
// congruential generator of which 30 bits are kept, scaled to -low..high.
// (Its 32-bit product wraps; unsigned arithmetic gives the same low bits.)
struct Ieee1180Random {
    uint32_t randx = 1;
    int next(int low, int high) {
        randx = randx * 1103515245u + 12345u;
        const uint32_t i = randx & 0x7FFFFFFEu;
        const double x = (double)i / (double)0x7FFFFFFF * (low + high + 1);
        return (int)x - low;
    }
};

IdctErrors measureIdct(int low, int high, int sign) {
    constexpr int kBlocks = 10000;
    static const ExactDct dct;
    Ieee1180Random random;
    double errSum[64] = {}, errSq[64] = {};
    IdctErrors e;
    for (int n = 0; n < kBlocks; n++) {
        double pixels[64], transformed[64], coef[64], exact[64];
        for (int i = 0; i < 64; i++) pixels[i] = (double)(random.next(low, high) * sign);
        dct.apply(pixels, transformed, true);
        int16_t transposed[64], samples[64];
        for (int i = 0; i < 64; i++) {
            coef[i] = std::clamp(std::floor(transformed[i] + 0.5), -2048.0, 2047.0);
            transposed[(i % 8) * 8 + i / 8] = (int16_t)coef[i];
        }
        MPEG_Idct(transposed, samples);
        dct.apply(coef, exact, false);
        for (int i = 0; i < 64; i++) {
            int reference = (int)std::clamp(std::floor(exact[i] + 0.5), -256.0, 255.0);
            int d = std::clamp((int)samples[i], -256, 255) - reference;
            e.peak = std::max(e.peak, std::abs(d));
            errSum[i] += d;
            errSq[i] += d * d;
        }
    }
    for (int i = 0; i < 64; i++) {
        e.worstPixelMse = std::max(e.worstPixelMse, errSq[i] / kBlocks);
        e.worstPixelMean = std::max(e.worstPixelMean, std::fabs(errSum[i]) / kBlocks);
        e.overallMse += errSq[i] / kBlocks / 64;
        e.overallMean += errSum[i] / kBlocks / 64;
    }
    e.overallMean = std::fabs(e.overallMean);
    return e;
}

TEST(MpegIdct, MeetsTheAccuracyLimitsOfInterchangeableInverseTransforms) {
    // Ranges -256..255, -5..5 and -300..300, each also with the sign of the
    // pixels changed.
    const int ranges[][2] = {{256, 255}, {5, 5}, {300, 300}};
    for (const auto &r : ranges)
        for (int sign : {1, -1}) {
            IdctErrors e = measureIdct(r[0], r[1], sign);
            SCOPED_TRACE(testing::Message() << "range " << -r[0] << ".." << r[1] << " sign " << sign);
            EXPECT_LE(e.peak, 1);
            EXPECT_LE(e.worstPixelMse, 0.06);
            EXPECT_LE(e.overallMse, 0.02);
            EXPECT_LE(e.worstPixelMean, 0.015);
            EXPECT_LE(e.overallMean, 0.0015);
        }
    // All zeros in, all zeros out.
    int16_t zeros[64] = {}, out[64];
    MPEG_Idct(zeros, out);
    EXPECT_TRUE(std::all_of(out, out + 64, [](int16_t v) { return v == 0; }));
}

// All-zero blocks, a lone coefficient at each position, blocks that
// saturate between the passes, and random blocks: the fast path and the
// portable one give the same samples, and so does the short kernel on
// blocks with nothing beyond frequency 3 either way.
TEST(MpegIdct, FastPathsEqualThePortableOne) {
    std::mt19937 random(7);
    std::vector<std::vector<int16_t>> blocks = {std::vector<int16_t>(64, 2047), std::vector<int16_t>(64, -2048),
                                                std::vector<int16_t>(64, 32767), std::vector<int16_t>(64, -32768)};
    for (int position = 0; position < 64; position++) {
        blocks.push_back(std::vector<int16_t>(64, 0));
        blocks.back()[position] = (int16_t)(position & 1 ? -2048 : 2047);
    }
    for (int n = 0; n < 2000; n++) {
        std::vector<int16_t> b(64);
        int range = n % 3 == 0 ? 2048 : n % 3 == 1 ? 64 : 32768;
        for (int16_t &c : b) c = (int16_t)std::uniform_int_distribution<int>(-range, range - 1)(random);
        blocks.push_back(b);
    }
    for (size_t i = 0; i < blocks.size(); i++) {
        int16_t fast[64], portable[64];
        MPEG_Idct(blocks[i].data(), fast);
        MPEG_IdctPortable(blocks[i].data(), portable);
        ASSERT_EQ(0, memcmp(fast, portable, sizeof fast)) << "block " << i;
        for (int k = 0; k < 64; k++)
            if (k / 8 > 3 || k % 8 > 3) blocks[i][k] = 0;
        MPEG_IdctLow(blocks[i].data(), fast);
        MPEG_IdctPortable(blocks[i].data(), portable);
        ASSERT_EQ(0, memcmp(fast, portable, sizeof fast)) << "low frequencies of block " << i;
    }
}

// The decoder draws a block with only its DC term as the flat (DC + 4) >> 3
// without transforming it: the full transform gives the same.
TEST(MpegIdct, ALoneDcTermIsFlat) {
    int16_t dcOnly[64] = {}, samples[64];
    for (int dc : {-2048, -5, -4, 3, 4, 1021, 2047}) {
        dcOnly[0] = (int16_t)dc;
        MPEG_Idct(dcOnly, samples);
        for (int i = 0; i < 64; i++) ASSERT_EQ(samples[i], (dc + 4) >> 3) << dc;
    }
}

// ------------------------------------------------------------ stream buffer

TEST_F(DecoderTest, BufferWritesAllOrNothing) {
    Bytes half(kCapacity / 2, 0xAA);
    EXPECT_TRUE(write(half));
    EXPECT_TRUE(write(half));
    EXPECT_EQ(plm_buffer_get_size(buffer), kCapacity);
    EXPECT_FALSE(write(Bytes(1, 0xAA))) << "a full buffer takes nothing";
    EXPECT_EQ(plm_buffer_get_size(buffer), kCapacity);
    plm_buffer_reset(buffer);
    EXPECT_EQ(plm_buffer_get_size(buffer), 0u);
    EXPECT_FALSE(write(Bytes(kCapacity + 1, 0xAA)));
    EXPECT_EQ(plm_buffer_get_size(buffer), 0u);
}

// ---------------------------------------------------------- sequence header

// A picture with no sequence header before it is passed over for good. A
// header is taken as soon as its own bytes are buffered: 8 bytes of fields
// after the start code, and 64 more for each matrix it loads, rather than a
// fixed 136 bytes that a header without matrices might wait for in vain.
TEST_F(DecoderTest, HeaderIsTakenOnceItsOwnBytesAreBufferedAndEarlierPicturesAreIgnored) {
    std::vector<Bytes> groups = load("ip_176x120_pan_q4");
    ASSERT_TRUE(write(groups[1]));
    EXPECT_EQ(plm_video_decode(video), nullptr);
    ASSERT_TRUE(write(groups[0]));
    plm_frame_t *frame = plm_video_decode(video);
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(plm_video_get_width(video) == 176 && plm_video_get_height(video) == 120);
    EXPECT_GE(psnrOf(frame, clip, 0), kMinPsnr);
    EXPECT_EQ(plm_video_decode(video), nullptr) << "the early picture was passed over";
    const Bytes matrix(64, 16);
    for (const Bytes &header : {sequenceHeader(32, 32), sequenceHeader(32, 32, matrix), sequenceHeader(32, 32, {}, matrix),
                                sequenceHeader(32, 32, matrix, matrix)}) {
        fresh();
        ASSERT_TRUE(write(Bytes(header.begin(), header.end() - 1)));
        EXPECT_EQ(plm_video_decode(video), nullptr);
        EXPECT_FALSE(plm_video_has_header(video)) << header.size();
        ASSERT_TRUE(write(Bytes(header.end() - 1, header.end())));
        EXPECT_EQ(plm_video_decode(video), nullptr);
        EXPECT_TRUE(plm_video_has_header(video)) << header.size();
    }
}

TEST_F(DecoderTest, HostileSizesAreRefused) {
    struct Case {
        int width, height;
        bool accepted;
    } cases[] = {
        {0, 120, false}, {176, 0, false}, {4095, 4095, false},
        {321, 320, false},   // 308160 bytes at three a pixel
        {320, 320, true},    // exactly 307200
        {1, 1, true},
    };
    for (const Case &c : cases) {
        fresh();
        uint32_t freeBefore = GUI_GetNumFreeBytes();
        ASSERT_TRUE(write(sequenceHeader(c.width, c.height)));
        EXPECT_EQ(plm_video_decode(video), nullptr);
        EXPECT_EQ(plm_video_has_header(video), c.accepted) << c.width << "x" << c.height;
        // Two frame stores for an accepted header, nothing for a refused one.
        uint32_t w16 = (c.width + 15) / 16 * 16, h16 = (c.height + 15) / 16 * 16;
        EXPECT_EQ(freeBefore - GUI_GetNumFreeBytes(), c.accepted ? 2 * (w16 * h16 * 3 / 2) : 0);
    }
    // 320 x 240 needs 2 x 115200 bytes; leave a little less than that.
    fresh();
    uint32_t need = 2 * 320 * 240 * 3 / 2;
    GUI_AllocNoInit(GUI_GetNumFreeBytes() - (need - 4));
    ASSERT_TRUE(write(sequenceHeader(320, 240)));
    EXPECT_EQ(plm_video_decode(video), nullptr);
    EXPECT_FALSE(plm_video_has_header(video));
    EXPECT_EQ(GUI_GetNumFreeBytes(), need - 4);
}

TEST_F(DecoderTest, RepeatedHeaderWithAnotherSizeIsIgnored) {
    std::vector<Bytes> groups = load("ip_176x120_pan_q4");
    ASSERT_TRUE(write(groups[0]));
    ASSERT_NE(plm_video_decode(video), nullptr);
    uint32_t freeAfter = GUI_GetNumFreeBytes();
    ASSERT_TRUE(write(sequenceHeader(32, 32) + groups[1]));
    plm_frame_t *frame = plm_video_decode(video);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->width, 176);
    EXPECT_EQ(GUI_GetNumFreeBytes(), freeAfter);
    EXPECT_GE(psnrOf(frame, clip, 1), kMinPsnr);
}

// ------------------------------------------------------------ damaged data

// A picture whose data is only partly buffered is not shown: each decode
// gives the last complete picture again, untouched, and the picture decodes
// whole once the rest of it has arrived. The picture is cut inside a slice,
// at a slice boundary, and after its picture header.
TEST_F(DecoderTest, PartlyBufferedPictureShowsTheLastCompleteOneUntilTheRestArrives) {
    std::vector<Bytes> groups = load("ip_320x240_q6");
    const Bytes &second = groups[1];
    const size_t boundary = mpegtest::lastSliceStart(second);
    ASSERT_GT(boundary, second.size() / 4);
    for (size_t cut : {second.size() / 2 + 1, boundary, (size_t)8}) {
        SCOPED_TRACE(testing::Message() << "cut at " << cut << " of " << second.size());
        fresh();
        ASSERT_TRUE(write(groups[0]));
        plm_frame_t *first = plm_video_decode(video);
        ASSERT_NE(first, nullptr);
        const std::vector<uint8_t> shown(first->y.data, first->y.data + first->y.width * first->y.height);
        ASSERT_TRUE(write(Bytes(second.begin(), second.begin() + (long)cut)));
        for (int ask = 0; ask < 2; ask++) {
            EXPECT_EQ(plm_video_decode(video), first);
            EXPECT_EQ(0, memcmp(first->y.data, shown.data(), shown.size()));
        }
        ASSERT_TRUE(write(Bytes(second.begin() + (long)cut, second.end())));
        plm_frame_t *frame = plm_video_decode(video);
        ASSERT_NE(frame, nullptr);
        EXPECT_NE(frame, first);
        EXPECT_GE(psnrOf(frame, clip, 1), kMinPsnr);
    }
    // With no complete picture yet there is nothing to show.
    fresh();
    ASSERT_TRUE(write(Bytes(groups[0].begin(), groups[0].begin() + (long)groups[0].size() / 2)));
    EXPECT_EQ(plm_video_decode(video), nullptr);
}

}  // namespace
