// The reset seam and the output seam as the fuzz targets use them: a run
// after any other run must behave as a run after start-up (otherwise a
// finding could not be replayed on its own), the fuzz targets' quicker
// restart must give the same device as a start, and a discarded frame is
// counted without being built.
#include <gtest/gtest.h>

#include <cstring>

#include "cache/commandHandlerCache.h"
#include "cache/flash.h"
#include "codecs/mpeg.h"
#include "fuzz/fuzz_device.h"
#include "gui/GUIDRV_Lin_8.h"
#include "gui/GUI_AALib.h"
#include "gui/GUI_Alloc.h"
#include "host/GUI_Driver.h"
#include "host/main.h"
#include "protocol/commandHandler.h"
#include "protocol/eventHandler.h"
#include "tests/support/device_fixture.h"
#include "tools/hostlib/handshake.h"
#include "tools/hostlib/upload.h"
#include "tools/hostlib/video_stream.h"
#include "tools/hostlib/zlib_blocks.h"

namespace {

using nimbra::Bytes;
using nimbra::CommandBuilder;

// Commands whose replies and frames depend on state that other runs leave
// behind: fonts and images in the cache, the slot 0 picture, the
// compressed-block stream, video, authentication, the handshake counter,
// the clip rectangle, pen and colour, grey mode, the seek gate and the
// status word.
Bytes probeStream() {
    std::vector<Bytes> c;
    auto add = [&](const CommandBuilder &b) { c.push_back(b.payload()); };
    add(CommandBuilder().u8(0x16).u8(1).u8(255).u8(0x16).u8(2).u8(255));           // cache maps
    add(CommandBuilder().systemInfo(1).systemInfo(2));                             // status word, auth
    c.push_back(nimbra::handshakeChunk(1, 0, 300, Bytes(100, 7).data(), 100));     // counter check
    add(CommandBuilder().u8(0x0A).u8(0x81).u16le(1).u8(0x78));                     // block while broken
    c.push_back(nimbra::videoPlayCommand(nimbra::kVideoDraw, 20, 20));             // no decoder
    c.push_back(nimbra::drawImageCommand(0, 10, 10));
    c.push_back(nimbra::drawImageCommand(6, 10, 10));
    add(CommandBuilder().u8(0x08).u8(7).pair(40, 600).u8(0).u8(3).text("ABE"));    // font slot 7
    add(CommandBuilder().u8(0x0F).pair(0, 0).pair(1279, 799));                     // pen, colour, clip
    add(CommandBuilder().u8(0x0E).pair(640, 400).pair(300, 300).u16le(0x8000));
    add(CommandBuilder().u8(0x08).u8(1).pair(640, 100).u8(1).u8(5).text("Nimbr"));
    add(CommandBuilder().u8(0x07).u8(2).u16le(0).u16le(0).u8(0));                  // logo offset
    add(CommandBuilder().copyToScreen(1));
    Bytes stream;
    for (const Bytes &command : c) nimbra::appendRecord(stream, command);
    return stream;
}

// A run that changes every kind of state the probe looks at, and leaves a
// video decoder and a slot 0 picture holding the pool.
Bytes busyStream() {
    Bytes stream = nimbra::readFile(std::string(NIMBRA_SOURCE_DIR) + "/examples/demo.rec");
    EXPECT_FALSE(stream.empty());
    stream.resize(stream.size() - 10);   // without its end-of-stream record
    Bytes tail;
    std::vector<Bytes> c;
    auto add = [&](const CommandBuilder &b) { c.push_back(b.payload()); };
    add(CommandBuilder().setColor(0xFF00FF00).setPenStyle(40, 1, 2).setSessionParams(100, -60));
    add(CommandBuilder().u8(0x18).pair(100, 100).pair(400, 300));
    add(CommandBuilder().enableDevice(19, 0, 1).seekTo(0x7FFFFFFF));
    add(CommandBuilder().u8(0x33));   // status bit 5
    c.push_back(nimbra::handshakeChunk(1000, 0, 300, Bytes(50, 1).data(), 50));
    nimbra::ZlibBlockWriter writer(9);
    c.push_back(writer.block(CommandBuilder().setColor(0xFFFFFFFF).payload(), false));
    c.push_back(nimbra::videoPlayCommand(nimbra::kVideoStart));
    for (const Bytes &command : c) nimbra::appendRecord(stream, command);
    return stream;
}

// Every record of the device that other modules can see, by name.
struct StateView {
    const char *name;
    const void *at;
    size_t size;
};
#define STATE(v) StateView{#v, &(v), sizeof(v)}
const StateView kVisibleState[] = {
    STATE(running),          STATE(save_frame),       STATE(mtu),          STATE(processedBytes),
    STATE(__FLASH),          STATE(orvDynData),       STATE(orvConstData), STATE(packet_cache),
    STATE(fontCacheAddress), STATE(imageCacheAddress), STATE(loadedfont),  STATE(memoryImageEntry),
    STATE(memDeviceMemory),  STATE(scratch),          STATE(orvState),     STATE(frame_counter),
    STATE(seekTo),           STATE(palette_type),     STATE(GUI_Context),  STATE(pDevice),
    STATE(ALLOC_buffer_idx), STATE(fb),               STATE(lineOpacityBuffer), STATE(allocToken),
};
#undef STATE

std::vector<Bytes> visibleState() {
    std::vector<Bytes> out;
    for (const StateView &v : kVisibleState) {
        const uint8_t *p = static_cast<const uint8_t *>(v.at);
        out.emplace_back(p, p + v.size);
    }
    return out;
}

class ResetSeam : public ::testing::Test {
protected:
    // Output of a started device that runs `stream`.
    std::pair<Bytes, Bytes> runFromStart(const Bytes &stream) {
        testsupport::resetDevice(true);
        return runStarted(stream);
    }
    std::pair<Bytes, Bytes> runStarted(const Bytes &stream) {
        testsupport::clearCaptures();
        SIM_RunRecordBytes(stream.data(), stream.size());
        return {testsupport::capturedFrames(), testsupport::capturedPackets()};
    }
};

TEST_F(ResetSeam, ARunAfterAnyOtherBehavesAsAfterStartUp) {
    const Bytes probe = probeStream();
    const auto fresh = runFromStart(probe);
    ASSERT_FALSE(fresh.first.empty());
    ASSERT_FALSE(fresh.second.empty());

    runFromStart(busyStream());
    ASSERT_NE(ALLOC_buffer_idx, 0u) << "the busy run should leave the pool held";
    const auto again = runFromStart(probe);
    EXPECT_TRUE(again.first == fresh.first) << "frames differ after another run";
    EXPECT_TRUE(again.second == fresh.second) << "replies differ after another run";
}

TEST_F(ResetSeam, TheFuzzTargetsRestartGivesTheStartedDevice) {
    testsupport::resetDevice(true);
    const std::vector<Bytes> started = visibleState();
    const Bytes probe = probeStream();
    const auto fresh = runStarted(probe);

    // The first restart may start for real; the second restores.
    fuzz::restartDevice();
    testsupport::clearCaptures();
    const Bytes busy = busyStream();
    SIM_RunRecordBytes(busy.data(), busy.size());
    fuzz::restartDevice();
    const std::vector<Bytes> restored = visibleState();
    for (size_t i = 0; i < started.size(); i++) {
        EXPECT_TRUE(restored[i] == started[i]) << kVisibleState[i].name << " differs from a started device's";
    }
    testsupport::captureOutput();
    const auto again = runStarted(probe);
    EXPECT_TRUE(again.first == fresh.first) << "frames differ after the fuzz restart";
    EXPECT_TRUE(again.second == fresh.second) << "replies differ after the fuzz restart";
}

TEST_F(ResetSeam, DiscardedFramesAreCountedButNotBuilt) {
    testsupport::resetDevice(true);
    SIM_frameSink = SIM_DiscardOutput;
    memset(frame, 0x5A, 8);
    const int32_t shown = frame_counter;
    testsupport::run(CommandBuilder().copyToScreen(7));
    EXPECT_EQ(frame_counter, shown + 1);
    EXPECT_EQ(frame[0], 0x5A);
    EXPECT_EQ(frame[7], 0x5A);
    // The reply still goes out.
    ASSERT_EQ(testsupport::packets().size(), 1u);
    EXPECT_EQ(testsupport::packets()[0], Bytes({0x00, 7}));
}

}  // namespace
