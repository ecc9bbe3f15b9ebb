// Video playback through its commands: the reports of play and upload, the
// grouping of chunks, where frames land on screen, and the pool that the
// decoder shares with the slot 0 picture.
#include <gtest/gtest.h>

#include <cstring>

#include "codecs/mpeg.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_Alloc.h"
#include "gui/GUI_Common.h"
#include "host/main.h"
#include "tests/codecs/mpeg_test_streams.h"
#include "tests/support/device_fixture.h"
#include "tools/hostlib/video_stream.h"

namespace {

using nimbra::Bytes;
using Reports = std::vector<Bytes>;
using testsupport::report;

const Reports kNone;
const Reports kNoFrame = {report(0x11, 0x02, 0x03)};

class VideoTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        memset(fb, 0, FB_SIZE_BYTES);
    }

    // Runs commands one payload each and returns the replies they caused.
    Reports runAll(const std::vector<Bytes> &commands) { return testsupport::replies(commands); }
    Reports play(uint8_t action, int32_t xHalf = 0, int32_t yHalf = 0) {
        return runAll({nimbra::videoPlayCommand(action, xHalf, yHalf)});
    }
    Reports upload(const Bytes &group, size_t chunkBytes = 1000) {
        return runAll(nimbra::videoUploadCommands(group, chunkBytes));
    }
    // One chunk with an explicit number and last-of-group bit.
    static Bytes chunk(uint8_t number, bool last, const Bytes &data) {
        nimbra::CommandBuilder b;
        b.u8(0x13).u8((uint8_t)(number | (last ? 0x80 : 0))).u16le((uint16_t)data.size()).bytes(data);
        return b.payload();
    }
    double screenPsnr(int displayIndex, int x = 0, int y = 0) {
        return mpegtest::psnr(fb + y * SCREEN_WIDTH + x, SCREEN_WIDTH, clip.reference(displayIndex), clip.width,
                              clip.height);
    }
    // Loads a clip, starts the video and shows its first picture; returns
    // the clip's groups.
    std::vector<Bytes> startWithFirstPicture(const char *name = "intra_176x120_q3") {
        clip = mpegtest::load(name);
        std::vector<Bytes> groups = nimbra::splitVideoGroups(clip.bytes);
        play(nimbra::kVideoStart);
        EXPECT_EQ(upload(groups[0]), kNone);
        EXPECT_EQ(play(nimbra::kVideoDraw), kNone);
        return groups;
    }
    mpegtest::Stream clip;
};

// ------------------------------------------------------------- play command

// Malformed play and upload commands, and the reports they give. An unknown
// action, and a chunk, consume their bytes: the next command still runs.
TEST_F(VideoTest, MalformedCommandsAreReported) {
    struct Case {
        const char *what;
        Bytes payload;
        int result;
        Reports reports;
    } cases[] = {
        {"short play", {0x11, 0x03, 0x00, 0x00}, -1, {report(0x11, 0x01, 0xFF)}},
        {"unknown actions", nimbra::videoPlayCommand(0) + nimbra::videoPlayCommand(4), 0,
         {report(0x11, 0x01, 0x00), report(0x11, 0x01, 0x00)}},
        {"short upload", {0x13, 0x80, 0x01, 0x00}, -1, {report(0x13, 0x01, 0xFF)}},
        {"chunk length 0", {0x13, 0x80, 0x00, 0x00, 0xAA}, -1, {report(0x13, 0x01, 0x00)}},
        {"chunk longer than the payload", {0x13, 0x80, 0x02, 0x00, 0xAA}, -1, {report(0x13, 0x01, 0x00)}},
        {"two chunks in one payload", chunk(0, false, {1, 2, 3}) + chunk(1, true, {4}), 0, {}},
    };
    for (const Case &c : cases) {
        int32_t result = 0;
        EXPECT_EQ(testsupport::replies(c.payload, &result), c.reports) << c.what;
        EXPECT_EQ(result, c.result) << c.what;
    }
}

// ------------------------------------------------------- frame placement

// The first 320 x 240 picture drawn at each position and under each clip
// rectangle shows exactly the part of the picture drawn at the origin that
// falls inside both the screen and the clip (an empty clip draws nothing
// but still counts as drawn).
TEST_F(VideoTest, FramePlacementAndClipping) {
    std::vector<Bytes> groups = startWithFirstPicture("ip_320x240_q6");
    EXPECT_GE(screenPsnr(0), 45.0);
    std::vector<uint8_t> picture(fb, fb + FB_SIZE_BYTES);
    struct Case {
        int x, y, clip[4];
    } cases[] = {
        {-10, -100, {0, 0, 639, 399}}, {600, 300, {0, 0, 639, 399}}, {700, 0, {0, 0, 639, 399}},
        {-400, 0, {0, 0, 639, 399}},   {50, 20, {100, 50, 199, 149}}, {0, 0, {300, 0, 299, 399}},
    };
    for (const Case &c : cases) {
        GUI_SetClipRect(c.clip[0], c.clip[1], c.clip[2], c.clip[3]);
        play(nimbra::kVideoStart);
        upload(groups[0]);
        memset(fb, 0, FB_SIZE_BYTES);
        ASSERT_EQ(play(nimbra::kVideoDraw, 2 * c.x, 2 * c.y), kNone);
        for (int sy = 0; sy < SCREEN_HEIGHT; sy++)
            for (int sx = 0; sx < SCREEN_WIDTH; sx++) {
                int px = sx - c.x, py = sy - c.y;
                bool inside = px >= 0 && px < 320 && py >= 0 && py < 240 && sx >= c.clip[0] && sx <= c.clip[2] &&
                              sy >= c.clip[1] && sy <= c.clip[3];
                ASSERT_EQ(fb[sy * SCREEN_WIDTH + sx], inside ? picture[py * SCREEN_WIDTH + px] : 0)
                    << "screen " << sx << "," << sy << " drawn at " << c.x << "," << c.y;
            }
    }
}

// --------------------------------------------------------- upload command

TEST_F(VideoTest, ChunkOutOfOrderSkipsItsGroupAndTheNextOne) {
    std::vector<Bytes> groups = startWithFirstPicture();
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_GE(screenPsnr(0), 45.0);
    // The second picture's chunk 1 is lost on the way: each later chunk is
    // refused with its number, and chunk 0, already buffered, is dropped.
    std::vector<Bytes> chunks = nimbra::videoUploadCommands(groups[1], (groups[1].size() + 3) / 4);
    ASSERT_EQ(chunks.size(), 4u);
    chunks.erase(chunks.begin() + 1);
    EXPECT_EQ(runAll(chunks), (Reports{report(0x13, 0x01, 2), report(0x13, 0x01, 3)}));
    EXPECT_EQ(play(nimbra::kVideoDraw), kNoFrame);
    // The second picture sent again properly: accepted but not buffered.
    EXPECT_EQ(upload(groups[1]), kNone);
    EXPECT_EQ(play(nimbra::kVideoDraw), kNoFrame);
    // Buffering resumes with the next group: the third picture shows.
    EXPECT_EQ(upload(groups[2]), kNone);
    EXPECT_EQ(play(nimbra::kVideoDraw), kNone);
    EXPECT_GE(screenPsnr(2), 45.0);
}

TEST_F(VideoTest, ARepeatedChunkIsRefusedLikeALostOne) {
    std::vector<Bytes> groups = startWithFirstPicture();
    std::vector<Bytes> chunks = nimbra::videoUploadCommands(groups[1], 1000);
    ASSERT_GE(chunks.size(), 2u);
    EXPECT_EQ(runAll({chunks[0], chunks[0], chunks[1]}), (Reports{report(0x13, 0x01, 0), report(0x13, 0x01, 1)}));
    EXPECT_EQ(play(nimbra::kVideoDraw), kNoFrame);
}

TEST_F(VideoTest, BadLengthSkipsTheRestOfTheGroup) {
    std::vector<Bytes> groups = startWithFirstPicture();
    std::vector<Bytes> chunks = nimbra::videoUploadCommands(groups[1], 1000);
    runAll({chunks[0]});
    EXPECT_EQ(runAll({Bytes{0x13, 0x01, 0x00, 0x00, 0xAA}}), Reports{report(0x13, 0x01, 0x00)});
    // The remaining chunks are counted but not buffered.
    chunks.erase(chunks.begin());
    EXPECT_EQ(runAll(chunks), kNone);
    EXPECT_EQ(play(nimbra::kVideoDraw), kNoFrame);
    upload(groups[2]);
    EXPECT_EQ(play(nimbra::kVideoDraw), kNone);
    EXPECT_GE(screenPsnr(2), 45.0);
}

TEST_F(VideoTest, StartAndStopDropWhatIsBuffered) {
    clip = mpegtest::load("intra_176x120_q3");
    std::vector<Bytes> groups = nimbra::splitVideoGroups(clip.bytes);
    EXPECT_EQ(play(nimbra::kVideoDraw), kNoFrame) << "no decoder";
    EXPECT_EQ(play(nimbra::kVideoStop), kNone) << "stop while stopped is silent";
    // Uploads while stopped are accepted but not kept.
    EXPECT_EQ(upload(groups[0]), kNone);
    EXPECT_EQ(play(nimbra::kVideoStart), kNone);
    EXPECT_EQ(play(nimbra::kVideoDraw), kNoFrame);
    // A restart drops a buffered picture...
    upload(groups[0]);
    play(nimbra::kVideoStart);
    EXPECT_EQ(play(nimbra::kVideoDraw), kNoFrame);
    // ... and a half-received group: chunk 0 is expected again.
    runAll({chunk(0, false, {0, 0})});
    play(nimbra::kVideoStart);
    EXPECT_EQ(upload(groups[0]), kNone);
    EXPECT_EQ(play(nimbra::kVideoDraw), kNone);
}

// ------------------------------------------------------------- bad streams

TEST_F(VideoTest, OverflowingTheStreamBufferDropsEverythingBuffered) {
    std::vector<Bytes> groups = startWithFirstPicture();
    // A picture, then more than the buffer holds in one group: no report,
    // all of it dropped, so no picture to draw.
    upload(groups[1]);
    EXPECT_EQ(upload(Bytes(nimbra::kVideoStreamBufferBytes, 0x5A), 2000), kNone);
    EXPECT_EQ(play(nimbra::kVideoDraw), kNoFrame);
    // The stream recovers at the next picture.
    upload(groups[2]);
    EXPECT_EQ(play(nimbra::kVideoDraw), kNone);
    EXPECT_GE(screenPsnr(2), 45.0);
}

// ------------------------------------------------------------------- pool

TEST_F(VideoTest, StartTakesTheMarkAndStopReleasesToIt) {
    uint32_t top = GUI_AllocStart();
    EXPECT_FALSE(MPEG_IsRunning());
    EXPECT_EQ(MPEG_Start(), 0);
    EXPECT_TRUE(MPEG_IsRunning());
    EXPECT_EQ(allocToken, top);
    uint32_t decoderBytes = GUI_GetNumFreeBytes();
    EXPECT_LT(decoderBytes, POOL_SIZE_BYTES - top - 16384) << "the stream buffer comes from the pool";
    clip = mpegtest::load("ip_320x240_q6");
    upload(nimbra::splitVideoGroups(clip.bytes)[0]);
    play(nimbra::kVideoDraw);
    EXPECT_EQ(decoderBytes - GUI_GetNumFreeBytes(), 2u * 320 * 240 * 3 / 2) << "two frame stores";
    // A restart reuses the same memory.
    ASSERT_EQ(MPEG_Start(), 0);
    EXPECT_EQ(allocToken, top);
    EXPECT_EQ(GUI_GetNumFreeBytes(), decoderBytes);
    EXPECT_EQ(MPEG_Stop(), 0);
    EXPECT_FALSE(MPEG_IsRunning());
    EXPECT_EQ(GUI_AllocStart(), top);
}

TEST_F(VideoTest, StartWithoutPoolRoomIsReported) {
    GUI_AllocNoInit(GUI_GetNumFreeBytes() - 10000);  // room for less than the stream buffer
    uint32_t top = GUI_AllocStart();
    EXPECT_EQ(play(nimbra::kVideoStart), Reports{report(0x11, 0x02, 0x01)});
    EXPECT_FALSE(MPEG_IsRunning());
    EXPECT_EQ(GUI_AllocStart(), top);
    EXPECT_EQ(play(nimbra::kVideoDraw), kNoFrame);
}

TEST_F(VideoTest, DeviceResetStopsTheVideo) {
    play(nimbra::kVideoStart);
    ASSERT_TRUE(MPEG_IsRunning());
    testsupport::resetDevice(false);
    EXPECT_FALSE(MPEG_IsRunning());
    EXPECT_EQ(allocToken, 0u);
    EXPECT_EQ(GUI_GetNumFreeBytes(), POOL_SIZE_BYTES);
}

}  // namespace
