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
    int reports = 0;
    while (reports < count) {
        reports += RunActivePass(state, iterations);
    }
    return Figure(state.workSum);
}

TEST(CpuWork, ReportsShowTheRunningTotal) {
    EXPECT_EQ(Report(100, 1), "49.500000");
    EXPECT_EQ(Report(100, 2), "99.000000");
    EXPECT_EQ(Report(2, 1), "0.010000");
    EXPECT_EQ(Report(1, 3), "0.000000");
    EXPECT_EQ(Report(0, 2), "0.000000");
    EXPECT_EQ(Report(-5, 2), "0.000000");
    EXPECT_EQ(Report(INT32_MIN, 1), "0.000000");
}

TEST(CpuWork, EveryHundredthActivePassReports) {
    CpuWorkerState state;
    for (int pass = 1; pass <= 99; ++pass) {
        EXPECT_FALSE(RunActivePass(state, 1));
    }
    EXPECT_TRUE(RunActivePass(state, 1));
    EXPECT_EQ(state.activePasses, 0);
    EXPECT_FALSE(RunActivePass(state, 1));
    EXPECT_EQ(state.activePasses, 1);
}

// The terms rounded one at a time, in order: volatile stops the compiler from
// fusing or reordering anything here.
static double ReferenceSum(double sum, std::int32_t n) {
    volatile double total = sum;
    for (std::int32_t i = 0; i < n; ++i) {
        volatile double product = static_cast<double>(i) * 0.0001;
        volatile double term = product + 0.0;
        total = total + term;
    }
    return total;
}

TEST(CpuWork, SummationIsBitExact) {
    double factor = 0.0001;
    std::uint64_t bits;
    std::memcpy(&bits, &factor, 8);
    EXPECT_EQ(bits, 0x3F1A36E2EB1C432Du);

    double ours = 0.0, reference = 0.0;
    for (int pass = 0; pass < 300; ++pass) {
        ours = AddWorkTerms(ours, 10000);
        reference = ReferenceSum(reference, 10000);
    }
    EXPECT_EQ(std::memcmp(&ours, &reference, 8), 0) << Figure(ours) << " vs " << Figure(reference);
    // The exact sum would be 300 * 4999.5 = 1499850; rounding term by term
    // leaves its mark in the low bits, and those must be reproduced.
    EXPECT_EQ(Figure(ours), Figure(reference));
}

TEST(CpuWork, NegativeSleepWaitsTheDefaultNeverForeverNorZero) {
    EXPECT_EQ(WorkerSleepMs(7), 7u);
    EXPECT_EQ(WorkerSleepMs(0), 0u);  // a deliberate choice: only yield
    EXPECT_EQ(WorkerSleepMs(-1), 5u); // would be INFINITE
    EXPECT_EQ(WorkerSleepMs(-5), 5u); // would spin a core as 0
    EXPECT_EQ(WorkerSleepMs(INT32_MIN), 5u);
    EXPECT_EQ(WorkerSleepMs(INT32_MAX), 2147483647u);
}
