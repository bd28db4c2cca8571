#include "standin.h"

#include <cstddef>

// The game keeps the address of its list holder at this offset from its base.
constexpr std::uintptr_t kHolderSlotOffset = 0x5EBB6B8;

struct EntryListHolder {
    std::uint8_t unused[0x430];
    std::uint32_t entryCount;
    std::uint32_t padding;
    std::uint64_t* entries;
};
static_assert(offsetof(EntryListHolder, entryCount) == 0x430);
static_assert(offsetof(EntryListHolder, entries) == 0x438);

// Zero-filled and never written except at the holder slot: it lives in .bss,
// so it costs address space, not memory, and lies beyond the code and data.
static std::uint8_t gameMemory[0x6000000];

static EntryListHolder holder;
static std::vector<std::uint64_t> listEntries;

static std::uint64_t* HolderSlot() {
    auto base = reinterpret_cast<std::uintptr_t>(GetModuleHandleW(nullptr));
    return reinterpret_cast<std::uint64_t*>(base + kHolderSlotOffset);
}

bool GameMemoryCoversHolderSlot() {
    auto slot = reinterpret_cast<std::uint8_t*>(HolderSlot());
    return slot >= gameMemory && slot + 8 <= gameMemory + sizeof gameMemory;
}

// An address in the middle of reserved, never committed memory: reading it
// faults.
static std::uint64_t* UnreadableAddress() {
    void* reserved = VirtualAlloc(nullptr, 1 << 20, MEM_RESERVE, PAGE_NOACCESS);
    return static_cast<std::uint64_t*>(reserved) + 1000;
}

// One committed page of zeros followed by unreadable pages.
static std::uint64_t* PageBeforeHole() {
    auto* region =
        static_cast<std::uint8_t*>(VirtualAlloc(nullptr, 1 << 20, MEM_RESERVE, PAGE_NOACCESS));
    VirtualAlloc(region, 4096, MEM_COMMIT, PAGE_READWRITE);
    return reinterpret_cast<std::uint64_t*>(region);
}

static void SetUpHostile(const std::string& kind) {
    if (kind == "unmapped-holder") { // the slot points at memory that cannot be read
        *HolderSlot() = reinterpret_cast<std::uint64_t>(UnreadableAddress());
    } else if (kind == "unmapped-entries") { // the holder is fine, its list is not
        holder.entryCount = 16;
        holder.entries = UnreadableAddress();
        *HolderSlot() = reinterpret_cast<std::uint64_t>(&holder);
    } else if (kind == "null-entries") {
        holder.entryCount = 5;
        holder.entries = nullptr;
        *HolderSlot() = reinterpret_cast<std::uint64_t>(&holder);
    } else if (kind == "huge-count") { // a count far past the readable end
        holder.entryCount = 0xFFFFFFFF;
        holder.entries = PageBeforeHole();
        *HolderSlot() = reinterpret_cast<std::uint64_t>(&holder);
    } else if (kind == "huge-count-present") { // the same, with an entry before the hole
        SetUpHostile("huge-count");
        holder.entries[511] = 1;
    } else if (kind == "garbage-slot") { // a value that is no address at all
        *HolderSlot() = 0xDEADBEEFDEADBEEF;
    }
}

void SetUpGameList(const StandinOptions& options) {
    if (!options.hostile.empty()) {
        SetUpHostile(options.hostile);
        return;
    }
    if (options.entries.empty()) {
        return; // the slot stays 0: no holder
    }
    listEntries = options.entries;
    holder.entryCount = static_cast<std::uint32_t>(listEntries.size());
    holder.entries = listEntries.data();
    *HolderSlot() = reinterpret_cast<std::uint64_t>(&holder);
}

// The list keeps its length; only its present entries come and go.
void SetListPresent(bool present) {
    static std::vector<std::uint64_t> saved = listEntries;
    for (std::size_t i = 0; i < listEntries.size(); ++i) {
        listEntries[i] = present ? saved[i] : 0;
    }
}
