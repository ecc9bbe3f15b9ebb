// MPEG-1 video: the decoder alone on 320 x 240 clips (intra only; intra and
// predicted; with bidirectional pictures too), streamed a picture at a time
// as the host sends them, against ffmpeg decoding the same clips on one
// thread (bench/ffmpeg-decode.sh, run from here when ffmpeg is installed);
// and the device's own playback path on the demo clip.
#include <cstdio>

#include "bench/bench_support.h"
#include "codecs/mpeg.h"
#include "codecs/mpeg1_video.h"
#include "gui/GUI_Alloc.h"
#include "tools/hostlib/video_stream.h"

namespace {

using bench::Bytes;

// Larger than any one picture of the clips.
constexpr size_t kStreamBufferBytes = 65536;

const std::vector<Bytes> &clipGroups(const std::string &name) {
    static std::vector<std::pair<std::string, std::vector<Bytes>>> loaded;
    for (auto &entry : loaded) {
        if (entry.first == name) return entry.second;
    }
    Bytes clip = bench::sourceFile("bench/data/" + name + ".m1v");
    loaded.emplace_back(name, nimbra::splitVideoGroups(clip));
    return loaded.back().second;
}

// One pass over the clip per iteration, with a decoder made for it in the
// pool (as the device makes one per start).
void decodeClip(benchmark::State &state, const std::string &name) {
    const std::vector<Bytes> &groups = clipGroups(name);
    int64_t pictures = 0;
    for (auto _ : state) {
        uint32_t mark = GUI_AllocStart();
        plm_buffer_t *buffer = plm_buffer_create_with_capacity(kStreamBufferBytes);
        plm_video_t *video = buffer ? plm_video_create_with_buffer(buffer) : nullptr;
        if (!video) bench::fail("no room in the pool for the decoder");
        for (const Bytes &g : groups) {
            if (plm_buffer_write(buffer, g.data(), g.size()) != g.size()) bench::fail("a picture overflows the buffer");
            if (plm_video_decode(video)) pictures++;
        }
        GUI_AllocEnd(mark);
    }
    if (pictures != (int64_t)state.iterations() * (int64_t)groups.size()) {
        bench::fail(name + ": a picture did not decode");
    }
    state.SetItemsProcessed(pictures);
}

// ffmpeg's CPU time for one pass, measured by the script.
void ffmpegClip(benchmark::State &state, const std::string &name) {
    std::string command = std::string("'") + NIMBRA_SOURCE_DIR + "/bench/ffmpeg-decode.sh' '" + NIMBRA_SOURCE_DIR +
                          "/bench/data/" + name + ".m1v' 2>/dev/null";
    double seconds = 0;
    int pictures = 0;
    for (auto _ : state) {
        FILE *p = popen(command.c_str(), "r");
        char clip[64];
        double perSecond;
        bool ok = p && fscanf(p, "%63s %d %lf %lf", clip, &pictures, &seconds, &perSecond) == 4;
        if (p) pclose(p);
        if (!ok) {
            state.SkipWithError("ffmpeg is not installed or failed");
            break;
        }
        state.SetIterationTime(seconds);
    }
    state.SetItemsProcessed((int64_t)state.iterations() * pictures);
}

void BM_Intra(benchmark::State &state) { decodeClip(state, "intra_320x240"); }
void BM_IP(benchmark::State &state) { decodeClip(state, "ip_320x240"); }
void BM_IPB(benchmark::State &state) { decodeClip(state, "ipb_320x240"); }
BENCHMARK(BM_Intra)->Name("mpeg/decode/intra_320x240");
BENCHMARK(BM_IP)->Name("mpeg/decode/ip_320x240");
BENCHMARK(BM_IPB)->Name("mpeg/decode/ipb_320x240");

void BM_FfmpegIntra(benchmark::State &state) { ffmpegClip(state, "intra_320x240"); }
void BM_FfmpegIP(benchmark::State &state) { ffmpegClip(state, "ip_320x240"); }
void BM_FfmpegIPB(benchmark::State &state) { ffmpegClip(state, "ipb_320x240"); }
BENCHMARK(BM_FfmpegIntra)->Name("anchor/ffmpeg/intra_320x240")->UseManualTime()->Iterations(1);
BENCHMARK(BM_FfmpegIP)->Name("anchor/ffmpeg/ip_320x240")->UseManualTime()->Iterations(1);
BENCHMARK(BM_FfmpegIPB)->Name("anchor/ffmpeg/ipb_320x240")->UseManualTime()->Iterations(1);
NIMBRA_ANCHOR_MEASURED("mpeg/decode/intra_320x240", "anchor/ffmpeg/intra_320x240");
NIMBRA_ANCHOR_MEASURED("mpeg/decode/ip_320x240", "anchor/ffmpeg/ip_320x240");
NIMBRA_ANCHOR_MEASURED("mpeg/decode/ipb_320x240", "anchor/ffmpeg/ipb_320x240");

// The device's path: start, stream, decode and draw each picture, stop.
void BM_DevicePlayback(benchmark::State &state) {
    static const std::vector<Bytes> groups = nimbra::splitVideoGroups(bench::sourceFile("examples/clip.m1v"));
    for (auto _ : state) {
        if (MPEG_Start() != VIDEO_OK) bench::fail("no room in the pool for the decoder");
        for (const Bytes &g : groups) {
            MPEG_PushStreamData(g.data(), (uint32_t)g.size());
            if (MPEG_DrawFrame(224, 128) != VIDEO_OK) bench::fail("a picture of the demo clip did not draw");
        }
        MPEG_Stop();
    }
    state.SetItemsProcessed((int64_t)state.iterations() * (int64_t)groups.size());
}
BENCHMARK(BM_DevicePlayback)->Name("mpeg/device_playback_demo_clip");

}  // namespace
