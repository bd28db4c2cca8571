// Benchmarks shared by the native and the Windows (Wine) bench programs. Each
// prints table rows: what, our figure, the baseline's figure, their ratio.
#pragma once

#include "workers/cpu_worker.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

inline double NowSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Median seconds per call of f over rounds of calls, after one warm-up round.
template <class F> double SecondsPerCall(F f, int calls, int rounds = 7) {
    std::vector<double> samples;
    for (int round = 0; round <= rounds; ++round) {
        double start = NowSeconds();
        for (int i = 0; i < calls; ++i) {
            f();
        }
        if (round > 0) {
            samples.push_back((NowSeconds() - start) / calls);
        }
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

inline void Row(const char* what, const char* unit, double ours, double baseline) {
    std::printf("| %s | %.4g %s | %.4g %s | %.2f |\n", what, ours, unit, baseline, unit,
                ours / baseline);
    std::fflush(stdout);
}

// The worker's summation against the plainest dependent chain of additions:
// the same number of double additions, each waiting for the one before.
inline void BenchWorkerTerms(const char* where) {
    constexpr std::int32_t n = 10'000'000;
    volatile double stepSource = 0.0001;
    double sink = 0;
    double ours = SecondsPerCall([&] { sink += AddWorkTerms(0.0, n); }, 1, 5) / n;
    double baseline = SecondsPerCall(
                          [&] {
                              double step = stepSource, sum = 0.0;
                              for (std::int32_t i = 0; i < n; ++i) {
                                  sum += step;
                              }
                              sink += sum;
                          },
                          1, 5) /
                      n;
    char what[96];
    std::snprintf(what, sizeof what, "CPU worker, per term (%s) vs one dependent add", where);
    Row(what, "ns", ours * 1e9, baseline * 1e9);
    if (sink == 42) {
        std::puts("");
    }
}
