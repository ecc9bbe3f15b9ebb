// What the benchmark files share: the device set up once for the whole run
// (frames and packets discarded), files read from the source tree, anchors
// (a reference implementation timed on the same input, printed beside our
// figure), and a way to run a timing loop in a fresh thread.
//
// Each bench/<name>_bench.cpp is self-contained: it registers its benchmarks
// with Google Benchmark's macros and, where it has one, names the anchor of
// each with NIMBRA_ANCHOR. The report ends with one line per pair:
//   jpeg/draw/640x400_h2v2   2.10 x libjpeg/nosimd/640x400_h2v2
#pragma once
#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bench {

using Bytes = std::vector<uint8_t>;

// A file under the source tree (for example "bench/data/ip_320x240.m1v");
// stops the run with a message when it cannot be read.
Bytes sourceFile(const std::string &relativePath);

// Declares `anchor` the reference for `figure`: the report prints the ratio
// of their CPU times per iteration when both ran. With `anchorMeasured`, the
// anchor's time is the one it set itself (manual time: for example the CPU
// time of a child process, which its own thread does not see).
struct AnchorRegistration {
    AnchorRegistration(const char *figure, const char *anchor, bool anchorMeasured);
};

// Runs `body` in a new thread and waits for it. With `noSimd`, the thread
// starts with JSIMD_FORCENONE=1 in its environment: libjpeg-turbo chooses
// its SIMD paths once per thread, on first use, so an anchor can be timed
// with and without them in one process.
void runInFreshThread(bool noSimd, const std::function<void()> &body);

// A frame sink that writes to /dev/null, as a replay to /dev/null does.
void writeToDevNull(const uint8_t *bytes, size_t length);

// Stops the run: a benchmark whose input is broken would time nothing.
[[noreturn]] void fail(const std::string &message);

}  // namespace bench

#define NIMBRA_ANCHOR_CONCAT2(a, b) a##b
#define NIMBRA_ANCHOR_CONCAT(a, b) NIMBRA_ANCHOR_CONCAT2(a, b)
#define NIMBRA_ANCHOR(figure, anchor) \
    static bench::AnchorRegistration NIMBRA_ANCHOR_CONCAT(benchAnchor_, __LINE__)(figure, anchor, false)
#define NIMBRA_ANCHOR_MEASURED(figure, anchor) \
    static bench::AnchorRegistration NIMBRA_ANCHOR_CONCAT(benchAnchor_, __LINE__)(figure, anchor, true)
