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

// The game may free its list at any moment, and its memory may hold pages it
// has marked as not to be touched: look at the protection of every page first,
// then copy with a copy that fails softly should a page vanish in between.
bool ReadGameMemory(std::uintptr_t address, void* out, std::size_t size) {
    std::uintptr_t end = address + size;
    if (end < address) {
        return false;
    }
    for (std::uintptr_t at = address; at < end;) {
        MEMORY_BASIC_INFORMATION region;
        if (VirtualQuery(reinterpret_cast<LPCVOID>(at), &region, sizeof region) == 0 ||
            !IsReadableRegion(region)) {
            return false;
        }
        at = reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
    }
    return GuardedCopy(out, address, size);
}

DWORD WINAPI ActivityWatcherThread(LPVOID) noexcept {
    for (;;) {
        RunActivityWatcherPass(GameModuleBase, ReadGameMemory);
        Sleep(10);
    }
}
