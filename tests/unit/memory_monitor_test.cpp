// One pass of the memory monitor against a platform whose answers the test
// sets. The rest (the threshold, the clock, failing queries and trims) is shown
// on the real DLL, with the system's answers set by the stand-in game.
#include "workers/memory_monitor.h"

#include <cstdarg>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {
constexpr std::uint64_t MiB = 1 << 20;
struct World {
    std::uint64_t available = 4097 * MiB, tick = 10'000'000;
    bool trimOk = true;
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
                                        *ws = 300 * MiB + MiB - 1;
                                        *pf = MiB - 1;
                                        return true;
                                    },
                                    [](std::uint64_t* bytes) {
                                        *bytes = world.available;
                                        return true;
                                    },
                                    [] { return world.tick; },
                                    [] {
                                        ++world.trims;
                                        world.tick += 700; // a slow trim
                                        return world.trimOk;
                                    },
                                    FakeLog};
} // namespace

TEST(MemoryMonitor, LogsWholeMebibytesAndSpacesTrimsFromTheEndOfTheLastOne) {
    world = {};
    EXPECT_EQ(RunMemoryMonitorPass(fake, 0), 0u);
    EXPECT_EQ(world.lines, (std::vector<std::string>{"[MM] Process WS:300 MB PF:0 MB",
                                                     "[MM] Free system RAM: 4097 MB"}));
    world.available = 4096 * MiB; // low
    // The next trim is spaced from the end of this one, whether it worked or not.
    EXPECT_EQ(RunMemoryMonitorPass(fake, 0), 10'000'700u);
    EXPECT_EQ(world.lines.back(), "[MM] Trimmed working set because free RAM <= 2-4 GB");
    world.trimOk = false;
    EXPECT_EQ(RunMemoryMonitorPass(fake, 0), 10'001'400u);
    EXPECT_EQ(world.lines.back(), "[MM] Could not trim working set.");
    EXPECT_EQ(world.trims, 2);
}

// Two minutes to the millisecond: from a clock that starts at 0 on a machine
// just started, and from the end of each trim.
TEST(MemoryMonitor, TrimsComeExactlyTwoMinutesApartAndNotBefore) {
    world = {};
    world.available = 4096 * MiB;
    world.tick = 119'999;
    EXPECT_EQ(RunMemoryMonitorPass(fake, 0), 0u);
    EXPECT_EQ(world.trims, 0);
    world.tick = 120'000;
    std::uint64_t last = RunMemoryMonitorPass(fake, 0);
    EXPECT_EQ(last, 120'700u);
    EXPECT_EQ(world.trims, 1);
    world.tick = last + 119'999;
    EXPECT_EQ(RunMemoryMonitorPass(fake, last), last);
    EXPECT_EQ(world.trims, 1);
    world.tick = last + 120'000;
    EXPECT_EQ(RunMemoryMonitorPass(fake, last), last + 120'700);
    EXPECT_EQ(world.trims, 2);
}
