#include "workers/memory_monitor.h"

#include <cstdarg>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

// A platform whose queries answer from these variables, and a log that keeps
// its lines.
namespace {
bool processOk = true, systemOk = true;
std::size_t workingSet = 0, pagefile = 0;
std::uint64_t available = 0, tick = 0;
int trims = 0;
std::uint64_t trimTakesMs = 0; // a slow trim moves the clock on
std::vector<std::string> lines;

bool FakeProcess(std::size_t* ws, std::size_t* pf) {
    *ws = workingSet;
    *pf = pagefile;
    return processOk;
}
bool FakeSystem(std::uint64_t* bytes) {
    *bytes = available;
    return systemOk;
}
std::uint64_t FakeTick() {
    return tick;
}
void FakeTrim() {
    ++trims;
    tick += trimTakesMs;
}
void FakeLog(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    lines.emplace_back(text);
}

const MemoryMonitorPlatform fake = {FakeProcess, FakeSystem, FakeTick, FakeTrim, FakeLog};
constexpr std::uint64_t MiB = 1 << 20;
const std::string kTrimLine = "[MM] Trimmed working set because free RAM <= 2-4 GB";

class MemoryMonitor : public ::testing::Test {
  protected:
    void SetUp() override {
        processOk = systemOk = true;
        workingSet = 300 * MiB;
        pagefile = 200 * MiB;
        available = 8000 * MiB;
        tick = 10'000'000;
        trims = 0;
        trimTakesMs = 0;
        lines.clear();
    }
};
} // namespace

TEST_F(MemoryMonitor, LogsWholeMebibytesRoundedDown) {
    workingSet = 300 * MiB + MiB - 1;
    pagefile = MiB - 1;
    available = 5000 * MiB + 123;
    RunMemoryMonitorPass(fake, 0);
    EXPECT_EQ(lines, (std::vector<std::string>{"[MM] Process WS:300 MB PF:0 MB",
                                               "[MM] Free system RAM: 5000 MB"}));
    EXPECT_EQ(trims, 0);
}

TEST_F(MemoryMonitor, ThresholdIsTestedOnTheLoggedFigure) {
    available = 4096 * MiB + MiB - 1; // logs as 4096: low
    EXPECT_EQ(RunMemoryMonitorPass(fake, 0), tick);
    EXPECT_EQ(trims, 1);
    EXPECT_EQ(lines.back(), kTrimLine);

    available = 4097 * MiB; // never low
    EXPECT_EQ(RunMemoryMonitorPass(fake, 0), 0u);
    EXPECT_EQ(trims, 1);

    available = 0;
    RunMemoryMonitorPass(fake, 0);
    EXPECT_EQ(trims, 2);
}

TEST_F(MemoryMonitor, NoTrimBeforeTheClockReachesTwoMinutes) {
    available = 1000 * MiB;
    std::uint64_t last = 0;
    for (tick = 0; tick < 120000; tick += 5000) {
        last = RunMemoryMonitorPass(fake, last);
    }
    EXPECT_EQ(trims, 0);
    tick = 120000;
    EXPECT_EQ(RunMemoryMonitorPass(fake, last), 120000u);
    EXPECT_EQ(trims, 1);
}

TEST_F(MemoryMonitor, TrimsAreSpacedFromTheEndOfThePreviousTrim) {
    available = 1000 * MiB;
    trimTakesMs = 700;
    std::uint64_t last = 0;
    std::vector<std::uint64_t> trimStarts, trimEnds;
    for (tick = 200000; tick < 1'000'000; tick += 5000) {
        std::uint64_t passStart = tick;
        int before = trims;
        last = RunMemoryMonitorPass(fake, last);
        if (trims > before) {
            trimStarts.push_back(passStart);
            trimEnds.push_back(last);
        }
    }
    ASSERT_GE(trimStarts.size(), 5u);
    for (std::size_t i = 1; i < trimStarts.size(); ++i) {
        EXPECT_EQ(trimEnds[i - 1], trimStarts[i - 1] + 700); // read after the trim
        EXPECT_GE(trimStarts[i] - trimEnds[i - 1], 120000u);
        EXPECT_LT(trimStarts[i] - trimEnds[i - 1], 125000u); // the first pass allowed
    }
}

TEST_F(MemoryMonitor, FailedQueriesSkipOnlyWhatDependsOnThem) {
    available = 1000 * MiB;
    processOk = false;
    RunMemoryMonitorPass(fake, 0);
    EXPECT_EQ(lines, (std::vector<std::string>{"[MM] Free system RAM: 1000 MB", kTrimLine}));

    lines.clear();
    processOk = true;
    systemOk = false;
    EXPECT_EQ(RunMemoryMonitorPass(fake, 0), 0u);
    EXPECT_EQ(lines, (std::vector<std::string>{"[MM] Process WS:300 MB PF:200 MB"}));
    EXPECT_EQ(trims, 1); // only the first pass trimmed

    lines.clear();
    processOk = false;
    RunMemoryMonitorPass(fake, 0);
    EXPECT_TRUE(lines.empty());
}
