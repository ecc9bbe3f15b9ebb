// The text form on 100 MB recordings: written out as text by the
// disassembler and turned back into bytes by the assembler, the round trip
// of a developer editing a capture. Two streams: the demo recording
// repeated (upload, video and compressed chunks, so mostly hexadecimal
// data) and one of small drawing commands (the most lines per byte).
#include "bench/bench_support.h"
#include "tools/hostlib/assembler.h"
#include "tools/hostlib/disassembler.h"
#include "tools/hostlib/nimbra_host.h"

namespace {

using bench::Bytes;

constexpr size_t kStreamBytes = 100u << 20;

const Bytes &demoStream() {
    static const Bytes stream = [] {
        const Bytes demo = bench::sourceFile("examples/demo.rec");
        Bytes s;
        s.reserve(kStreamBytes + demo.size());
        while (s.size() < kStreamBytes) s.insert(s.end(), demo.begin(), demo.end());
        return s;
    }();
    return stream;
}

// Lines, rectangles, ellipses, text, colour and pen changes with varied
// values, a copy every 60 commands, packed into records.
const Bytes &drawingStream() {
    static const Bytes stream = [] {
        uint32_t seed = 12345;
        auto next = [&](uint32_t bound) {
            seed = seed * 1103515245u + 12345u;
            return (int32_t)((seed >> 8) % bound);
        };
        std::vector<Bytes> commands;
        size_t total = 0;
        for (int i = 0; total < kStreamBytes; i++) {
            nimbra::CommandBuilder b;
            switch (i % 6) {
            case 0: b.drawLine(next(1280), next(800), next(1280), next(800)); break;
            case 1: b.drawRect(next(1200), next(700), next(400), next(300), 0, (uint8_t)next(2)); break;
            case 2: b.drawEllipse(next(1280), next(800), 8 + next(200), 8 + next(200), (uint16_t)next(720), next(2)); break;
            case 3: b.setColor(0xFF000000u | (uint32_t)next(0xFFFFFF)); break;
            case 4: b.setPenStyle((uint8_t)(1 + next(20)), (uint8_t)next(2), (uint8_t)next(4)); break;
            default: b.drawText((uint8_t)next(3), next(1280), next(800), (uint8_t)next(3), "frame " + std::to_string(i)); break;
            }
            if (i % 60 == 59) b.copyToScreen((uint8_t)i);
            total += b.size();
            commands.push_back(b.payload());
        }
        return nimbra::packRecords(commands);
    }();
    return stream;
}

void disassemble(benchmark::State &state, const Bytes &stream) {
    size_t textBytes = 0;
    for (auto _ : state) {
        const std::string text = nimbra::disassembleStream(stream);
        textBytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)stream.size());
    state.counters["text_MB"] = (double)textBytes / 1e6;
}

void assemble(benchmark::State &state, const Bytes &stream) {
    const std::string text = nimbra::disassembleStream(stream);
    for (auto _ : state) {
        nimbra::ScriptError error;
        auto bytes = nimbra::assembleText(text, "bench", "", error);
        if (!bytes || *bytes != stream) bench::fail("the text form does not give the stream back: " + error.text());
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)stream.size());
}

void roundTrip(benchmark::State &state, const Bytes &stream) {
    for (auto _ : state) {
        nimbra::ScriptError error;
        auto bytes = nimbra::assembleText(nimbra::disassembleStream(stream), "bench", "", error);
        if (!bytes || bytes->size() != stream.size()) bench::fail("the text form does not give the stream back");
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)stream.size());
}

void BM_DisassembleDemo(benchmark::State &state) { disassemble(state, demoStream()); }
void BM_AssembleDemo(benchmark::State &state) { assemble(state, demoStream()); }
void BM_RoundTripDemo(benchmark::State &state) { roundTrip(state, demoStream()); }
void BM_DisassembleDrawing(benchmark::State &state) { disassemble(state, drawingStream()); }
void BM_AssembleDrawing(benchmark::State &state) { assemble(state, drawingStream()); }
void BM_RoundTripDrawing(benchmark::State &state) { roundTrip(state, drawingStream()); }

}  // namespace

BENCHMARK(BM_DisassembleDemo)->Name("text/disassemble/demo_100MB")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_AssembleDemo)->Name("text/assemble/demo_100MB")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_RoundTripDemo)->Name("text/round_trip/demo_100MB")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_DisassembleDrawing)->Name("text/disassemble/drawing_100MB")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_AssembleDrawing)->Name("text/assemble/drawing_100MB")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_RoundTripDrawing)->Name("text/round_trip/drawing_100MB")->Unit(benchmark::kMillisecond)->Iterations(1);
