#include "workers/activity_watcher.h"

#include "workers/worker_flags.h"

#include <algorithm>
#include <cstring>

bool ListHasPresentEntry(std::uintptr_t moduleBase, const GameMemory& memory) {
    std::uint64_t holder = 0;
    if (!memory.read(moduleBase + kHolderSlotOffset, &holder, sizeof holder) || holder == 0) {
        return false;
    }
    // The count and the list's address lie side by side: one read takes both,
    // and one protection check serves them.
    std::uint8_t fields[kEntriesOffset - kEntryCountOffset + 8];
    if (!memory.read(holder + kEntryCountOffset, fields, sizeof fields)) {
        return false;
    }
    std::uint32_t count = 0;
    std::uint64_t entries = 0;
    std::memcpy(&count, fields, sizeof count);
    std::memcpy(&entries, fields + (kEntriesOffset - kEntryCountOffset), sizeof entries);
    // The list is searched where it lies, one readable run of pages at a
    // time (a run is often the whole list): no copy, one protection check per
    // run. A run that ends, or memory that goes away mid-scan, ends the search:
    // the rest of the list counts as no entry.
    std::uintptr_t address = entries;
    std::uint64_t remaining = std::uint64_t{count} * 8;
    while (remaining > 0) {
        std::uint64_t bytes = std::min<std::uint64_t>(remaining, memory.readableBytes(address));
        bytes &= ~std::uint64_t{7}; // whole entries
        if (bytes > 0) {
            int found = memory.scanEntries(address, bytes / 8);
            if (found != 0) {
                return found > 0;
            }
        } else {
            // An entry that runs on into the next run of pages, or into none.
            std::uint64_t entry = 0;
            if (!memory.read(address, &entry, sizeof entry)) {
                return false;
            }
            if (entry != 0) {
                return true;
            }
            bytes = sizeof entry;
        }
        if (address + bytes < address) { // the list runs past the top of the address space
            return false;
        }
        address += bytes;
        remaining -= bytes;
    }
    return false;
}

void RunActivityWatcherPass(std::uintptr_t moduleBase, const GameMemory& memory) {
    if (ArmRequest.load()) {
        WorkerArmed.exchange(true);
    }
    bool present = ListHasPresentEntry(moduleBase, memory);
    ListIdle.exchange(!present);
}
