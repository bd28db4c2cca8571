#include "workers/cpu_worker.h"

#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

static std::string Figure(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", value);
    return text;
}

// Runs active passes until the count-th report and returns its figure.
static std::string Report(std::int32_t iterations, int count) {
    CpuWorkerState state;
    for (int reports = 0; reports < count;) {
        reports += RunActivePass(state, iterations);
    }
    return Figure(state.workSum);
}

TEST(CpuWork, ReportsShowTheRunningTotalAfterEveryHundredthActivePass) {
    EXPECT_EQ(Report(100, 1), "49.500000");
    EXPECT_EQ(Report(100, 2), "99.000000");
    EXPECT_EQ(Report(2, 1), "0.010000");
    EXPECT_EQ(Report(0, 2), "0.000000");
    EXPECT_EQ(Report(INT32_MIN, 1), "0.000000");

    CpuWorkerState state;
    for (int pass = 1; pass <= 99; ++pass) {
        EXPECT_FALSE(RunActivePass(state, 1));
    }
    EXPECT_TRUE(RunActivePass(state, 1));
    EXPECT_EQ(state.activePasses, 0);
}

TEST(CpuWork, SummationIsBitExact) {
    // The terms rounded one at a time, in order: volatile keeps the compiler
    // from fusing or reordering anything here.
    volatile double reference = 0.0;
    double ours = 0.0;
    for (int pass = 0; pass < 300; ++pass) {
        ours = AddWorkTerms(ours, 10000);
        for (std::int32_t i = 0; i < 10000; ++i) {
            volatile double product = static_cast<double>(i) * 0.0001;
            reference = reference + (product + 0.0);
        }
    }
    // The exact sum would be 300 * 4999.5 = 1499850; rounding term by term
    // leaves its mark in the low bits, and those must be reproduced.
    double expected = reference;
    EXPECT_EQ(std::memcmp(&ours, &expected, 8), 0) << Figure(ours) << " vs " << Figure(expected);
}

TEST(CpuWork, NegativeSleepWaitsTheDefaultNeverForeverNorZero) {
    EXPECT_EQ(WorkerSleepMs(7), 7u);
    EXPECT_EQ(WorkerSleepMs(0), 0u);  // a deliberate choice: only yield
    EXPECT_EQ(WorkerSleepMs(-1), 5u); // would be INFINITE
    EXPECT_EQ(WorkerSleepMs(-5), 5u); // would spin a core as 0
    EXPECT_EQ(WorkerSleepMs(INT32_MIN), 5u);
    EXPECT_EQ(WorkerSleepMs(INT32_MAX), 2147483647u);
}
