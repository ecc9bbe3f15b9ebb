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

class VideoTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        memset(fb, 0, FB_SIZE_BYTES);
    }

    // Runs commands one payload each and returns the result reports they
    // caused (type, opcode, code, detail), clearing the captures.
    std::vector<Bytes> runAll(const std::vector<Bytes> &commands) {
        for (const Bytes &c : commands) testsupport::run(c);
        std::vector<Bytes> reports = testsupport::packets();
        testsupport::clearCaptures();
        return reports;
    }
    std::vector<Bytes> play(uint8_t action, int32_t xHalf = 0, int32_t yHalf = 0) {
        return runAll({nimbra::videoPlayCommand(action, xHalf, yHalf)});
    }
    std::vector<Bytes> upload(const Bytes &group, size_t chunkBytes = 1000) {
        return runAll(nimbra::videoUploadCommands(group, chunkBytes));
    }
    // One chunk with an explicit number and last-of-group bit.
    Bytes chunk(uint8_t number, bool last, const Bytes &data) {
        nimbra::CommandBuilder b;
        b.u8(0x13).u8((uint8_t)(number | (last ? 0x80 : 0))).u16le((uint16_t)data.size()).bytes(data);
        return b.payload();
    }
    double screenPsnr(const mpegtest::Stream &s, int displayIndex, int x, int y) {
        return mpegtest::psnr(fb + y * SCREEN_WIDTH + x, SCREEN_WIDTH, s.reference(displayIndex), s.width, s.height);
    }
};

Bytes report(uint8_t opcode, uint8_t code, uint8_t detail) { return {0x04, opcode, code, detail}; }

// ------------------------------------------------------------- play command

TEST_F(VideoTest, PlayRefusesShortCommandsAndUnknownActions) {
    EXPECT_EQ(testsupport::run(Bytes{0x11, 0x03, 0x00, 0x00}), -1);
    EXPECT_EQ(testsupport::packets(), std::vector<Bytes>{report(0x11, 0x01, 0xFF)});
    testsupport::clearCaptures();
    // An unknown action consumes its 5 bytes: the next command still runs.
    Bytes two = nimbra::videoPlayCommand(0);
    Bytes four = nimbra::videoPlayCommand(4);
    two.insert(two.end(), four.begin(), four.end());
    EXPECT_EQ(testsupport::run(two), 0);
    EXPECT_EQ(testsupport::packets(), (std::vector<Bytes>{report(0x11, 0x01, 0x00), report(0x11, 0x01, 0x00)}));
}

TEST_F(VideoTest, DrawWithoutDecoderOrFrameIsReported) {
    EXPECT_EQ(play(nimbra::kVideoDraw), std::vector<Bytes>{report(0x11, 0x02, 0x03)});
    EXPECT_EQ(play(nimbra::kVideoStart), std::vector<Bytes>());
    EXPECT_EQ(play(nimbra::kVideoDraw), std::vector<Bytes>{report(0x11, 0x02, 0x03)}) << "nothing buffered";
    EXPECT_EQ(play(nimbra::kVideoStop), std::vector<Bytes>());
    EXPECT_EQ(play(nimbra::kVideoStop), std::vector<Bytes>()) << "stop while stopped is silent";
    EXPECT_EQ(play(nimbra::kVideoDraw), std::vector<Bytes>{report(0x11, 0x02, 0x03)});
}

TEST_F(VideoTest, ClipPlaysFrameByFrameLikeTheIndependentDecoder) {
    mpegtest::Stream s = mpegtest::load("ipb_176x120_q4");
    std::vector<Bytes> groups = nimbra::splitVideoGroups(s.bytes);
    ASSERT_EQ(groups.size(), s.pictures.size());
    play(nimbra::kVideoStart);
    int lastReference = -1;
    for (size_t g = 0; g < groups.size(); g++) {
        ASSERT_EQ(upload(groups[g], 300), std::vector<Bytes>()) << "accepted chunks are not acknowledged";
        // At (20, 30) in pixels: 40, 60 in half pixels.
        ASSERT_EQ(play(nimbra::kVideoDraw, 40, 60), std::vector<Bytes>()) << "group " << g;
        if (s.pictures[g].type != 3) lastReference = s.pictures[g].displayIndex;
        EXPECT_GE(screenPsnr(s, lastReference, 20, 30), 45.0) << "group " << g;
    }
    // Nothing outside the frame's rectangle was touched.
    for (int y = 0; y < SCREEN_HEIGHT; y++) {
        for (int x = 0; x < SCREEN_WIDTH; x++) {
            bool inside = x >= 20 && x < 20 + s.width && y >= 30 && y < 30 + s.height;
            if (!inside) {
                ASSERT_EQ(fb[y * SCREEN_WIDTH + x], 0) << x << "," << y;
            }
        }
    }
    EXPECT_EQ(play(nimbra::kVideoDraw), std::vector<Bytes>{report(0x11, 0x02, 0x03)}) << "the clip is over";
}

// ------------------------------------------------------- frame placement

class VideoPlacementTest : public VideoTest {
protected:
    // Draws the first picture of the 320 x 240 clip at (x, y) pixels into a
    // cleared screen.
    void drawFirstAt(int x, int y) {
        play(nimbra::kVideoStart);
        upload(nimbra::splitVideoGroups(stream.bytes)[0]);
        memset(fb, 0, FB_SIZE_BYTES);
        ASSERT_EQ(play(nimbra::kVideoDraw, 2 * x, 2 * y), std::vector<Bytes>());
    }
    void SetUp() override {
        VideoTest::SetUp();
        stream = mpegtest::load("ip_320x240_q6");
        drawFirstAt(0, 0);
        picture.assign(fb, fb + FB_SIZE_BYTES);   // the picture at the origin
    }
    // The pixel the picture puts at screen (sx, sy) when drawn at (x, y), or
    // 0 (untouched) outside it.
    uint8_t expected(int x, int y, int sx, int sy, int x0 = 0, int y0 = 0, int x1 = 639, int y1 = 399) {
        int px = sx - x, py = sy - y;
        bool inside = px >= 0 && px < 320 && py >= 0 && py < 240 && sx >= x0 && sx <= x1 && sy >= y0 && sy <= y1;
        return inside ? picture[py * SCREEN_WIDTH + px] : 0;
    }
    void expectScreen(int x, int y, int x0 = 0, int y0 = 0, int x1 = 639, int y1 = 399) {
        for (int sy = 0; sy < SCREEN_HEIGHT; sy++) {
            for (int sx = 0; sx < SCREEN_WIDTH; sx++) {
                ASSERT_EQ(fb[sy * SCREEN_WIDTH + sx], expected(x, y, sx, sy, x0, y0, x1, y1))
                    << "screen " << sx << "," << sy << " drawn at " << x << "," << y;
            }
        }
    }
    mpegtest::Stream stream;
    std::vector<uint8_t> picture;
};

TEST_F(VideoPlacementTest, LeftOfTheScreenShowsTheRightPart) {
    EXPECT_GE(screenPsnr(stream, 0, 0, 0), 45.0);
    drawFirstAt(-10, 0);
    expectScreen(-10, 0);   // columns 10 to 319 at 0 to 309
}

TEST_F(VideoPlacementTest, RightEdgeShowsOnlyTheFirstColumns) {
    drawFirstAt(600, 0);
    expectScreen(600, 0);   // its first 40 columns
}

TEST_F(VideoPlacementTest, RowsOutsideTheScreenAreSkipped) {
    drawFirstAt(5, -100);
    expectScreen(5, -100);
    drawFirstAt(0, 300);
    expectScreen(0, 300);
    drawFirstAt(700, 0);
    expectScreen(700, 0);
    drawFirstAt(-400, 0);
    expectScreen(-400, 0);
}

TEST_F(VideoPlacementTest, ClipRectangleBoundsTheCopy) {
    GUI_SetClipRect(100, 50, 199, 149);
    drawFirstAt(50, 20);
    expectScreen(50, 20, 100, 50, 199, 149);
    // An empty clip rectangle draws nothing but still counts as drawn.
    GUI_SetClipRect(300, 0, 299, 399);
    drawFirstAt(0, 0);
    expectScreen(0, 0, 300, 0, 299, 399);
}

// --------------------------------------------------------- upload command

TEST_F(VideoTest, UploadRefusesShortCommandsAndBadLengths) {
    EXPECT_EQ(testsupport::run(Bytes{0x13, 0x80, 0x01, 0x00}), -1);
    EXPECT_EQ(testsupport::packets(), std::vector<Bytes>{report(0x13, 0x01, 0xFF)});
    testsupport::clearCaptures();
    EXPECT_EQ(testsupport::run(Bytes{0x13, 0x80, 0x00, 0x00, 0xAA}), -1) << "length 0";
    EXPECT_EQ(testsupport::run(Bytes{0x13, 0x80, 0x02, 0x00, 0xAA}), -1) << "longer than the payload";
    EXPECT_EQ(testsupport::packets(), (std::vector<Bytes>{report(0x13, 0x01, 0x00), report(0x13, 0x01, 0x00)}));
    testsupport::clearCaptures();
    // Two chunks in one payload: each consumes 4 + n bytes.
    Bytes two = chunk(0, false, {1, 2, 3});
    Bytes second = chunk(1, true, {4});
    two.insert(two.end(), second.begin(), second.end());
    EXPECT_EQ(testsupport::run(two), 0);
    EXPECT_TRUE(testsupport::packets().empty());
}

TEST_F(VideoTest, ChunksOutOfOrderSkipTheirGroupAndTheNextOne) {
    mpegtest::Stream s = mpegtest::load("intra_176x120_q3");
    std::vector<Bytes> groups = nimbra::splitVideoGroups(s.bytes);
    ASSERT_EQ(groups.size(), 3u);
    play(nimbra::kVideoStart);
    // A group numbered 0, 1, 2, 3 (last) is accepted.
    ASSERT_EQ(upload(groups[0], 2000), std::vector<Bytes>());
    ASSERT_EQ(play(nimbra::kVideoDraw), std::vector<Bytes>());
    EXPECT_GE(screenPsnr(s, 0, 0, 0), 45.0);

    // The second picture's group starting at chunk 1: each chunk is refused
    // with its number, and what was buffered of the group is dropped.
    Bytes &g1 = groups[1];
    size_t third = g1.size() / 3;
    std::vector<Bytes> bad = {chunk(1, false, Bytes(g1.begin(), g1.begin() + (long)third)),
                              chunk(2, false, Bytes(g1.begin() + (long)third, g1.begin() + 2 * (long)third)),
                              chunk(3, true, Bytes(g1.begin() + 2 * (long)third, g1.end()))};
    EXPECT_EQ(runAll(bad), (std::vector<Bytes>{report(0x13, 0x01, 1), report(0x13, 0x01, 2), report(0x13, 0x01, 3)}));
    // The second picture sent again properly: accepted but not buffered.
    EXPECT_EQ(upload(g1), std::vector<Bytes>());
    EXPECT_EQ(play(nimbra::kVideoDraw), std::vector<Bytes>{report(0x11, 0x02, 0x03)});
    // Buffering resumes with the next group: the third picture shows.
    EXPECT_EQ(upload(groups[2]), std::vector<Bytes>());
    EXPECT_EQ(play(nimbra::kVideoDraw), std::vector<Bytes>());
    EXPECT_GE(screenPsnr(s, 2, 0, 0), 45.0);
}

TEST_F(VideoTest, ChunkMissingInTheMiddleDropsTheWholeGroup) {
    mpegtest::Stream s = mpegtest::load("intra_176x120_q3");
    std::vector<Bytes> groups = nimbra::splitVideoGroups(s.bytes);
    play(nimbra::kVideoStart);
    upload(groups[0]);
    play(nimbra::kVideoDraw);
    std::vector<Bytes> chunks = nimbra::videoUploadCommands(groups[1], 1000);
    ASSERT_GE(chunks.size(), 3u);
    chunks.erase(chunks.begin() + 1);   // chunk 1 lost on the way
    std::vector<Bytes> reports = runAll(chunks);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports[0], report(0x13, 0x01, 2));
    // The first chunk that had been buffered is gone too: no picture.
    EXPECT_EQ(play(nimbra::kVideoDraw), std::vector<Bytes>{report(0x11, 0x02, 0x03)});
}

TEST_F(VideoTest, BadLengthSkipsTheRestOfTheGroup) {
    mpegtest::Stream s = mpegtest::load("intra_176x120_q3");
    std::vector<Bytes> groups = nimbra::splitVideoGroups(s.bytes);
    play(nimbra::kVideoStart);
    upload(groups[0]);
    play(nimbra::kVideoDraw);
    std::vector<Bytes> chunks = nimbra::videoUploadCommands(groups[1], 1000);
    runAll({chunks[0]});
    EXPECT_EQ(runAll({Bytes{0x13, 0x01, 0x00, 0x00, 0xAA}}), std::vector<Bytes>{report(0x13, 0x01, 0x00)});
    // The remaining chunks are counted but not buffered.
    chunks.erase(chunks.begin());
    EXPECT_EQ(runAll(chunks), std::vector<Bytes>());
    EXPECT_EQ(play(nimbra::kVideoDraw), std::vector<Bytes>{report(0x11, 0x02, 0x03)});
    upload(groups[2]);
    EXPECT_EQ(play(nimbra::kVideoDraw), std::vector<Bytes>());
    EXPECT_GE(screenPsnr(s, 2, 0, 0), 45.0);
}

TEST_F(VideoTest, UploadWhileStoppedIsAcceptedButNotKept) {
    mpegtest::Stream s = mpegtest::load("intra_176x120_q3");
    std::vector<Bytes> groups = nimbra::splitVideoGroups(s.bytes);
    EXPECT_EQ(upload(groups[0]), std::vector<Bytes>());
    play(nimbra::kVideoStart);
    EXPECT_EQ(play(nimbra::kVideoDraw), std::vector<Bytes>{report(0x11, 0x02, 0x03)});
}

TEST_F(VideoTest, RestartDropsBufferedData) {
    mpegtest::Stream s = mpegtest::load("intra_176x120_q3");
    std::vector<Bytes> groups = nimbra::splitVideoGroups(s.bytes);
    play(nimbra::kVideoStart);
    upload(groups[0]);
    play(nimbra::kVideoStart);
    EXPECT_EQ(play(nimbra::kVideoDraw), std::vector<Bytes>{report(0x11, 0x02, 0x03)});
    // Start also forgets a half-received group: chunk 0 is expected again.
    runAll({chunk(0, false, {0, 0})});
    play(nimbra::kVideoStart);
    EXPECT_EQ(upload(groups[0]), std::vector<Bytes>());
    EXPECT_EQ(play(nimbra::kVideoDraw), std::vector<Bytes>());
}

// ------------------------------------------------------------- bad streams

TEST_F(VideoTest, OverflowingTheStreamBufferDropsEverythingBuffered) {
    mpegtest::Stream s = mpegtest::load("intra_176x120_q3");
    std::vector<Bytes> groups = nimbra::splitVideoGroups(s.bytes);
    play(nimbra::kVideoStart);
    upload(groups[0]);
    play(nimbra::kVideoDraw);
    // A picture, then more than the buffer holds in one group: no report,
    // all of it dropped, so no picture to draw.
    upload(groups[1]);
    Bytes flood(nimbra::kVideoStreamBufferBytes, 0x5A);
    EXPECT_EQ(upload(flood, 2000), std::vector<Bytes>());
    EXPECT_EQ(play(nimbra::kVideoDraw), std::vector<Bytes>{report(0x11, 0x02, 0x03)});
    // The stream recovers at the next picture.
    upload(groups[2]);
    EXPECT_EQ(play(nimbra::kVideoDraw), std::vector<Bytes>());
    EXPECT_GE(screenPsnr(s, 2, 0, 0), 45.0);
}

TEST_F(VideoTest, SequenceHeaderTooLargeForTheDeviceIsRefused) {
    // 640 x 400: 768000 bytes at three a pixel.
    Bytes header = {0x00, 0x00, 0x01, 0xB3, 0x28, 0x01, 0x90, 0x14, 0xFF, 0xFF, 0xE0, 0x18};
    mpegtest::Stream s = mpegtest::load("ip_176x120_pan_q4");
    Bytes group = nimbra::splitVideoGroups(s.bytes)[0];
    std::copy(header.begin(), header.end(), group.begin());   // the clip's own header, resized
    play(nimbra::kVideoStart);
    uint32_t freeBefore = GUI_GetNumFreeBytes();
    upload(group);
    EXPECT_EQ(play(nimbra::kVideoDraw), std::vector<Bytes>{report(0x11, 0x02, 0x03)});
    EXPECT_EQ(GUI_GetNumFreeBytes(), freeBefore);
}

TEST_F(VideoTest, PartlyBufferedPictureIsNotShown) {
    mpegtest::Stream s = mpegtest::load("ip_320x240_q6");
    std::vector<Bytes> groups = nimbra::splitVideoGroups(s.bytes);
    play(nimbra::kVideoStart);
    upload(groups[0]);
    play(nimbra::kVideoDraw);
    std::vector<uint8_t> shown(fb, fb + FB_SIZE_BYTES);
    upload(Bytes(groups[1].begin(), groups[1].begin() + (long)groups[1].size() / 2));
    EXPECT_EQ(play(nimbra::kVideoDraw), std::vector<Bytes>{report(0x11, 0x02, 0x03)});
    EXPECT_EQ(0, memcmp(fb, shown.data(), FB_SIZE_BYTES));
}

// Random runs of video commands over damaged real streams (run under the
// sanitizers too): whatever arrives, the pool below the video's mark and the
// pool's level after a stop stay as they were.
TEST_F(VideoTest, RandomCommandRunsKeepScreenAndPoolIntact) {
    std::mt19937 rng(11);
    mpegtest::Stream s = mpegtest::load("ipb_176x120_q4");
    std::vector<Bytes> groups = nimbra::splitVideoGroups(s.bytes);
    uint8_t *below = (uint8_t *)GUI_AllocNoInit(64);
    memset(below, 0x77, 64);
    uint32_t top = GUI_AllocStart();
    for (int step = 0; step < 400; step++) {
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
            testsupport::run(raw);
            testsupport::clearCaptures();
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
    mpegtest::Stream s = mpegtest::load("ip_320x240_q6");
    upload(nimbra::splitVideoGroups(s.bytes)[0]);
    play(nimbra::kVideoDraw);
    EXPECT_EQ(decoderBytes - GUI_GetNumFreeBytes(), 2u * 320 * 240 * 3 / 2) << "two frame stores";
    EXPECT_EQ(MPEG_Stop(), 0);
    EXPECT_FALSE(MPEG_IsRunning());
    EXPECT_EQ(GUI_AllocStart(), top);
}

TEST_F(VideoTest, RestartReusesTheSameMemory) {
    ASSERT_EQ(MPEG_Start(), 0);
    uint32_t mark = allocToken;
    uint32_t freeAfterStart = GUI_GetNumFreeBytes();
    mpegtest::Stream s = mpegtest::load("intra_176x120_q3");
    upload(nimbra::splitVideoGroups(s.bytes)[0]);
    play(nimbra::kVideoDraw);
    ASSERT_EQ(MPEG_Start(), 0);
    EXPECT_EQ(allocToken, mark);
    EXPECT_EQ(GUI_GetNumFreeBytes(), freeAfterStart);
}

// A picture kept in the pool by another holder (the slot 0 picture) before
// the video starts lies below the video's mark and survives it all.
TEST_F(VideoTest, HolderBelowTheVideoSurvivesStartStopAndRestart) {
    uint8_t *picture = (uint8_t *)GUI_AllocNoInit(5000);
    memset(picture, 0x3C, 5000);
    uint32_t top = GUI_AllocStart();
    mpegtest::Stream s = mpegtest::load("ip_320x240_q6");
    play(nimbra::kVideoStart);
    upload(nimbra::splitVideoGroups(s.bytes)[0]);
    play(nimbra::kVideoDraw);
    play(nimbra::kVideoStart);
    play(nimbra::kVideoStop);
    play(nimbra::kVideoStop);
    EXPECT_EQ(GUI_AllocStart(), top);
    for (int i = 0; i < 5000; i++) ASSERT_EQ(picture[i], 0x3C);
}

// Stop while stopped must not release memory taken after the last stop
// (such as a slot 0 picture uploaded then).
TEST_F(VideoTest, StopWhileStoppedReleasesNothing) {
    uint32_t start = GUI_AllocStart();
    play(nimbra::kVideoStop);   // never started
    EXPECT_EQ(GUI_AllocStart(), start);
    play(nimbra::kVideoStart);
    play(nimbra::kVideoStop);
    GUI_AllocNoInit(4000);      // a holder after the stop
    uint32_t top = GUI_AllocStart();
    EXPECT_EQ(play(nimbra::kVideoStop), std::vector<Bytes>());
    EXPECT_EQ(GUI_AllocStart(), top);
}

TEST_F(VideoTest, StartWithoutPoolRoomIsReported) {
    GUI_AllocNoInit(GUI_GetNumFreeBytes() - 10000);   // room for less than the stream buffer
    uint32_t top = GUI_AllocStart();
    EXPECT_EQ(play(nimbra::kVideoStart), std::vector<Bytes>{report(0x11, 0x02, 0x01)});
    EXPECT_FALSE(MPEG_IsRunning());
    EXPECT_EQ(GUI_AllocStart(), top);
    EXPECT_EQ(play(nimbra::kVideoDraw), std::vector<Bytes>{report(0x11, 0x02, 0x03)});
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
