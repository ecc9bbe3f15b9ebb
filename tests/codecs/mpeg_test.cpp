// Video playback through its commands: the reports of play and upload, the
// grouping of chunks, where frames land on screen, and the pool that the
// decoder shares with the slot 0 picture.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

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

Bytes report(uint8_t opcode, uint8_t code, uint8_t detail) { return {0x04, opcode, code, detail}; }
const Reports kNone;
const Reports kNoFrame = {report(0x11, 0x02, 0x03)};

class VideoTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        memset(fb, 0, FB_SIZE_BYTES);
    }

    // Runs commands one payload each and returns the result reports they
    // caused (type, opcode, code, detail), clearing the captures.
    Reports runAll(const std::vector<Bytes> &commands) {
        for (const Bytes &c : commands) testsupport::run(c);
        Reports reports = testsupport::packets();
        testsupport::clearCaptures();
        return reports;
    }
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
    auto cat = [](Bytes a, const Bytes &b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    struct Case {
        const char *what;
        Bytes payload;
        int result;
        Reports reports;
    } cases[] = {
        {"short play", {0x11, 0x03, 0x00, 0x00}, -1, {report(0x11, 0x01, 0xFF)}},
        {"unknown actions", cat(nimbra::videoPlayCommand(0), nimbra::videoPlayCommand(4)), 0,
         {report(0x11, 0x01, 0x00), report(0x11, 0x01, 0x00)}},
        {"short upload", {0x13, 0x80, 0x01, 0x00}, -1, {report(0x13, 0x01, 0xFF)}},
        {"chunk length 0", {0x13, 0x80, 0x00, 0x00, 0xAA}, -1, {report(0x13, 0x01, 0x00)}},
        {"chunk longer than the payload", {0x13, 0x80, 0x02, 0x00, 0xAA}, -1, {report(0x13, 0x01, 0x00)}},
        {"two chunks in one payload", cat(chunk(0, false, {1, 2, 3}), chunk(1, true, {4})), 0, {}},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(testsupport::run(c.payload), c.result) << c.what;
        EXPECT_EQ(testsupport::packets(), c.reports) << c.what;
        testsupport::clearCaptures();
    }
}

TEST_F(VideoTest, ClipPlaysFrameByFrameLikeTheIndependentDecoder) {
    clip = mpegtest::load("ipb_176x120_q4");
    std::vector<Bytes> groups = nimbra::splitVideoGroups(clip.bytes);
    ASSERT_EQ(groups.size(), clip.pictures.size());
    play(nimbra::kVideoStart);
    int lastReference = -1;
    for (size_t g = 0; g < groups.size(); g++) {
        ASSERT_EQ(upload(groups[g], 300), kNone) << "accepted chunks are not acknowledged";
        // At (20, 30) in pixels: 40, 60 in half pixels.
        ASSERT_EQ(play(nimbra::kVideoDraw, 40, 60), kNone) << "group " << g;
        if (clip.pictures[g].type != 3) lastReference = clip.pictures[g].displayIndex;
        EXPECT_GE(screenPsnr(lastReference, 20, 30), 45.0) << "group " << g;
    }
    // Nothing outside the frame's rectangle was touched.
    for (int y = 0; y < SCREEN_HEIGHT; y++) {
        for (int x = 0; x < SCREEN_WIDTH; x++) {
            if (x < 20 || x >= 20 + clip.width || y < 30 || y >= 30 + clip.height) {
                ASSERT_EQ(fb[y * SCREEN_WIDTH + x], 0) << x << "," << y;
            }
        }
    }
    EXPECT_EQ(play(nimbra::kVideoDraw), kNoFrame) << "the clip is over";
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
        {-10, 0, {0, 0, 639, 399}},  {600, 0, {0, 0, 639, 399}},    {5, -100, {0, 0, 639, 399}},
        {0, 300, {0, 0, 639, 399}},  {700, 0, {0, 0, 639, 399}},    {-400, 0, {0, 0, 639, 399}},
        {50, 20, {100, 50, 199, 149}}, {0, 0, {300, 0, 299, 399}},
    };
    for (const Case &c : cases) {
        GUI_SetClipRect(c.clip[0], c.clip[1], c.clip[2], c.clip[3]);
        play(nimbra::kVideoStart);
        upload(groups[0]);
        memset(fb, 0, FB_SIZE_BYTES);
        ASSERT_EQ(play(nimbra::kVideoDraw, 2 * c.x, 2 * c.y), kNone);
        for (int sy = 0; sy < SCREEN_HEIGHT; sy++) {
            for (int sx = 0; sx < SCREEN_WIDTH; sx++) {
                int px = sx - c.x, py = sy - c.y;
                bool inside = px >= 0 && px < 320 && py >= 0 && py < 240 && sx >= c.clip[0] && sx <= c.clip[2] &&
                              sy >= c.clip[1] && sy <= c.clip[3];
                ASSERT_EQ(fb[sy * SCREEN_WIDTH + sx], inside ? picture[py * SCREEN_WIDTH + px] : 0)
                    << "screen " << sx << "," << sy << " drawn at " << c.x << "," << c.y;
            }
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

// A draw sent before all of a picture has arrived, cut inside a slice or at
// a slice boundary, shows the last complete picture again without a report;
// the picture is drawn once the rest of its group has arrived.
TEST_F(VideoTest, PartlyBufferedPictureShowsTheLastCompleteOne) {
    for (bool atSliceBoundary : {false, true}) {
        SCOPED_TRACE(atSliceBoundary ? "cut at a slice boundary" : "cut inside a slice");
        testsupport::resetDevice(true);
        testsupport::clearCaptures();
        std::vector<Bytes> groups = startWithFirstPicture("ip_320x240_q6");
        const Bytes &second = groups[1];
        const size_t cut = atSliceBoundary ? mpegtest::lastSliceStart(second) : second.size() / 2 + 1;
        ASSERT_GT(cut, second.size() / 4);
        memset(fb, 0, FB_SIZE_BYTES);
        EXPECT_EQ(upload(Bytes(second.begin(), second.begin() + (long)cut)), kNone);
        EXPECT_EQ(play(nimbra::kVideoDraw), kNone);
        EXPECT_GE(screenPsnr(0), 45.0);
        EXPECT_EQ(upload(Bytes(second.begin() + (long)cut, second.end())), kNone);
        EXPECT_EQ(play(nimbra::kVideoDraw), kNone);
        EXPECT_GE(screenPsnr(1), 45.0);
    }
}

// Random runs of video commands over damaged real streams (run under the
// sanitizers too): whatever arrives, the pool below the video's mark and the
// pool's level after a stop stay as they were.
TEST_F(VideoTest, RandomCommandRunsKeepScreenAndPoolIntact) {
    std::mt19937 rng(11);
    std::vector<Bytes> groups = nimbra::splitVideoGroups(mpegtest::load("ipb_176x120_q4").bytes);
    uint8_t *below = (uint8_t *)GUI_AllocNoInit(64);
    memset(below, 0x77, 64);
    uint32_t top = GUI_AllocStart();
    for (int step = 0; step < 300; step++) {
        switch (rng() % 8) {
        case 0:
            play(nimbra::kVideoStart);
            break;
        case 1:
            if (rng() % 4 == 0) play(nimbra::kVideoStop);
            break;
        case 2:
        case 3: {
            Bytes g = groups[rng() % groups.size()];
            for (int k = (int)(rng() % 4); k > 0; k--) g[rng() % g.size()] = (uint8_t)rng();
            if (rng() % 5 == 0) g.resize(rng() % g.size() + 1);
            std::vector<Bytes> chunks = nimbra::videoUploadCommands(g, 1 + rng() % 2000);
            if (!chunks.empty() && rng() % 6 == 0) chunks.erase(chunks.begin() + (long)(rng() % chunks.size()));
            runAll(chunks);
            break;
        }
        case 4: {
            Bytes raw(1 + rng() % 40);
            for (auto &v : raw) v = (uint8_t)rng();
            raw[0] = rng() % 2 ? 0x13 : 0x11;
            runAll({raw});
            break;
        }
        default:
            play(nimbra::kVideoDraw, 2 * (int)(rng() % (640 - 176)), 2 * (int)(rng() % (400 - 120)));
            break;
        }
        ASSERT_GE(GUI_AllocStart(), top) << "step " << step;
    }
    play(nimbra::kVideoStop);
    EXPECT_EQ(GUI_AllocStart(), top);
    for (int i = 0; i < 64; i++) ASSERT_EQ(below[i], 0x77);
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

// A picture kept in the pool by another holder (the slot 0 picture) before
// the video starts lies below the video's mark and survives it all; one
// taken after a stop survives a stop while stopped.
TEST_F(VideoTest, HoldersOutsideTheVideoSurviveStartAndStop) {
    uint8_t *picture = (uint8_t *)GUI_AllocNoInit(5000);
    memset(picture, 0x3C, 5000);
    uint32_t top = GUI_AllocStart();
    play(nimbra::kVideoStop);  // never started
    EXPECT_EQ(GUI_AllocStart(), top);
    startWithFirstPicture("ip_320x240_q6");
    play(nimbra::kVideoStart);
    play(nimbra::kVideoStop);
    play(nimbra::kVideoStop);
    EXPECT_EQ(GUI_AllocStart(), top);
    for (int i = 0; i < 5000; i++) ASSERT_EQ(picture[i], 0x3C);
    GUI_AllocNoInit(4000);
    top = GUI_AllocStart();
    EXPECT_EQ(play(nimbra::kVideoStop), kNone);
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
