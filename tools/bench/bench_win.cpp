// Windows figures, run under Wine: the log, the watcher's fault-proof scan, the
// worker's summation and the memory monitor's pass, each beside the least that
// the same work can cost done with the plainest calls.
#include "bare_work.h"
#include "bench_common.h"
#include "log/log.h"
#include "workers/activity_watcher.h"
#include "workers/memory_monitor.h"

#include <psapi.h>
#include <string>

static void BenchLogLine() {
    const char* message = "[MM] Process WS:27 MB PF:10 MB";
    std::string line = std::string("[2026-12-06 08:39:20] ") + message + "\r\n";
    double ours = SecondsPerCall([&] { Log("%s", message); }, 200);
    double floor = SecondsPerCall([&] { BareLogLine(L"bare.log", line); }, 200);
    ResetLog();
    DeleteFileW((GetLogPath().parent_path() / L"bare.log").c_str());
    Row("Log line vs Documents query + folder check + open-append-close (Wine)", "us", ours * 1e6,
        floor * 1e6);
}

// A pretend game: the holder slot at base + offset, a holder, and the list.
struct BenchGame {
    std::uint64_t slot = 0; // the game's base lies kHolderSlotOffset below it
    std::vector<std::uint8_t> holder = std::vector<std::uint8_t>(0x440);
    std::vector<std::uint64_t> entries;

    // present: "first", "last", or "no" entry present.
    BenchGame(std::uint32_t count, const char* present) : entries(count, 0) {
        if (present[0] == 'f') {
            entries.front() = 1;
        } else if (present[0] == 'l') {
            entries.back() = 1;
        }
        auto entriesAddress = reinterpret_cast<std::uintptr_t>(entries.data());
        slot = reinterpret_cast<std::uintptr_t>(holder.data());
        std::copy_n(reinterpret_cast<std::uint8_t*>(&count), 4, holder.data() + kEntryCountOffset);
        std::copy_n(reinterpret_cast<std::uint8_t*>(&entriesAddress), 8,
                    holder.data() + kEntriesOffset);
    }
    std::uintptr_t Base() const {
        return reinterpret_cast<std::uintptr_t>(&slot) - kHolderSlotOffset;
    }
};

// Passes one after another, as the watcher makes them: each remembers the
// entry the one before found. The floor sweeps the list afresh each time.
static void BenchWatcherPass() {
    for (std::uint32_t count : {1u, 1000u, 1000000u}) {
        for (const char* present : {"first", "last", "no"}) {
            if (count == 1 && present[0] == 'l') {
                continue;
            }
            BenchGame game(count, present);
            int calls = count >= 1000000 ? 20 : 2000;
            bool expected = present[0] != 'n', right = true;
            std::uint64_t remembered = kNoEntry;
            double ours = SecondsPerCall(
                [&] {
                    right &= ListHasPresentEntry(game.Base(), kGameMemory, &remembered) == expected;
                },
                calls);
            double floor =
                SecondsPerCall([&] { right &= PlainScan(game.Base()) == expected; }, calls);
            char what[128];
            std::snprintf(what, sizeof what,
                          "Watcher pass, list of %u, %s entry present, vs plain loads (Wine)",
                          count, present);
            Row(what, "us", ours * 1e6, floor * 1e6);
            if (!right) {
                std::puts("(a pass gave the wrong answer)");
            }
        }
    }
}

// The monitor's pass with the real queries and log lines, against the same two
// queries and two lines written the plainest way: the wall time of one pass
// (not CPU time), and per hour of play, 720 passes.
static void BenchMemoryMonitor() {
    std::uint64_t lastTrimTick = 0;
    const MemoryMonitorPlatform platform = MemoryMonitorWin32Platform();
    double pass =
        SecondsPerCall([&] { lastTrimTick = RunMemoryMonitorPass(platform, lastTrimTick); }, 50);
    double floor = SecondsPerCall(
        [] {
            PROCESS_MEMORY_COUNTERS counters;
            K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
            BareLogLine(L"bare.log", "[2026-12-06 08:39:20] [MM] Process WS:27 MB PF:10 MB\r\n");
            MEMORYSTATUSEX status = {};
            status.dwLength = sizeof status;
            GlobalMemoryStatusEx(&status);
            BareLogLine(L"bare.log", "[2026-12-06 08:39:20] [MM] Free system RAM: 23764 MB\r\n");
        },
        50);
    ResetLog();
    DeleteFileW((GetLogPath().parent_path() / L"bare.log").c_str());
    Row("Memory monitor, wall time per hour of play (one pass x 720) vs the same queries and bare "
        "lines (Wine)",
        "ms", pass * 720 * 1e3, floor * 720 * 1e3);
}

int wmain() {
    BenchLogLine();
    BenchWorkerTerms("Wine");
    BenchWatcherPass();
    BenchMemoryMonitor();
    return 0;
}
