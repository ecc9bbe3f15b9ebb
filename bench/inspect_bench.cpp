// The inspector's report: the time to write the report of a 10,000-frame
// recording (each frame a small box moved and a status query answered, as
// an app's animation with its traffic), and of the demo. Each iteration
// writes the whole report into a scratch folder. The files are written on a
// thread of their own: the CPU time is the process's, and the wall time is
// the figure a user waits for.
#include <filesystem>

#include "bench/bench_support.h"
#include "host/main.h"
#include "host/platform.h"
#include "tools/hostlib/nimbra_host.h"
#include "tools/inspect/report.h"

namespace {

namespace fs = std::filesystem;

constexpr int kLongRunFrames = 10000;

// Frames of a box stepping across a dark screen, one record per frame.
const nimbra::Bytes &longRecording() {
    static const nimbra::Bytes recording = [] {
        nimbra::Bytes out;
        nimbra::CommandBuilder start;
        start.connect().setColor(0xFF102040).drawRect(0, 0, 639, 399, 0, 1);
        const nimbra::Bytes first = nimbra::makeRecord(start.payload());
        out.insert(out.end(), first.begin(), first.end());
        for (int n = 1; n < kLongRunFrames; n++) {
            nimbra::CommandBuilder frame;
            const int x = (n * 7) % 600, y = (n * 3) % 360;
            frame.setColor(0xFF000000u | (uint32_t)(n * 2654435761u >> 8)).drawRect(x, y, 40, 40, 0, 1);
            frame.systemInfo(0).copyToScreen((uint8_t)n);
            const nimbra::Bytes record = nimbra::makeRecord(frame.payload());
            out.insert(out.end(), record.begin(), record.end());
        }
        return out;
    }();
    return recording;
}

void reportOf(benchmark::State &state, const nimbra::Bytes &recording) {
    const fs::path dir = fs::temp_directory_path() / "nimbra-bench-report";
    nimbra::ReportOptions options;
    options.title = "bench";
    uint64_t frames = 0;
    for (auto _ : state) {
        nimbra::ReportSummary summary;
        std::string error;
        if (!nimbra::writeReport(recording, dir.string(), options, summary, error)) bench::fail(error);
        frames = summary.frames;
    }
    fs::remove_all(dir);
    // The other benchmarks expect the device as it starts.
    SIM_ResetDevice();
    SIM_StartDevice();
    state.SetItemsProcessed((int64_t)(state.iterations() * frames));
    state.counters["frames"] = (double)frames;
}

void BM_ReportLongRun(benchmark::State &state) { reportOf(state, longRecording()); }
BENCHMARK(BM_ReportLongRun)->Name("inspect/report/10000_frames")->Unit(benchmark::kSecond)->Iterations(1)->MeasureProcessCPUTime()->UseRealTime();

void BM_ReportDemo(benchmark::State &state) {
    static const nimbra::Bytes demo = bench::sourceFile("examples/demo.rec");
    reportOf(state, demo);
}
BENCHMARK(BM_ReportDemo)->Name("inspect/report/demo")->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace
