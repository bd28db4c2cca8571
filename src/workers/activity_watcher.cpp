#include "workers/activity_watcher.h"

#include "plugin/game_module.h"

// Committed, readable and no guard page: touching a guard page would take it
// from its owner (a thread's stack guard, say).
static bool IsReadableRegion(const MEMORY_BASIC_INFORMATION& region) {
    constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY |
                                PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    return region.State == MEM_COMMIT && (region.Protect & kReadable) != 0 &&
           (region.Protect & (PAGE_GUARD | PAGE_NOACCESS)) == 0;
}

// A region is a run of pages that share their state and protection, so one
// query answers for all of them.
static std::uintptr_t ReadableBytes(std::uintptr_t address) {
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQuery(reinterpret_cast<LPCVOID>(address), &region, sizeof region) == 0 ||
        !IsReadableRegion(region)) {
        return 0;
    }
    return reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize - address;
}

const GameMemory kGameMemory = {ReadableBytes, GuardedLoad, GuardedScan};

DWORD WINAPI ActivityWatcherThread(LPVOID) noexcept {
    std::uint64_t remembered = kNoEntry;
    for (;;) {
        RunActivityWatcherPass(GameModuleBase, kGameMemory, &remembered);
        Sleep(10);
    }
}
