// A minimal benchmark registry: each bench/*.cpp registers cases, and
// nimbra_bench runs them all (or those whose name contains argv[1]).
#pragma once
#include <functional>
#include <string>
#include <vector>

namespace bench {

struct Case {
    std::string name;
    std::function<void()> body;   // one iteration
    int iterations;
};

std::vector<Case> &cases();

struct Registration {
    Registration(const char *name, int iterations, std::function<void()> body) {
        cases().push_back(Case{name, std::move(body), iterations});
    }
};

}  // namespace bench

#define BENCH_CASE(name, iterations) \
    static void benchBody_##name(); \
    static bench::Registration benchRegistration_##name(#name, iterations, benchBody_##name); \
    static void benchBody_##name()
