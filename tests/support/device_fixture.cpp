#include "tests/support/device_fixture.h"

#include <cstdio>
#include <sstream>

#include "commands/commandHandlerDraw.h"
#include "host/main.h"
#include "protocol/commandHandler.h"
#include "protocol/eventHandler.h"

namespace testsupport {

static std::vector<uint8_t> g_frames, g_packets;

static void _CaptureFrame(const uint8_t *bytes, size_t length) { g_frames.insert(g_frames.end(), bytes, bytes + length); }
static void _CapturePacket(const uint8_t *bytes, size_t length) {
    g_packets.insert(g_packets.end(), bytes, bytes + length);
}
static void _NoSleep() {}

std::vector<uint8_t> &capturedFrames() { return g_frames; }
std::vector<uint8_t> &capturedPackets() { return g_packets; }

Replies packets() {
    std::vector<nimbra::Packet> parsed;
    EXPECT_TRUE(nimbra::parsePackets(g_packets, parsed)) << "malformed packet stream";
    Replies out;
    for (auto &p : parsed) out.push_back(p.payload);
    return out;
}

std::vector<nimbra::Frame> frames() {
    size_t leftover = 0;
    auto f = nimbra::parseFrames(g_frames, &leftover);
    EXPECT_EQ(leftover, 0u) << "partial frame in output";
    return f;
}

void clearCaptures() {
    g_frames.clear();
    g_packets.clear();
}

void captureOutput() {
    SIM_frameSink = _CaptureFrame;
    SIM_packetSink = _CapturePacket;
}

void resetDevice(bool start) {
    if (logfd) {
        fclose(logfd);
        logfd = nullptr;
    }
    SIM_ResetDevice();
    captureOutput();
    SIM_sleepOneSecond = _NoSleep;
    clearCaptures();
    if (start) {
        SIM_StartDevice();
    } else {
        initDraw();
    }
}

int32_t run(const nimbra::Bytes &payload) { return handleCommand(payload.data(), (uint32_t)payload.size()); }
int32_t run(const nimbra::CommandBuilder &builder) { return run(builder.payload()); }

Replies replies(const std::vector<nimbra::Bytes> &payloads, int32_t *result) {
    clearCaptures();
    for (const nimbra::Bytes &p : payloads) {
        int32_t r = run(p);
        if (result) *result = r;
    }
    return packets();
}
Replies replies(const nimbra::Bytes &payload, int32_t *result) {
    return replies(std::vector<nimbra::Bytes>{payload}, result);
}
Replies replies(const nimbra::CommandBuilder &builder, int32_t *result) { return replies(builder.payload(), result); }

nimbra::Bytes report(uint8_t opcode, uint8_t code, uint8_t detail) { return {0x04, opcode, code, detail}; }

std::string describeRegion(const uint8_t *buffer, int stride, int x0, int y0, int w, int h) {
    std::ostringstream out;
    for (int y = y0; y < y0 + h; y++) {
        for (int x = x0; x < x0 + w; x++) {
            char cell[4];
            snprintf(cell, sizeof cell, "%02X ", buffer[(size_t)y * stride + x]);
            out << cell;
        }
        out << "\n";
    }
    return out.str();
}

LogCapture::LogCapture() { logfd = tmpfile(); }
LogCapture::~LogCapture() {
    if (logfd) fclose(logfd);
    logfd = nullptr;
}
std::string LogCapture::text() const {
    if (!logfd) return "";
    fflush(logfd);
    rewind(logfd);
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, logfd)) > 0) out.append(buf, n);
    return out;
}

nimbra::Bytes testData(const std::string &path) {
    nimbra::Bytes b = nimbra::readFile(std::string(NIMBRA_SOURCE_DIR) + "/tests/data/" + path);
    EXPECT_FALSE(b.empty()) << "missing test data " << path;
    return b;
}

}  // namespace testsupport
