// The MPEG-1 video decoder on its own: pictures against an independent
// decoder's, the inverse DCT's accuracy, the stream buffer's contract, the
// sequence header rules and damaged streams.
#include <gtest/gtest.h>
#include <sanitizer/asan_interface.h>

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
};

// Sequence header of the given size; each matrix given (64 entries in
// zigzag order) is loaded.
Bytes sequenceHeader(int width, int height, const Bytes &intra = {}, const Bytes &nonIntra = {}) {
    BitWriter w;
    w.put(0x1B3, 32);
    w.put((uint32_t)width, 12);
    w.put((uint32_t)height, 12);
    w.put(1, 4);         // aspect ratio
    w.put(4, 4);         // picture rate
    w.put(0x3FFFF, 18);  // bit rate
    w.put(1, 1);         // marker
    w.put(3, 10);        // buffer size
    w.put(0, 1);         // constrained parameters
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

// Streams the clip a group at a time, as the host does, decoding after each
// group; each returned picture is compared with the reference picture it
// must show (for a B picture, the previous reference again). Returns the
// number of pictures compared.
int playAgainstReference(plm_buffer_t *buffer, plm_video_t *video, const mpegtest::Stream &s,
                         const std::vector<Bytes> &groups) {
    int pictures = 0, lastReference = -1;
    const uint8_t *lastFrameData = nullptr;
    EXPECT_EQ(groups.size(), s.pictures.size());
    for (size_t g = 0; g < groups.size() && g < s.pictures.size(); g++) {
        SCOPED_TRACE(testing::Message() << s.name << " picture " << g << " type " << s.pictures[g].type);
        EXPECT_EQ(plm_buffer_write(buffer, groups[g].data(), groups[g].size()), groups[g].size());
        plm_frame_t *frame = plm_video_decode(video);
        const mpegtest::Picture &p = s.pictures[g];
        if (p.type == 1 || p.type == 2) lastReference = p.displayIndex;
        if (lastReference < 0 || !frame) {
            EXPECT_EQ(frame == nullptr, lastReference < 0);
            continue;
        }
        EXPECT_EQ(frame->width, s.width);
        EXPECT_EQ(frame->height, s.height);
        EXPECT_EQ(frame->y.width, (s.width + 15) / 16 * 16);
        if (p.type == 3) {
            EXPECT_EQ(frame->y.data, lastFrameData) << "a B picture returns the previous reference";
        }
        lastFrameData = frame->y.data;
        EXPECT_GE(psnrOf(frame, s, lastReference), kMinPsnr);
        pictures++;
    }
    return pictures;
}

// The larger clips hold twice the buffer's capacity: consumed bytes must be
// dropped before each write.
TEST_F(DecoderTest, EveryStreamMatchesTheIndependentDecoder) {
    for (const std::string &name : mpegtest::allNames()) {
        fresh();
        mpegtest::Stream s = mpegtest::load(name);
        EXPECT_GT(playAgainstReference(buffer, video, s, nimbra::splitVideoGroups(s.bytes)), 0) << name;
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
    for (auto &g : groups) g.insert(g.end(), garbage.begin(), garbage.end());
    EXPECT_EQ(playAgainstReference(buffer, video, clip, groups), (int)clip.pictures.size());
}

// ------------------------------------------------------------ inverse DCT

// The decoder's transform of natural-order coefficients into natural-order
// samples (it takes its blocks transposed).
void inverseTransform(const int32_t coefficients[64], int32_t samples[64]) {
    int16_t transposed[64], out[64];
    for (int v = 0; v < 8; v++) {
        for (int u = 0; u < 8; u++) transposed[u * 8 + v] = (int16_t)coefficients[v * 8 + u];
    }
    MPEG_Idct(transposed, out);
    for (int i = 0; i < 64; i++) samples[i] = out[i];
}

// The accuracy test for interchangeable inverse DCTs: random blocks in a
// range, transformed forward exactly and rounded, then inverse transformed by
// the decoder and by the exact formula; the errors must stay within fixed
// bounds.
struct IdctErrors {
    int peak = 0;
    double worstPixelMse = 0, overallMse = 0, worstPixelMean = 0, overallMean = 0;
};

// The exact two-dimensional transforms, done as two one-dimensional passes:
// forward (pixels to coefficients) and inverse, in double precision.
struct ExactDct {
    double c[8][8];   // c[u][x]
    ExactDct() {
        for (int u = 0; u < 8; u++) {
            for (int x = 0; x < 8; x++) c[u][x] = (u == 0 ? std::sqrt(0.125) : 0.5) * std::cos((2 * x + 1) * u * M_PI / 16.0);
        }
    }
    // out[i][j] = sum over k, l of m(i, k) m(j, l) in[k][l], m = c (forward) or c transposed.
    void apply(const double in[64], double out[64], bool forward) const {
        double half[64];
        auto m = [&](int i, int k) { return forward ? c[i][k] : c[k][i]; };
        for (int k = 0; k < 8; k++) {
            for (int j = 0; j < 8; j++) {
                double s = 0;
                for (int l = 0; l < 8; l++) s += m(j, l) * in[k * 8 + l];
                half[k * 8 + j] = s;
            }
        }
        for (int i = 0; i < 8; i++) {
            for (int j = 0; j < 8; j++) {
                double s = 0;
                for (int k = 0; k < 8; k++) s += m(i, k) * half[k * 8 + j];
                out[i * 8 + j] = s;
            }
        }
    }
};

IdctErrors measureIdct(int low, int high, int sign, int blocks) {
    static const ExactDct dct;
    // The generator of the accuracy test, so that the blocks are the usual ones.
    long seed = 1;
    auto random = [&](long l, long h) {
        seed = (seed * 1103515245 + 12345) % 4294967296L;
        return (long)((double)seed / 4294967296.0 * (h - l + 1)) + l;
    };
    double errSum[64] = {}, errSq[64] = {};
    IdctErrors e;
    for (int n = 0; n < blocks; n++) {
        double pixels[64], transformed[64], coef[64], exact[64];
        for (int i = 0; i < 64; i++) pixels[i] = (double)(random(low, high) * sign);
        dct.apply(pixels, transformed, true);
        int32_t block[64], samples[64];
        for (int i = 0; i < 64; i++) {
            block[i] = (int32_t)std::clamp(std::floor(transformed[i] + 0.5), -2048.0, 2047.0);
            coef[i] = block[i];
        }
        inverseTransform(block, samples);
        dct.apply(coef, exact, false);
        for (int i = 0; i < 64; i++) {
            int reference = (int)std::clamp(std::floor(exact[i] + 0.5), -256.0, 255.0);
            int d = std::clamp(samples[i], -256, 255) - reference;
            e.peak = std::max(e.peak, std::abs(d));
            errSum[i] += d;
            errSq[i] += d * d;
        }
    }
    for (int i = 0; i < 64; i++) {
        e.worstPixelMse = std::max(e.worstPixelMse, errSq[i] / blocks);
        e.worstPixelMean = std::max(e.worstPixelMean, std::fabs(errSum[i]) / blocks);
        e.overallMse += errSq[i] / blocks / 64;
        e.overallMean += errSum[i] / blocks / 64;
    }
    e.overallMean = std::fabs(e.overallMean);
    return e;
}

TEST(MpegIdct, MeetsTheAccuracyLimitsOfInterchangeableInverseTransforms) {
    const int ranges[][2] = {{-256, 255}, {-5, 5}, {-300, 300}};
    for (const auto &r : ranges) {
        for (int sign : {1, -1}) {
            IdctErrors e = measureIdct(r[0], r[1], sign, 10000);
            SCOPED_TRACE(testing::Message() << "range " << r[0] << ".." << r[1] << " sign " << sign);
            EXPECT_LE(e.peak, 1);
            EXPECT_LE(e.worstPixelMse, 0.06);
            EXPECT_LE(e.overallMse, 0.02);
            EXPECT_LE(e.worstPixelMean, 0.015);
            EXPECT_LE(e.overallMean, 0.0015);
        }
    }
}

// All-zero blocks, a lone DC term at its extremes, a lone coefficient at each
// position, blocks that saturate between the passes, and random blocks: the
// fast path and the portable one give the same samples.
TEST(MpegIdct, FastPathEqualsThePortableOne) {
    std::mt19937 random(7);
    std::vector<std::vector<int16_t>> blocks;
    blocks.push_back(std::vector<int16_t>(64, 0));
    for (int dc : {-2048, -1, 1, 2047}) {
        blocks.push_back(std::vector<int16_t>(64, 0));
        blocks.back()[0] = (int16_t)dc;
    }
    for (int position = 0; position < 64; position++) {
        blocks.push_back(std::vector<int16_t>(64, 0));
        blocks.back()[position] = (int16_t)(position & 1 ? -2048 : 2047);
    }
    blocks.push_back(std::vector<int16_t>(64, 2047));
    blocks.push_back(std::vector<int16_t>(64, -2048));
    blocks.push_back(std::vector<int16_t>(64, 32767));    // beyond valid data: wraps and saturates alike
    blocks.push_back(std::vector<int16_t>(64, -32768));
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
        // The short kernel, on the same block with everything beyond
        // frequency 3 either way cleared.
        for (int k = 0; k < 64; k++) {
            if (k / 8 > 3 || k % 8 > 3) blocks[i][k] = 0;
        }
        MPEG_IdctLow(blocks[i].data(), fast);
        MPEG_IdctPortable(blocks[i].data(), portable);
        ASSERT_EQ(0, memcmp(fast, portable, sizeof fast)) << "low frequencies of block " << i;
    }
}

// Put stores the samples clamped to 0..255; add clamps the sum with the
// prediction; a lone DC term gives the flat (DC + 4) >> 3.
TEST(MpegIdct, PutAndAddClampIntoThePicture) {
    int16_t block[64] = {};
    block[0] = 1000;   // flat 125
    block[8] = 600;    // horizontal frequency 1: a left-to-right ramp
    int16_t samples[64];
    MPEG_Idct(block, samples);
    uint8_t picture[8 * 12];
    memset(picture, 200, sizeof picture);
    MPEG_IdctAdd(block, picture + 2, 12, true);
    for (int y = 0; y < 8; y++) {
        EXPECT_EQ(picture[y * 12], 200);
        EXPECT_EQ(picture[y * 12 + 1], 200);
        for (int x = 0; x < 8; x++) EXPECT_EQ(picture[y * 12 + 2 + x], std::clamp(200 + samples[y * 8 + x], 0, 255));
        EXPECT_EQ(picture[y * 12 + 10], 200);
    }
    EXPECT_EQ(picture[2], 255) << "the sum is clamped";
    MPEG_IdctPut(block, picture + 2, 12, false);
    for (int y = 0; y < 8; y++) {
        for (int x = 0; x < 8; x++) EXPECT_EQ(picture[y * 12 + 2 + x], std::clamp((int)samples[y * 8 + x], 0, 255));
    }
    int16_t dcOnly[64] = {};
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

TEST_F(DecoderTest, HeaderAloneGivesNoFrameAndAPictureBeforeItIsIgnored) {
    std::vector<Bytes> groups = load("ip_176x120_pan_q4");
    // A picture with no sequence header before it cannot be decoded.
    ASSERT_TRUE(write(groups[1]));
    EXPECT_EQ(plm_video_decode(video), nullptr);
    EXPECT_FALSE(plm_video_has_header(video));
    // The header split in two: nothing until all of it is there.
    ASSERT_TRUE(write(Bytes(groups[0].begin(), groups[0].begin() + 9)));
    EXPECT_EQ(plm_video_decode(video), nullptr);
    EXPECT_FALSE(plm_video_has_header(video));
    ASSERT_TRUE(write(Bytes(groups[0].begin() + 9, groups[0].end())));
    plm_frame_t *frame = plm_video_decode(video);
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(plm_video_has_header(video));
    EXPECT_EQ(plm_video_get_width(video), 176);
    EXPECT_EQ(plm_video_get_height(video), 120);
    EXPECT_GE(psnrOf(frame, clip, 0), kMinPsnr);
    EXPECT_EQ(plm_video_decode(video), nullptr) << "the early picture was passed over for good";
}

// A header is taken as soon as its own bytes are buffered: 8 bytes of fields
// after the start code, and 64 more for each matrix it loads, rather than a
// fixed 136 bytes that a header without matrices might wait for in vain.
TEST_F(DecoderTest, HeaderIsTakenOnceItsOwnBytesAreBuffered) {
    const Bytes matrix(64, 16);
    const struct {
        Bytes header;
        size_t size;
    } cases[] = {
        {sequenceHeader(32, 32), 12},
        {sequenceHeader(32, 32, matrix), 76},
        {sequenceHeader(32, 32, {}, matrix), 76},
        {sequenceHeader(32, 32, matrix, matrix), 140},
    };
    for (const auto &c : cases) {
        fresh();
        ASSERT_EQ(c.header.size(), c.size);
        ASSERT_TRUE(write(Bytes(c.header.begin(), c.header.end() - 1)));
        EXPECT_EQ(plm_video_decode(video), nullptr);
        EXPECT_FALSE(plm_video_has_header(video)) << c.size;
        ASSERT_TRUE(write(Bytes(c.header.end() - 1, c.header.end())));
        EXPECT_EQ(plm_video_decode(video), nullptr);
        EXPECT_TRUE(plm_video_has_header(video)) << c.size;
    }
}

// A zero in a loaded matrix only zeroes the coefficients it scales: the clip
// still plays picture by picture, close to the independent decoder's.
TEST_F(DecoderTest, ZeroMatrixEntriesDoNotStopAClip) {
    load("ip_100x76_matrices_q5");
    Bytes bytes = clip.bytes;
    const Bytes fields = sequenceHeader(100, 76);
    ASSERT_TRUE(std::equal(fields.begin(), fields.begin() + 4, bytes.begin()));
    // Both matrices are loaded: the last intra entry lies at bits 567 to 574
    // after the start code, the last non-intra entry is byte 135 after it.
    for (int bit = 567; bit <= 574; bit++) bytes[4 + bit / 8] &= (uint8_t)~(0x80 >> (bit % 8));
    bytes[4 + 135] = 0;
    int frames = 0;
    for (const Bytes &g : nimbra::splitVideoGroups(bytes)) {
        ASSERT_TRUE(write(g));
        plm_frame_t *frame = plm_video_decode(video);
        ASSERT_NE(frame, nullptr) << "picture " << frames;
        EXPECT_GE(psnrOf(frame, clip, frames), 35.0) << "picture " << frames;
        frames++;
    }
    EXPECT_EQ(frames, (int)clip.pictures.size());
}

TEST_F(DecoderTest, HostileSizesAreRefused) {
    struct Case {
        int width, height;
        bool accepted;
    } cases[] = {
        {0, 120, false},   {176, 0, false}, {640, 400, false}, {4095, 4095, false},
        {321, 320, false},  // 308160 bytes at three a pixel
        {320, 320, true},   // exactly 307200
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
    Bytes next = sequenceHeader(32, 32);
    next.insert(next.end(), groups[1].begin(), groups[1].end());
    ASSERT_TRUE(write(next));
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
    ASSERT_TRUE(write(Bytes(groups[0].begin() + (long)groups[0].size() / 2, groups[0].end())));
    plm_frame_t *frame = plm_video_decode(video);
    ASSERT_NE(frame, nullptr);
    EXPECT_GE(psnrOf(frame, clip, 0), kMinPsnr);
}

// Random damage to real streams: no read or write outside the decoder's own
// memory (the pool above it keeps a pattern), no hang, and the pool's fill
// level never moves after the header.
TEST_F(DecoderTest, DamagedStreamsNeverEscapeTheDecodersMemory) {
    std::mt19937 rng(7);
    const char *const names[] = {"ip_176x120_pan_q4", "ipb_176x120_q4", "ip_100x76_matrices_q5"};
    int frames = 0;
    for (int round = 0; round < 45; round++) {
        load(names[round % 3]);
        fresh();
        Bytes damaged = clip.bytes;
        // Keep the sequence header intact in most rounds, so that pictures
        // get decoded at all.
        size_t from = round % 4 == 0 ? 0 : 12;
        for (int k = 1 + (int)(rng() % 40); k > 0; k--) {
            damaged[from + rng() % (damaged.size() - from)] = (uint8_t)(rng() % 3 == 0 ? 0 : rng());
        }
        uint32_t top = ALLOC_buffer_idx;
        uint32_t expectedTop = top + 2 * (uint32_t)((clip.width + 15) / 16 * 16) * ((clip.height + 15) / 16 * 16) * 3 / 2;
        // The pattern lies in the free part of the pool, which the sanitizer
        // build poisons; the pattern's check stands in for it here.
        ASAN_UNPOISON_MEMORY_REGION(ALLOC_buffer + expectedTop, POOL_SIZE_BYTES - expectedTop);
        memset(ALLOC_buffer + expectedTop, 0xA5, POOL_SIZE_BYTES - expectedTop);
        for (const Bytes &g : nimbra::splitVideoGroups(damaged)) {
            if (!write(g)) plm_buffer_reset(buffer);
            plm_frame_t *f = plm_video_decode(video);
            if (f) {
                frames++;
                ASSERT_GE(f->y.data, ALLOC_buffer + top);
                ASSERT_LE(f->y.data + f->y.width * f->y.height, ALLOC_buffer + expectedTop);
            }
            ASSERT_LE(ALLOC_buffer_idx, expectedTop);
        }
        for (uint32_t i = expectedTop; i < POOL_SIZE_BYTES; i++) {
            ASSERT_EQ(ALLOC_buffer[i], 0xA5) << "pool byte " << i << " written, round " << round;
        }
    }
    EXPECT_GT(frames, 0) << "damage left nothing to decode; the test tests nothing";
}

}  // namespace
