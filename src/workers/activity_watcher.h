// Samples a list in the game's memory every 10 ms, publishes whether any entry
// is present (ListIdle), and turns an arming request into the armed state.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
DWORD WINAPI ActivityWatcherThread(LPVOID) noexcept;

// The watcher's reader of game memory (a MemoryReader, below): only committed,
// readable pages, copied so that nothing can fault.
bool ReadGameMemory(std::uintptr_t address, void* out, std::size_t size);

// Copies size bytes; false instead of a fault when they cannot be read.
bool GuardedCopy(void* out, std::uintptr_t address, std::size_t size);
#endif

// Where the list lives in game version 1.15.222.0.
constexpr std::uintptr_t kHolderSlotOffset = 0x5EBB6B8; // from the game's module base
constexpr std::uintptr_t kEntryCountOffset = 0x430;     // u32, in the holder
constexpr std::uintptr_t kEntriesOffset = 0x438;        // address of the first entry

// Copies size bytes at address into out; false, without faulting, when any of
// them cannot be read.
using MemoryReader = bool (*)(std::uintptr_t address, void* out, std::size_t size);

// True when the list reachable from the holder slot has a non-zero entry. An
// unreadable holder or list, or the unreadable rest of a list, counts as no
// entry. Stops at the first present entry.
bool ListHasPresentEntry(std::uintptr_t moduleBase, MemoryReader read);

// One pass without its sleep: arming, then the sample into ListIdle.
void RunActivityWatcherPass(std::uintptr_t moduleBase, MemoryReader read);
