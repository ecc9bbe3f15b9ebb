// A whole replay in-process: a dashboard frame (clear, ten lines of text, a
// dozen antialiased shapes, a cached PNG with alpha, copy to screen) run as
// records through the main loop's entry, with each frame written to
// /dev/null. The image is uploaded once, before timing.
#include <cmath>

#include "bench/bench_support.h"
#include "host/main.h"
#include "host/platform.h"
#include "tools/hostlib/nimbra_host.h"
#include "tools/hostlib/png_files.h"
#include "tools/hostlib/upload.h"

namespace {

using bench::Bytes;

constexpr uint8_t kIconSlot = 4;

// A 96 x 96 gauge icon: a ring of colour fading out at its edge.
Bytes iconPng() {
    const uint32_t size = 96;
    Bytes raw;
    for (uint32_t y = 0; y < size; y++) {
        raw.push_back(0);   // filter: none
        for (uint32_t x = 0; x < size; x++) {
            double d = std::hypot(x - 47.5, y - 47.5) / 48.0;
            double ring = 1.0 - std::fabs(d - 0.75) * 5.0;
            raw.push_back((uint8_t)(120 + 100 * std::sin(x * 0.1)));
            raw.push_back((uint8_t)(200 * d > 255 ? 255 : 200 * d));
            raw.push_back(90);
            raw.push_back((uint8_t)std::lround(255 * std::clamp(ring, 0.0, 1.0)));
        }
    }
    Bytes file(nimbra::kPngSignature, nimbra::kPngSignature + 8);
    nimbra::appendPngChunk(file, "IHDR", nimbra::pngHeaderData(size, size, 8, 6));
    nimbra::appendPngChunk(file, "IDAT", nimbra::zlibCompress(raw));
    nimbra::appendPngChunk(file, "IEND", Bytes{});
    return file;
}

// Half-pixel helpers for the shape commands.
int32_t H(int32_t pixels) { return 2 * pixels; }

Bytes dashboardFrame(uint8_t frameId) {
    nimbra::CommandBuilder b;
    b.clearRect(0, 0, H(640), H(400));
    b.setColor(0xFF101820);
    b.u8(0x0C).pair(H(0), H(0)).pair(H(639), H(399)).u8(0).u8(1);   // backdrop
    b.setColor(0xFFE0E0E0);
    const char *lines[10] = {"Speed 88 km/h", "Range 412 km",  "Battery 76 %",   "Outside 21.5 C", "Cabin 22.0 C",
                             "Trip 134.2 km", "Avg 16.1 kWh", "Tyres 2.4 bar", "Next: Exit 42",  "12:45"};
    for (int i = 0; i < 10; i++) {
        const std::string text = lines[i];
        b.u8(0x08).u8((uint8_t)(i % 3)).pair(H(20), H(20 + i * 36)).u8(0).u8((uint8_t)text.size()).text(text);
    }
    // A dozen antialiased shapes: gauges, bars, a needle, indicators.
    b.setColor(0xFF30A0FF);
    b.setPenStyle(H(4), 1, 0);
    b.u8(0x10).pair(H(420), H(150)).pair(H(90), H(90)).pair(0, 2 * 270);          // gauge arc
    b.u8(0x10).pair(H(560), H(300)).pair(H(50), H(50)).pair(0, 2 * 200);          // small gauge
    b.setColor(0xFFFF6040);
    b.setPenStyle(H(3), 1, 0);
    b.u8(0x0F).pair(H(420), H(150)).pair(H(480), H(90));                         // needle
    b.u8(0x0E).pair(H(420), H(150)).pair(H(10), H(10)).u8(0).u8(0x80);           // hub
    b.setColor(0xFF40D080);
    for (int i = 0; i < 4; i++) {
        b.u8(0x0C).pair(H(300 + i * 30), H(300)).pair(H(20), H(60 - i * 10)).u8((uint8_t)H(4)).u8(1);   // bars
    }
    b.setColor(0xFFFFD040);
    b.u8(0x0E).pair(H(600), H(40)).pair(H(14), H(14)).u8(0).u8(0x80);            // indicator
    b.u8(0x0E).pair(H(560), H(40)).pair(H(20), H(10)).u8(60).u8(0x80);           // rotated indicator
    b.u8(0x12).u8(3 | 0x80).pair(H(520), H(30)).pair(H(540), H(60)).pair(H(500), H(60));   // warning triangle
    b.setPenStyle(H(2), 0, 0);
    b.u8(0x0D).u8(5).pair(H(250), H(250)).pair(H(300), H(200)).pair(H(350), H(230)).pair(H(400), H(180))
        .pair(H(450), H(210));                                                     // trend line
    b.bytes(nimbra::drawImageCommand(kIconSlot, H(180), H(280)));
    b.copyToScreen(frameId);
    return nimbra::makeRecord(b.payload());
}

// Result reports (04 opcode code detail) that refuse something.
bool refusalIn(const Bytes &packets) {
    std::vector<nimbra::Packet> parsed;
    if (!nimbra::parsePackets(packets, parsed)) return true;
    for (const nimbra::Packet &p : parsed) {
        if (p.payload.size() == 4 && p.payload[0] == 0x04 && p.payload[2] != 0x00) return true;
    }
    return false;
}

Bytes capturedPackets;
void capturePacket(const uint8_t *bytes, size_t length) {
    capturedPackets.insert(capturedPackets.end(), bytes, bytes + length);
}

void BM_DashboardReplay(benchmark::State &state) {
    SIM_Sink savedFrames = SIM_frameSink, savedPackets = SIM_packetSink;
    SIM_packetSink = capturePacket;
    capturedPackets.clear();
    Bytes upload;
    std::string error;
    for (const Bytes &chunk : nimbra::loadImageCommands(kIconSlot, iconPng(), nimbra::kImagePng, {}, &error)) {
        nimbra::appendRecord(upload, chunk);
    }
    if (upload.empty()) bench::fail("the dashboard icon cannot be uploaded: " + error);
    SIM_RunRecordBytes(upload.data(), upload.size());
    Bytes frame = dashboardFrame(1);
    SIM_RunRecordBytes(frame.data(), frame.size());
    if (refusalIn(capturedPackets)) bench::fail("the device refused part of the dashboard");

    SIM_frameSink = bench::writeToDevNull;
    SIM_packetSink = savedPackets;
    for (auto _ : state) SIM_RunRecordBytes(frame.data(), frame.size());
    SIM_frameSink = savedFrames;
    state.SetItemsProcessed((int64_t)state.iterations());
}
BENCHMARK(BM_DashboardReplay)->Name("replay/dashboard_frame");

}  // namespace

namespace {

// Records that only show the frame: the replay loop and the frame output,
// against the plain conversion loop of frame_bench.cpp.
void BM_FrameOnlyReplay(benchmark::State &state) {
    nimbra::CommandBuilder b;
    b.copyToScreen(2);
    Bytes record = nimbra::makeRecord(b.payload());
    SIM_Sink saved = SIM_frameSink;
    SIM_frameSink = bench::writeToDevNull;
    for (auto _ : state) SIM_RunRecordBytes(record.data(), record.size());
    SIM_frameSink = saved;
    state.SetItemsProcessed((int64_t)state.iterations());
}
BENCHMARK(BM_FrameOnlyReplay)->Name("replay/frame_only");
NIMBRA_ANCHOR("replay/frame_only", "anchor/frame/plain_loop");
NIMBRA_ANCHOR("replay/dashboard_frame", "anchor/frame/plain_loop");

}  // namespace
