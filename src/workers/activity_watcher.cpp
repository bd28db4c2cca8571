#include "workers/activity_watcher.h"

#include "plugin/game_module.h"

#include <iterator>

// Committed, readable and no guard page: touching a guard page would take it
// from its owner (a thread's stack guard, say).
static bool IsReadableRegion(const MEMORY_BASIC_INFORMATION& region) {
    constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY |
                                PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    return region.State == MEM_COMMIT && (region.Protect & kReadable) != 0 &&
           (region.Protect & (PAGE_GUARD | PAGE_NOACCESS)) == 0;
}

// What the system said of a readable region, and when it was asked.
struct KnownRegion {
    std::uintptr_t base = 0, end = 0;
    ULONGLONG askedAt = 0;
};

// Asking the system about a region costs more than all the rest of a pass
// under Wine (a call into its own side, with cold caches after every sleep):
// at rest three questions a pass made the watcher's thread cost a third more
// than a floor that only sleeps and loads. So the answers for the few regions
// a pass reads (the holder slot's, the holder's, the list's) are kept and
// trusted for kRegionTrustMs. Nothing is lost by it: the reads cannot fault
// whatever the memory has become, a guard page they touch gets its guard back,
// and a read that fails where an answer was trusted makes the search forget
// every answer and search again with fresh ones. Per thread: the watcher's
// own, and any other that reads the game's memory this way.
static thread_local KnownRegion knownRegions[4];
static thread_local unsigned nextKnownRegion = 0;

static std::uintptr_t ReadableBytes(std::uintptr_t address) {
    ULONGLONG now = GetTickCount64();
    for (const KnownRegion& known : knownRegions) {
        if (address >= known.base && address < known.end && now - known.askedAt < kRegionTrustMs) {
            return known.end - address;
        }
    }
    // A region is a run of pages that share their state and protection, so
    // one question answers for all of them.
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQuery(reinterpret_cast<LPCVOID>(address), &region, sizeof region) == 0 ||
        !IsReadableRegion(region)) {
        return 0;
    }
    auto base = reinterpret_cast<std::uintptr_t>(region.BaseAddress);
    KnownRegion& slot = knownRegions[nextKnownRegion++ % std::size(knownRegions)];
    slot = {base, base + region.RegionSize, now};
    return slot.end - address;
}

static bool ForgetRegions() {
    bool anyKnown = false;
    for (KnownRegion& known : knownRegions) {
        anyKnown |= known.end != 0;
        known = {};
    }
    return anyKnown;
}

const GameMemory kGameMemory = {ReadableBytes, GuardedLoad, GuardedScan, ForgetRegions};

DWORD WINAPI ActivityWatcherThread(LPVOID) noexcept {
    std::uint64_t remembered = kNoEntry;
    for (;;) {
        RunActivityWatcherPass(GameModuleBase, kGameMemory, &remembered);
        Sleep(10);
    }
}
