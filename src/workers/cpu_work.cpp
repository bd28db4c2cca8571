#include "workers/cpu_worker.h"

#include "settings/settings.h"

// This file is compiled with -ffp-contract=off and without -ffast-math: the
// logged figures depend on every term being rounded on its own, in order.
double AddWorkTerms(double sum, std::int32_t n) {
    constexpr double kFactor = 0.0001; // 0x3F1A36E2EB1C432D
    constexpr double kOffset = 0.0;
    for (std::int32_t i = 0; i < n; ++i) {
        double term = static_cast<double>(i) * kFactor + kOffset;
        sum += term;
    }
    return sum;
}

bool RunActivePass(CpuWorkerState& state, std::int32_t iterations) {
    state.workSum = AddWorkTerms(state.workSum, iterations);
    if (++state.activePasses < kActivePassesPerReport) {
        return false;
    }
    state.activePasses = 0;
    return true;
}

std::uint32_t WorkerSleepMs(std::int32_t sleepMs) {
    if (sleepMs < 0) {
        sleepMs = Settings{}.sleepMs;
    }
    return static_cast<std::uint32_t>(sleepMs);
}
