// Samples a list in the game's memory every 10 ms, publishes whether any entry
// is present (ListIdle), and turns an arming request into the armed state.
#pragma once

#include <cstddef>
#include <cstdint>

// Where the list lives in game version 1.15.222.0.
constexpr std::uintptr_t kHolderSlotOffset = 0x5EBB6B8; // from the game's module base
constexpr std::uintptr_t kEntryCountOffset = 0x430;     // u32, in the holder
constexpr std::uintptr_t kEntriesOffset = 0x438;        // address of the first entry

// How the watcher touches the game's memory. The walk asks readableBytes
// before it loads or scans anything, so nothing is read from a page that is
// not readable or is a guard page; the other two must still not fault,
// whatever the address, since the game may free a page between the check and
// the read.
struct GameMemory {
    // How many bytes from address on can be read in place: up to the end of
    // the readable run of pages it lies in; 0 when address cannot be read.
    std::uintptr_t (*readableBytes)(std::uintptr_t address);
    // Reads the word of size bytes (4 or 8) at address with one load of that
    // width, so the value is one the game stored at some moment, never bytes
    // of two; false when the memory went away.
    bool (*loadWord)(std::uintptr_t address, std::size_t size, std::uint64_t* value);
    // Looks at count 8-byte entries from address where they lie: 1 at the
    // first non-zero one, with *round the address of an entry at most
    // kScanRoundEntries before it (or of it), 0 when all are zero, -1 when the
    // memory went away during the scan (the entries before that point were
    // all zero).
    int (*scanEntries)(std::uintptr_t address, std::size_t count, std::uintptr_t* round);
    // When readableBytes answers from what it learnt earlier: forgets it all,
    // and returns true when there was anything to forget. nullptr when it
    // always asks afresh.
    bool (*forgetRegions)() = nullptr;
};

#ifdef _WIN32
#include <windows.h>
DWORD WINAPI ActivityWatcherThread(LPVOID) noexcept;

// The real game memory: committed, readable pages only, never a guard page,
// as the system answered for the region at most kRegionTrustMs ago.
extern const GameMemory kGameMemory;

// The fault-proof steps themselves: false or -1 instead of a fault. A guard
// page that they touch after all is a guard page again when they return.
// GuardedScan searches a long list in slices of kScanSliceEntries (512 KiB),
// yielding the processor between two.
bool GuardedLoad(std::uintptr_t address, std::size_t size, std::uint64_t* value);
int GuardedScan(std::uintptr_t address, std::size_t count, std::uintptr_t* round);
#endif
constexpr std::size_t kScanSliceEntries = 65536;
constexpr std::size_t kScanRoundEntries = 16;
// How long the real memory trusts what the system said of a region.
constexpr unsigned kRegionTrustMs = 1000;

// What the watcher remembers between passes: the index of the entry it last
// found present, or kNoEntry.
constexpr std::uint64_t kNoEntry = ~std::uint64_t{0};

// True when the list reachable from the holder slot has a non-zero entry. An
// unreadable holder or list, or the unreadable rest of a list, counts as no
// entry. Looks first at the entry *remembered names, when it lies inside the
// list as the holder now describes it: while that one is present, a pass reads
// the holder, the count, the list's address and that entry, nothing more.
// Else it searches the list from its start, stops at the first present entry
// and remembers it (kNoEntry when none). Allocates nothing.
bool ListHasPresentEntry(std::uintptr_t moduleBase, const GameMemory& memory,
                         std::uint64_t* remembered);

// One pass without its sleep: arming, then the sample into ListIdle.
void RunActivityWatcherPass(std::uintptr_t moduleBase, const GameMemory& memory,
                            std::uint64_t* remembered);
