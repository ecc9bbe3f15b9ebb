#include <chrono>
#include <cstdio>
#include <cstring>

#include "bench/bench.h"
#include "host/main.h"

namespace bench {
std::vector<Case> &cases() {
    static std::vector<Case> all;
    return all;
}
}  // namespace bench

static void _Discard(const uint8_t *, size_t) {}

int main(int argc, char **argv) {
    SIM_ResetDevice();
    SIM_frameSink = _Discard;
    SIM_packetSink = _Discard;
    SIM_StartDevice();
    for (auto &c : bench::cases()) {
        if (argc > 1 && c.name.find(argv[1]) == std::string::npos) continue;
        c.body();   // warm up
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < c.iterations; i++) c.body();
        double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        printf("%-40s %10.1f us per iteration (%d iterations)\n", c.name.c_str(), us / c.iterations, c.iterations);
    }
    return 0;
}
