// Frame export: the demo's frames as palette PNG files (against RGB PNGs at
// libpng's default settings, as frames were written before), as an animated
// GIF, and the steps every export shares (reading an output frame back into
// indices, shrinking a frame for a thumbnail). The frames are the demo's,
// run once in-process; each iteration writes all of them, so the rates are
// frames per second.
#include <cstdio>
#include <filesystem>
#include <png.h>

#include "bench/bench_support.h"
#include "host/main.h"
#include "host/platform.h"
#include "tools/export/frame_pictures.h"
#include "tools/export/gif_export.h"
#include "tools/hostlib/palette_png.h"
#include "tools/run/recording_run.h"

namespace {

namespace fs = std::filesystem;

struct Collect : nimbra::RunObserver {
    std::vector<nimbra::IndexedFrame> frames;
    void frame(const nimbra::IndexedFrame &f) override { frames.push_back(f); }
};

// The demo's frames, run once.
const std::vector<nimbra::IndexedFrame> &demoFrames() {
    static std::vector<nimbra::IndexedFrame> frames = [] {
        const bench::Bytes recording = bench::sourceFile("examples/demo.rec");
        Collect collect;
        nimbra::RunSummary summary;
        std::string error;
        nimbra::RunOptions options;
        options.log = false;
        if (!nimbra::runRecording(recording.data(), recording.size(), collect, options, summary, error))
            bench::fail(error);
        // The other benchmarks expect the device as it starts.
        SIM_ResetDevice();
        SIM_StartDevice();
        return collect.frames;
    }();
    return frames;
}

std::string scratchDir(const std::string &name) {
    const fs::path dir = fs::temp_directory_path() / ("nimbra-bench-" + name);
    fs::create_directories(dir);
    return dir.string();
}

void BM_PaletteFramePngs(benchmark::State &state) {
    const auto &frames = demoFrames();
    const std::string dir = scratchDir("png");
    std::string error;
    for (auto _ : state) {
        for (const auto &f : frames) {
            if (!nimbra::writeFramePalettePng(f, dir + "/frame_" + std::to_string(f.number) + ".png", error))
                bench::fail(error);
        }
    }
    fs::remove_all(dir);
    state.SetItemsProcessed((int64_t)(state.iterations() * frames.size()));
}
BENCHMARK(BM_PaletteFramePngs)->Name("export/png/demo_frames")->Unit(benchmark::kMillisecond);

// The anchor: each frame as an RGB PNG through libpng at its defaults.
void BM_RgbFramePngs(benchmark::State &state) {
    const auto &frames = demoFrames();
    const std::string dir = scratchDir("rgb");
    std::vector<uint8_t> row(nimbra::kScreenWidth * 3);
    for (auto _ : state) {
        for (const auto &f : frames) {
            FILE *out = fopen((dir + "/frame_" + std::to_string(f.number) + ".png").c_str(), "wb");
            png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
            png_infop info = png_create_info_struct(png);
            if (!out || !png || !info || setjmp(png_jmpbuf(png))) bench::fail("cannot write an RGB PNG");
            png_init_io(png, out);
            png_set_IHDR(png, info, nimbra::kScreenWidth, nimbra::kScreenHeight, 8, PNG_COLOR_TYPE_RGB,
                         PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
            png_write_info(png, info);
            const nimbra::Palette &palette = nimbra::paletteOf(f.mode);
            for (int y = 0; y < nimbra::kScreenHeight; y++) {
                for (int x = 0; x < nimbra::kScreenWidth; x++) {
                    const nimbra::Rgb c = palette[f.at(x, y)];
                    row[x * 3] = c.r;
                    row[x * 3 + 1] = c.g;
                    row[x * 3 + 2] = c.b;
                }
                png_write_row(png, row.data());
            }
            png_write_end(png, nullptr);
            png_destroy_write_struct(&png, &info);
            fclose(out);
        }
    }
    fs::remove_all(dir);
    state.SetItemsProcessed((int64_t)(state.iterations() * frames.size()));
}
BENCHMARK(BM_RgbFramePngs)->Name("anchor/png/rgb_default")->Unit(benchmark::kMillisecond);
NIMBRA_ANCHOR("export/png/demo_frames", "anchor/png/rgb_default");

void BM_Gif(benchmark::State &state) {
    const auto &frames = demoFrames();
    const std::string path = scratchDir("gif") + "/demo.gif";
    std::string error;
    for (auto _ : state) {
        nimbra::GifExport gif;
        if (!gif.open(path, nimbra::GifOptions{}, error)) bench::fail(error);
        for (const auto &f : frames)
            if (!gif.add(f, error)) bench::fail(error);
        if (!gif.finish(error)) bench::fail(error);
    }
    fs::remove_all(fs::path(path).parent_path());
    state.SetItemsProcessed((int64_t)(state.iterations() * frames.size()));
}
BENCHMARK(BM_Gif)->Name("export/gif/demo_frames")->Unit(benchmark::kMillisecond);

// Reading an output frame back into indices, as nimbra-frames does for each
// frame of a stream and the in-process runs for each frame shown.
void BM_IndexFrame(benchmark::State &state) {
    const auto &frames = demoFrames();
    std::vector<uint8_t> bytes(nimbra::kFrameBytes);
    nimbra::expandFrame(frames[12], bytes.data());
    nimbra::IndexedFrame out;
    for (auto _ : state) {
        if (!nimbra::indexFrame(bytes.data(), out)) bench::fail("the frame does not read back");
        benchmark::DoNotOptimize(out.index.data());
    }
    state.SetItemsProcessed((int64_t)state.iterations());
}
BENCHMARK(BM_IndexFrame)->Name("export/index_frame");

void BM_Thumbnail(benchmark::State &state) {
    const auto &frames = demoFrames();
    for (auto _ : state) benchmark::DoNotOptimize(nimbra::shrinkFrameIndices(frames[12], 4));
    state.SetItemsProcessed((int64_t)state.iterations());
}
BENCHMARK(BM_Thumbnail)->Name("export/thumbnail");

}  // namespace
