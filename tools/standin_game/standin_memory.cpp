#include "standin_memory.h"

#include <algorithm>
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
static std::uint64_t* guardedList = nullptr;

static std::uint64_t* HolderSlot() {
    auto base = reinterpret_cast<std::uintptr_t>(GetModuleHandleW(nullptr));
    return reinterpret_cast<std::uint64_t*>(base + kHolderSlotOffset);
}

bool GameMemoryCoversHolderSlot() {
    auto slot = reinterpret_cast<std::uint8_t*>(HolderSlot());
    return slot >= gameMemory && slot + 8 <= gameMemory + sizeof gameMemory;
}

void SetUpGameList(const StandinOptions& options) {
    if (options.entries.empty()) {
        return; // the slot stays 0: no holder
    }
    listEntries = options.entries;
    holder.entryCount = static_cast<std::uint32_t>(listEntries.size());
    holder.entries = listEntries.data();
    if (options.entriesOnGuardPage) {
        // A page the game keeps guarded (a stack's guard, say): whatever
        // touches it takes the guard from its owner.
        std::size_t bytes = listEntries.size() * 8;
        guardedList = static_cast<std::uint64_t*>(
            VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        std::copy(listEntries.begin(), listEntries.end(), guardedList);
        DWORD old;
        VirtualProtect(guardedList, bytes, PAGE_READWRITE | PAGE_GUARD, &old);
        holder.entries = guardedList;
    }
    *HolderSlot() = reinterpret_cast<std::uint64_t>(&holder);
}

static LONG guardFaults = 0;

static LONG CALLBACK CountGuardFault(EXCEPTION_POINTERS* exception) {
    const EXCEPTION_RECORD& record = *exception->ExceptionRecord;
    auto page = reinterpret_cast<std::uintptr_t>(guardedList) & ~std::uintptr_t{4095};
    if (record.ExceptionCode == STATUS_GUARD_PAGE_VIOLATION && record.NumberParameters >= 2 &&
        (record.ExceptionInformation[1] & ~ULONG_PTR{4095}) == page) {
        InterlockedIncrement(&guardFaults);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

void CountGuardPageFaults() {
    AddVectoredExceptionHandler(1, CountGuardFault);
}

long GuardPageFaults() {
    return guardFaults;
}

// The list keeps its length; only its present entries come and go.
void SetListPresent(bool present) {
    static std::vector<std::uint64_t> saved = listEntries;
    for (std::size_t i = 0; i < listEntries.size(); ++i) {
        listEntries[i] = present ? saved[i] : 0;
    }
}
