// The host side of video streaming: groups cut at picture start codes,
// numbered chunks, and whole clips as records.
#include <gtest/gtest.h>

#include "tools/hostlib/video_stream.h"

using nimbra::Bytes;

namespace {

Bytes startCode(uint8_t code) { return {0x00, 0x00, 0x01, code}; }
Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(VideoStreamSplit, FirstGroupHoldsEverythingBeforeTheSecondPicture) {
    Bytes header = concat({startCode(0xB3), {1, 2, 3}, startCode(0xB8), {4}});
    Bytes p0 = concat({startCode(0x00), {5, 6}, startCode(0x01), {7}});
    Bytes p1 = concat({startCode(0x00), {8}, startCode(0x01), {9, 0, 0}});
    Bytes p2 = concat({startCode(0x00), {10}, startCode(0xB7)});
    std::vector<Bytes> groups = nimbra::splitVideoGroups(concat({header, p0, p1, p2}));
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0], concat({header, p0}));
    EXPECT_EQ(groups[1], p1);
    EXPECT_EQ(groups[2], p2) << "the last group carries the sequence end";
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

TEST(VideoStreamClip, RecordsStartUploadDrawShowAndStop) {
    Bytes clip = concat({startCode(0xB3), {1}, startCode(0x00), {2}, startCode(0x00), {3}});
    nimbra::VideoClipOptions options;
    options.xHalf = -20;
    options.yHalf = 40;
    Bytes records;
    uint8_t frameId = 7;
    std::string error;
    ASSERT_TRUE(nimbra::videoClipRecords(clip, options, records, frameId, error)) << error;
    EXPECT_EQ(frameId, 9);
    // One record: every command fits.
    ASSERT_GE(records.size(), 8u);
    size_t length = ((size_t)records[0] << 24) | (records[1] << 16) | (records[2] << 8) | records[3];
    ASSERT_EQ(records.size(), 8 + length);
    Bytes payload(records.begin() + 8, records.end());
    Bytes expected = concat({nimbra::videoPlayCommand(1), nimbra::videoUploadCommands(Bytes(clip.begin(), clip.begin() + 10))[0],
                             nimbra::videoPlayCommand(3, -20, 40), {0x02, 7, 0, 0, 0, 0, 0, 0},
                             nimbra::videoUploadCommands(Bytes(clip.begin() + 10, clip.end()))[0],
                             nimbra::videoPlayCommand(3, -20, 40), {0x02, 8, 0, 0, 0, 0, 0, 0},
                             nimbra::videoPlayCommand(2)});
    EXPECT_EQ(payload, expected);
    // The position is a signed packed pair: -20 is 0xFEC in 12 bits.
    Bytes draw = nimbra::videoPlayCommand(3, -20, 40);
    EXPECT_EQ(draw, (Bytes{0x11, 0x03, 0x0F, 0xEC, 0x28}));
}

TEST(VideoStreamClip, GroupLargerThanTheDeviceBufferIsRefused) {
    Bytes clip = concat({startCode(0x00), Bytes(nimbra::kVideoStreamBufferBytes, 1)});
    Bytes records;
    uint8_t frameId = 1;
    std::string error;
    EXPECT_FALSE(nimbra::videoClipRecords(clip, {}, records, frameId, error));
    EXPECT_NE(error.find("16384"), std::string::npos) << error;
    EXPECT_TRUE(records.empty());
    EXPECT_FALSE(nimbra::videoClipRecords(Bytes(), {}, records, frameId, error));
}

}  // namespace
