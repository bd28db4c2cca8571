#include "workers/activity_watcher.h"

#include "plugin/game_module.h"

// Committed, readable and no guard page: touching a guard page would take it
// from its owner (a thread's stack guard, say).
static bool IsReadableRegion(const MEMORY_BASIC_INFORMATION& region) {
    constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    return region.State == MEM_COMMIT && (region.Protect & kReadable) != 0 &&
           (region.Protect & (PAGE_GUARD | PAGE_NOACCESS)) == 0;
}

// Game memory is read through the system rather than with plain loads: the
// game may free its list at any moment, and an address that cannot be read
// then fails softly instead of taking the game down. The protection is looked
// at first, because a plain copy would also read pages that the game has
// marked as not to be touched (and does, under Wine).
static bool ReadGameMemory(std::uintptr_t address, void* out, std::size_t size) {
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
    SIZE_T copied = 0;
    return ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<LPCVOID>(address), out, size,
                             &copied) &&
           copied == size;
}

DWORD WINAPI ActivityWatcherThread(LPVOID) noexcept {
    for (;;) {
        RunActivityWatcherPass(GameModuleBase, ReadGameMemory);
        Sleep(10);
    }
}
