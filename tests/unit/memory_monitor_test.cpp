#include "workers/memory_monitor.h"

#include <cstdarg>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

// A platform whose queries answer from the world's figures, and a log that
// keeps its lines.
namespace {
constexpr std::uint64_t MiB = 1 << 20;
struct World {
    bool processOk = true, systemOk = true;
    std::size_t workingSet = 300 * MiB, pagefile = 200 * MiB;
    std::uint64_t available = 1000 * MiB, tick = 10'000'000, trimTakesMs = 0;
    int trims = 0;
    std::vector<std::string> lines;
} world;

void FakeLog(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    world.lines.emplace_back(text);
}

const MemoryMonitorPlatform fake = {[](std::size_t* ws, std::size_t* pf) {
                                        *ws = world.workingSet;
                                        *pf = world.pagefile;
                                        return world.processOk;
                                    },
                                    [](std::uint64_t* bytes) {
                                        *bytes = world.available;
                                        return world.systemOk;
                                    },
                                    [] { return world.tick; },
                                    [] {
                                        ++world.trims;
                                        world.tick += world.trimTakesMs; // a slow trim
                                    },
                                    FakeLog};
const std::string kTrimLine = "[MM] Trimmed working set because free RAM <= 2-4 GB";

class MemoryMonitor : public ::testing::Test {
  protected:
    void SetUp() override { world = {}; }
};
} // namespace

TEST_F(MemoryMonitor, LogsWholeMebibytesAndTestsTheThresholdOnTheLoggedFigure) {
    world.workingSet = 300 * MiB + MiB - 1;
    world.pagefile = MiB - 1;
    world.available = 4097 * MiB; // never low
    EXPECT_EQ(RunMemoryMonitorPass(fake, 0), 0u);
    EXPECT_EQ(world.lines, (std::vector<std::string>{"[MM] Process WS:300 MB PF:0 MB",
                                                     "[MM] Free system RAM: 4097 MB"}));
    world.available = 4096 * MiB + MiB - 1; // logs as 4096: low
    world.trimTakesMs = 700;
    // The next trim is spaced from the end of this one, whether it worked or not.
    EXPECT_EQ(RunMemoryMonitorPass(fake, 0), 10'000'700u);
    EXPECT_EQ(world.lines.back(), kTrimLine);
    EXPECT_EQ(world.lines[3], "[MM] Free system RAM: 4096 MB");
    EXPECT_EQ(world.trims, 1);
}

TEST_F(MemoryMonitor, TrimsWaitForTheClockToReachTwoMinutesThenComeTwoMinutesApart) {
    std::uint64_t last = 0;
    for (world.tick = 0; world.tick < 120000; world.tick += 5000) {
        last = RunMemoryMonitorPass(fake, last);
    }
    EXPECT_EQ(world.trims, 0);
    world.tick = 120000;
    last = RunMemoryMonitorPass(fake, last);
    EXPECT_EQ(last, 120000u);
    world.tick = 239999; // and the next one not sooner than 120000 ms after it
    EXPECT_EQ(RunMemoryMonitorPass(fake, last), 120000u);
    world.tick = 240000;
    EXPECT_EQ(RunMemoryMonitorPass(fake, last), 240000u);
    EXPECT_EQ(world.trims, 2);
}

TEST_F(MemoryMonitor, FailedQueriesSkipOnlyWhatDependsOnThem) {
    world.processOk = false;
    RunMemoryMonitorPass(fake, 0);
    EXPECT_EQ(world.lines, (std::vector<std::string>{"[MM] Free system RAM: 1000 MB", kTrimLine}));

    world.lines.clear();
    world.processOk = true;
    world.systemOk = false;
    EXPECT_EQ(RunMemoryMonitorPass(fake, 0), 0u);
    EXPECT_EQ(world.lines, (std::vector<std::string>{"[MM] Process WS:300 MB PF:200 MB"}));
    EXPECT_EQ(world.trims, 1); // only the first pass trimmed
}
