#include "workers/activity_watcher.h"

#include "workers/worker_flags.h"

#include <algorithm>

// The game's memory as one search reads it, noting whether a read failed
// where the memory had said it could be read (the game freed or changed it
// meanwhile, or what the memory knew of it was old).
struct Reader {
    const GameMemory& memory;
    bool failed = false;

    bool Load(std::uintptr_t address, std::size_t size, std::uint64_t* value) {
        bool loaded = memory.loadWord(address, size, value);
        failed |= !loaded;
        return loaded;
    }
    int Scan(std::uintptr_t address, std::size_t count, std::uintptr_t* round) {
        int found = memory.scanEntries(address, count, round);
        failed |= found < 0;
        return found;
    }
};

// True when every byte from address to address + size - 1 can be read: one
// question per run of pages.
static bool IsReadable(Reader& reader, std::uintptr_t address, std::uint64_t size) {
    if (address + size < address) { // past the top of the address space
        return false;
    }
    for (std::uint64_t checked = 0; checked < size;) {
        std::uintptr_t readable = reader.memory.readableBytes(address + checked);
        if (readable == 0) {
            return false;
        }
        checked += readable;
    }
    return true;
}

static bool ReadWord(Reader& reader, std::uintptr_t address, std::size_t size,
                     std::uint64_t* value) {
    return IsReadable(reader, address, size) && reader.Load(address, size, value);
}

// The first present entry of the run of count entries from round on, as an
// index into the list at entries; kNoEntry when the game emptied them all
// after the scan saw one.
static std::uint64_t FirstPresentIn(Reader& reader, std::uintptr_t entries, std::uintptr_t round,
                                    std::uint64_t count) {
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint64_t entry = 0;
        if (reader.Load(round + i * 8, 8, &entry) && entry != 0) {
            return (round - entries) / 8 + i;
        }
    }
    return kNoEntry;
}

// The entry the last pass found, when it is still inside the list and still
// present: one protection check and one load.
static bool RememberedStillPresent(Reader& reader, std::uintptr_t entries, std::uint32_t count,
                                   std::uint64_t remembered) {
    if (remembered >= count) {
        return false; // the list shrank below it, or nothing was remembered
    }
    std::uintptr_t address = entries + remembered * 8;
    std::uint64_t entry = 0;
    return address >= entries && ReadWord(reader, address, 8, &entry) && entry != 0;
}

static bool SearchList(Reader& reader, std::uintptr_t moduleBase, std::uint64_t* remembered) {
    std::uint64_t holder = 0;
    if (!ReadWord(reader, moduleBase + kHolderSlotOffset, 8, &holder) || holder == 0) {
        return false;
    }
    // The count and the list's address lie side by side: one protection
    // check serves both, then each is read with a load of its own.
    std::uint64_t countWord = 0, entries = 0;
    if (!IsReadable(reader, holder + kEntryCountOffset, kEntriesOffset + 8 - kEntryCountOffset) ||
        !reader.Load(holder + kEntryCountOffset, 4, &countWord) ||
        !reader.Load(holder + kEntriesOffset, 8, &entries)) {
        return false;
    }
    auto count = static_cast<std::uint32_t>(countWord);
    // Any present entry answers the question, wherever the list lies now:
    // the one found last time is most often still there.
    if (RememberedStillPresent(reader, entries, count, *remembered)) {
        return true;
    }
    *remembered = kNoEntry;
    // The list is searched where it lies, one readable run of pages at a
    // time (a run is often the whole list): no copy, one protection check per
    // run. A run that ends, or memory that goes away mid-scan, ends the search:
    // the rest of the list counts as no entry.
    std::uintptr_t address = entries;
    std::uint64_t remaining = std::uint64_t{count} * 8;
    while (remaining > 0) {
        std::uint64_t bytes =
            std::min<std::uint64_t>(remaining, reader.memory.readableBytes(address));
        bytes &= ~std::uint64_t{7}; // whole entries
        if (bytes > 0) {
            std::uintptr_t round = 0;
            int found = reader.Scan(address, bytes / 8, &round);
            if (found < 0) { // gone mid-scan: that round and the rest are no entry
                return false;
            }
            if (found > 0) {
                std::uint64_t left = (address + bytes - round) / 8;
                *remembered = FirstPresentIn(reader, entries, round,
                                             std::min<std::uint64_t>(left, kScanRoundEntries));
                return true;
            }
        } else {
            // An entry that runs on into the next run of pages, or into none.
            std::uint64_t entry = 0;
            if (!ReadWord(reader, address, sizeof entry, &entry)) {
                return false;
            }
            if (entry != 0) {
                *remembered = (address - entries) / 8;
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

bool ListHasPresentEntry(std::uintptr_t moduleBase, const GameMemory& memory,
                         std::uint64_t* remembered) {
    Reader reader{memory};
    if (SearchList(reader, moduleBase, remembered)) {
        return true;
    }
    // A read failed where the memory had said it could read: when what it
    // said came from an earlier answer it kept, the search is made once more
    // with fresh answers, so that the result is the one the memory as it is
    // now gives.
    if (reader.failed && memory.forgetRegions != nullptr && memory.forgetRegions()) {
        Reader again{memory};
        return SearchList(again, moduleBase, remembered);
    }
    return false;
}

void RunActivityWatcherPass(std::uintptr_t moduleBase, const GameMemory& memory,
                            std::uint64_t* remembered) {
    if (ArmRequest.load()) {
        WorkerArmed.exchange(true);
    }
    bool present = ListHasPresentEntry(moduleBase, memory, remembered);
    ListIdle.exchange(!present);
}
