#include "workers/memory_monitor.h"

std::uint64_t RunMemoryMonitorPass(const MemoryMonitorPlatform& platform,
                                   std::uint64_t lastTrimTick) {
    std::size_t workingSet = 0, pagefile = 0;
    if (platform.queryProcess(&workingSet, &pagefile)) {
        platform.log("[MM] Process WS:%zu MB PF:%zu MB", workingSet >> 20, pagefile >> 20);
    }
    std::uint64_t available = 0;
    if (!platform.queryAvailablePhysical(&available)) {
        return lastTrimTick;
    }
    // The threshold is tested on the same whole-MiB figure that is logged.
    auto freeMb = static_cast<std::size_t>(available >> 20);
    platform.log("[MM] Free system RAM: %zu MB", freeMb);
    if (freeMb > kLowFreeMemoryMb) {
        return lastTrimTick;
    }
    // Unsigned difference: lastTrimTick starts at 0, so on a machine up for
    // less than two minutes the first trim waits for tick 120000.
    if (platform.tickCount() - lastTrimTick < kTrimSpacingMs) {
        return lastTrimTick;
    }
    if (platform.trimWorkingSet()) {
        platform.log("[MM] Trimmed working set because free RAM <= 2-4 GB");
    } else {
        platform.log("[MM] Could not trim working set.");
    }
    // Spaced from the end of this trim, whether or not it succeeded: a refused
    // trim is not tried again on every pass.
    return platform.tickCount();
}
