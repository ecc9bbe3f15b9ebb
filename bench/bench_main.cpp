// nimbra_bench: every benchmark of bench/*_bench.cpp, on Google Benchmark,
// with the device started once (frames and packets discarded unless a
// benchmark routes them elsewhere). After the usual table it prints each
// figure next to its anchor.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>

#include "bench/bench_support.h"
#include "host/main.h"

namespace bench {
namespace {

struct AnchorPair {
    std::string figure, anchor;
    bool anchorMeasured;
};

std::vector<AnchorPair> &anchorPairs() {
    static std::vector<AnchorPair> pairs;
    return pairs;
}

// Seconds per iteration of a run.
double seconds(double adjusted, benchmark::TimeUnit unit) { return adjusted / benchmark::GetTimeUnitMultiplier(unit); }

struct Times {
    double cpu = 0, real = 0;
};

// The console table as usual, and the times per iteration of each run kept
// for the anchor lines (the median when runs are repeated).
class AnchorReporter : public benchmark::ConsoleReporter {
public:
    // One table with the counters inline; colour only on a terminal.
    AnchorReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Color : OO_None) {}

    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.error_occurred) continue;
            bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type != Run::RT_Iteration && !median) continue;
            // The name given with Name(), without suffixes such as
            // "/iterations:1/manual_time".
            std::string name = run.run_name.function_name;
            if (median || !medians_.count(name)) {
                times_[name] = Times{seconds(run.GetAdjustedCPUTime(), run.time_unit),
                                     seconds(run.GetAdjustedRealTime(), run.time_unit)};
            }
            if (median) medians_[name] = true;
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        bool header = false;
        for (const AnchorPair &p : anchorPairs()) {
            auto f = times_.find(p.figure), a = times_.find(p.anchor);
            if (f == times_.end() || a == times_.end()) continue;
            double anchorSeconds = p.anchorMeasured ? a->second.real : a->second.cpu;
            if (anchorSeconds <= 0) continue;
            if (!header) {
                printf("\nFigures against their anchors (CPU time per iteration, lower is faster):\n");
                header = true;
            }
            printf("  %-44s %6.2f x %s\n", p.figure.c_str(), f->second.cpu / anchorSeconds, p.anchor.c_str());
        }
        fflush(stdout);
    }

private:
    std::map<std::string, Times> times_;
    std::map<std::string, bool> medians_;
};

void discard(const uint8_t *, size_t) {}

}  // namespace

AnchorRegistration::AnchorRegistration(const char *figure, const char *anchor, bool anchorMeasured) {
    anchorPairs().push_back(AnchorPair{figure, anchor, anchorMeasured});
}

Bytes sourceFile(const std::string &relativePath) {
    std::string path = std::string(NIMBRA_SOURCE_DIR) + "/" + relativePath;
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void runInFreshThread(bool noSimd, const std::function<void()> &body) {
    // The variable only needs to be there while the new thread makes its
    // first libjpeg call; keeping it for the thread's lifetime is simplest.
    if (noSimd) setenv("JSIMD_FORCENONE", "1", 1);
    std::thread worker(body);
    worker.join();
    if (noSimd) unsetenv("JSIMD_FORCENONE");
}

void writeToDevNull(const uint8_t *bytes, size_t length) {
    static int fd = open("/dev/null", O_WRONLY);
    if (fd < 0) fail("cannot open /dev/null");
    SIM_WriteFd(fd, bytes, length);
}

void fail(const std::string &message) {
    fprintf(stderr, "nimbra_bench: %s\n", message.c_str());
    exit(1);
}

}  // namespace bench

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SIM_ResetDevice();
    SIM_frameSink = bench::discard;
    SIM_packetSink = bench::discard;
    SIM_StartDevice();
    bench::AnchorReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
