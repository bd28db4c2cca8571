#include "workers/activity_watcher.h"

#include "workers/worker_flags.h"

#include <algorithm>

// Entries are read in blocks aligned to their own size: few reads for a long
// list, and a block that fails is read again page by page, so the readable
// part before a hole is still seen.
constexpr std::uintptr_t kBlockBytes = 16 * 1024; // on the stack of the watcher
constexpr std::uintptr_t kPageBytes = 4096;

static bool AnyNonZero(const std::uint64_t* entries, std::size_t count) {
    return std::any_of(entries, entries + count, [](std::uint64_t e) { return e != 0; });
}

// Scans [address, address + bytes), which lies within one aligned block.
// Returns 1 when an entry is present, 0 when none is, -1 when reading stopped
// at memory that cannot be read.
static int ScanBlock(std::uintptr_t address, std::uintptr_t bytes, MemoryReader read) {
    std::uint64_t buffer[kBlockBytes / 8];
    if (read(address, buffer, bytes)) {
        return AnyNonZero(buffer, bytes / 8) ? 1 : 0;
    }
    while (bytes > 0) {
        std::uintptr_t toPageEnd = kPageBytes - address % kPageBytes;
        std::uintptr_t part = std::min(bytes, toPageEnd) & ~std::uintptr_t{7};
        if (part == 0) { // an entry that straddles a page boundary
            part = 8;
        }
        if (!read(address, buffer, part)) {
            return -1;
        }
        if (AnyNonZero(buffer, part / 8)) {
            return 1;
        }
        address += part;
        bytes -= part;
    }
    return 0;
}

bool ListHasPresentEntry(std::uintptr_t moduleBase, MemoryReader read) {
    std::uint64_t holder = 0;
    if (!read(moduleBase + kHolderSlotOffset, &holder, sizeof holder) || holder == 0) {
        return false;
    }
    std::uint32_t count = 0;
    std::uint64_t entries = 0;
    if (!read(holder + kEntryCountOffset, &count, sizeof count) ||
        !read(holder + kEntriesOffset, &entries, sizeof entries)) {
        return false;
    }
    std::uintptr_t address = entries;
    std::uint64_t remaining = std::uint64_t{count} * 8;
    while (remaining > 0) {
        std::uintptr_t toBlockEnd = kBlockBytes - address % kBlockBytes;
        std::uintptr_t bytes = std::min<std::uint64_t>(remaining, toBlockEnd);
        bytes = std::max<std::uintptr_t>(bytes & ~std::uintptr_t{7}, 8); // whole entries
        if (address + bytes < address) { // the list runs past the top of the address space
            return false;
        }
        int found = ScanBlock(address, bytes, read);
        if (found != 0) {
            return found > 0;
        }
        address += bytes;
        remaining -= bytes;
    }
    return false;
}

void RunActivityWatcherPass(std::uintptr_t moduleBase, MemoryReader read) {
    if (ArmRequest.load()) {
        WorkerArmed.exchange(true);
    }
    bool present = ListHasPresentEntry(moduleBase, read);
    ListIdle.exchange(!present);
}
