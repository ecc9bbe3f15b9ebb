// The host side of video streaming: groups cut at picture start codes,
// numbered chunks, and whole clips as records.
#include <gtest/gtest.h>

#include "host/main.h"
#include "tests/codecs/mpeg_test_streams.h"
#include "tests/support/device_fixture.h"
#include "tools/hostlib/colour_video.h"
#include "tools/hostlib/png_files.h"
#include "tools/hostlib/video_stream.h"

using nimbra::Bytes;

namespace {

Bytes startCode(uint8_t code) { return {0x00, 0x00, 0x01, code}; }
Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(VideoStreamSplit, EachGroupHoldsThePictureAndTheHeadersInFrontOfIt) {
    Bytes header = concat({startCode(0xB3), {1, 2, 3}, startCode(0xB8), {4}});
    Bytes p0 = concat({startCode(0x00), {5, 6}, startCode(0x01), {7}});
    Bytes p1 = concat({startCode(0x00), {8}, startCode(0xB2), {8}, startCode(0x01), {9, 0, 0}});
    // A new sequence header, group of pictures header, extension and user
    // data lead the next picture; the sequence end stays behind the last.
    Bytes header2 = concat({startCode(0xB3), {1, 2, 3}, startCode(0xB5), {0x20}, startCode(0xB8), {4},
                            startCode(0xB2), {5}});
    Bytes p2 = concat({startCode(0x00), {10}, startCode(0x01), {11}, startCode(0xB7)});
    Bytes p3 = concat({startCode(0x00), {12}, startCode(0x01), {13}, startCode(0xB7)});
    std::vector<Bytes> groups = nimbra::splitVideoGroups(concat({header, p0, p1, header2, p2, header, p3}));
    ASSERT_EQ(groups.size(), 4u);
    EXPECT_EQ(groups[0], concat({header, p0}));
    EXPECT_EQ(groups[1], p1) << "user data after a picture header stays with it";
    EXPECT_EQ(groups[2], concat({header2, p2}));
    EXPECT_EQ(groups[3], concat({header, p3})) << "the last group carries the sequence end";
}

TEST(VideoStreamSplit, StreamsWithoutPicturesOrEmpty) {
    EXPECT_TRUE(nimbra::splitVideoGroups(Bytes()).empty());
    Bytes onlyHeader = concat({startCode(0xB3), {1, 2}});
    EXPECT_EQ(nimbra::splitVideoGroups(onlyHeader), std::vector<Bytes>{onlyHeader});
    // A start code prefix cut at the end is not a picture.
    Bytes cut = concat({startCode(0x00), {1}, {0x00, 0x00, 0x01}});
    EXPECT_EQ(nimbra::splitVideoGroups(cut).size(), 1u);
}

// Numbering, lengths and the last-chunk bit are checked by the device
// itself in the playback tests; here, the limits.
TEST(VideoStreamChunks, LimitsOfChunkSizeAndCount) {
    Bytes group(128 * 10);
    EXPECT_EQ(nimbra::videoUploadCommands(group, 10).size(), 128u);
    EXPECT_EQ(nimbra::videoUploadCommands(group, 9).size(), 0u) << "129 chunks cannot be numbered";
    EXPECT_EQ(nimbra::videoUploadCommands(group, 0).size(), 0u);
    EXPECT_EQ(nimbra::videoUploadCommands(group, nimbra::kVideoMaxChunkBytes + 1).size(), 0u);
    std::vector<Bytes> one = nimbra::videoUploadCommands(Bytes(nimbra::kVideoMaxChunkBytes, 1));
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].size(), nimbra::kMaxRecordPayload) << "a full chunk fills a record exactly";
    EXPECT_EQ(one[0][1], 0x80);
}

// A clip's records played on the device core: the frames it showed and the
// result reports it sent.
struct Playback {
    std::vector<Bytes> frames;
    std::vector<Bytes> reports;
};

Playback playOnDevice(const Bytes &records) {
    testsupport::resetDevice(true);
    testsupport::clearCaptures();
    SIM_RunRecordBytes(records.data(), records.size());
    Playback p;
    for (const nimbra::Frame &f : testsupport::frames()) p.frames.push_back(f.bgra);
    for (const Bytes &r : testsupport::packets())
        if (r[0] == 0x04) p.reports.push_back(r);
    return p;
}

// The records the host would send without checking the groups' sizes.
Bytes uncheckedRecords(const Bytes &clip) {
    std::vector<Bytes> commands{nimbra::videoPlayCommand(nimbra::kVideoStart)};
    uint8_t frameId = 1;
    for (const Bytes &group : nimbra::splitVideoGroups(clip)) {
        for (const Bytes &c : nimbra::videoUploadCommands(group)) commands.push_back(c);
        commands.push_back(nimbra::videoPlayCommand(nimbra::kVideoDraw));
        commands.push_back(nimbra::CommandBuilder().copyToScreen(frameId++).payload());
    }
    return nimbra::packRecords(commands);
}

// Every picture of this clip comes with a sequence and a group of pictures
// header in front of it. Zero bytes after a picture's last slice (stuffing,
// which changes nothing) make its group as large as the case asks, and end
// the picture before it, so that the device still holds the last three
// bytes of that one when the group arrives. What the host accepts plays as
// the unpadded clip does; what it refuses the device would have lost.
TEST(VideoStreamClip, GroupsUpToTheDeviceBufferPlayLargerOnesAreRefused) {
    const Bytes clip = mpegtest::load("intra_176x120_q3").bytes;
    const std::vector<Bytes> groups = nimbra::splitVideoGroups(clip);
    ASSERT_EQ(groups.size(), 3u);
    ASSERT_EQ(Bytes(groups[1].begin(), groups[1].begin() + 4), startCode(0xB3));
    Bytes records;
    uint8_t frameId = 1;
    std::string error;
    ASSERT_TRUE(nimbra::videoClipRecords(clip, {}, records, frameId, error)) << error;
    const Playback reference = playOnDevice(records);
    ASSERT_EQ(reference.frames.size(), 3u);
    EXPECT_TRUE(reference.reports.empty());

    const struct {
        size_t picture, groupBytes;
        bool accepted;
    } cases[] = {
        {0, nimbra::kVideoMaxFirstGroupBytes, true},
        {0, nimbra::kVideoMaxFirstGroupBytes + 1, false},
        {1, nimbra::kVideoMaxGroupBytes, true},
        {1, nimbra::kVideoMaxGroupBytes + 1, false},
    };
    for (const auto &c : cases) {
        size_t end = 0;
        for (size_t g = 0; g <= c.picture; g++) end += groups[g].size();
        Bytes padded = clip;
        padded.insert(padded.begin() + (long)end, c.groupBytes - groups[c.picture].size(), 0);
        if (c.picture > 0) padded.insert(padded.begin() + (long)(end - groups[c.picture].size()), 16, 0);
        records.clear();
        frameId = 1;
        const bool accepted = nimbra::videoClipRecords(padded, {}, records, frameId, error);
        EXPECT_EQ(accepted, c.accepted) << c.picture << ", " << c.groupBytes << ": " << error;
        if (accepted) {
            Playback p = playOnDevice(records);
            EXPECT_EQ(p.frames, reference.frames) << c.picture << ", " << c.groupBytes;
            EXPECT_TRUE(p.reports.empty()) << c.picture << ", " << c.groupBytes;
        } else {
            EXPECT_NE(error.find("takes " + std::to_string(c.groupBytes) + " bytes"), std::string::npos) << error;
            Playback p = playOnDevice(uncheckedRecords(padded));
            EXPECT_EQ(p.reports, std::vector<Bytes>{Bytes({0x04, 0x11, 0x02, 0x03})})
                << c.picture << ", " << c.groupBytes << ": the device finds no picture to draw";
        }
    }
}

TEST(VideoStreamColour, LumaHoldsTheNearestColourIndexChromaIsNeutral) {
    // 3 x 3 pixels: luma 9 bytes, then two chroma planes of 2 x 2.
    const uint8_t rgb[27] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 128, 128, 128, 255, 255, 255, 0, 0, 0,
                             18, 18, 42, 19, 19, 43, 1, 2, 3};
    Bytes yuv = nimbra::indexPictureYuv420(rgb, 3, 3);
    // Red, green and blue at full level; grey 128 is level 4, 4, 2 (146);
    // 18 and 19 lie either side of the half-way point between the first two
    // levels of red and green, 42 and 43 of blue.
    EXPECT_EQ(Bytes(yuv.begin(), yuv.begin() + 9), (Bytes{0xE0, 0x1C, 0x03, 146, 0xFF, 0x00, 0x00, 0x25, 0x00}));
    EXPECT_EQ(Bytes(yuv.begin() + 9, yuv.end()), Bytes(8, 128));
}

// The whole path, through the ffmpeg program and the device core: a still
// picture of four flat quadrants, each on whole 8 x 8 blocks, comes out in
// exactly its colours.
TEST(VideoStreamColour, FlatColoursComeOutExact) {
    if (system("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg is not installed";
    const uint8_t quadrants[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    const uint8_t indices[4] = {0xE0, 0x1C, 0x03, 0xFF};
    nimbra::RgbaImage picture;
    picture.width = 64;
    picture.height = 48;
    for (uint32_t y = 0; y < 48; y++)
        for (uint32_t x = 0; x < 64; x++) {
            const uint8_t *c = quadrants[(y / 24) * 2 + x / 32];
            picture.rgba.insert(picture.rgba.end(), {c[0], c[1], c[2], 255});
        }
    const std::string png = std::string(NIMBRA_BINARY_DIR) + "/colour_video_test.png";
    std::string error;
    ASSERT_TRUE(nimbra::writePngRgba(png, picture, error)) << error;
    Bytes clip;
    ASSERT_TRUE(nimbra::encodeColourClip(png, {}, clip, error)) << error;
    nimbra::VideoStreamFacts facts;
    ASSERT_TRUE(nimbra::checkVideoStream(clip, facts, error)) << error;
    EXPECT_EQ(facts.pictures, 1u);
    nimbra::VideoClipOptions at;
    at.xHalf = 2 * 100;
    at.yHalf = 2 * 50;
    Bytes records;
    uint8_t frameId = 1;
    ASSERT_TRUE(nimbra::videoClipRecords(clip, at, records, frameId, error)) << error;
    Playback p = playOnDevice(records);
    ASSERT_EQ(p.frames.size(), 1u);
    nimbra::Frame shown;
    shown.bgra = p.frames[0];
    int wrong = 0;
    for (int y = 0; y < 48; y++)
        for (int x = 0; x < 64; x++) wrong += shown.indexAt(100 + x, 50 + y) != indices[(y / 24) * 2 + x / 32];
    EXPECT_EQ(wrong, 0);
    remove(png.c_str());
}

}  // namespace
