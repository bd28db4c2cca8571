#include "standin_memory.h"

#include <algorithm>
#include <cstddef>

#include "standin_imports.h"
#include "standin_report.h"

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

// A guard page of the stand-in's own, touched at the end of the run to show
// the handlers' order: the first to see that fault gets 1, the next 2.
// Handlers only ever go in at either end of the chain, so a counter ahead of
// the plugin's handler then was ahead of it from the moment it went in.
static std::uint8_t* probePage = nullptr;
static LONG probeSightings = 0, counterSaw = 0, pluginSaw = 0;
static PVECTORED_EXCEPTION_HANDLER pluginsHandler = nullptr;

static bool OnPage(const EXCEPTION_RECORD& record, const void* at) {
    auto page = reinterpret_cast<std::uintptr_t>(at) & ~std::uintptr_t{4095};
    return record.ExceptionCode == STATUS_GUARD_PAGE_VIOLATION && record.NumberParameters >= 2 &&
           (record.ExceptionInformation[1] & ~ULONG_PTR{4095}) == page;
}

static LONG CALLBACK CountGuardFault(EXCEPTION_POINTERS* exception) {
    const EXCEPTION_RECORD& record = *exception->ExceptionRecord;
    if (OnPage(record, probePage)) {
        counterSaw = InterlockedIncrement(&probeSightings);
    } else if (OnPage(record, guardedList)) {
        InterlockedIncrement(&guardFaults);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

static LONG CALLBACK PluginsHandlerSeen(EXCEPTION_POINTERS* exception) {
    if (OnPage(*exception->ExceptionRecord, probePage)) {
        pluginSaw = InterlockedIncrement(&probeSightings);
    }
    return pluginsHandler(exception);
}

// Last in the chain: the probe's fault took the guard, so its load goes
// through when tried again.
static LONG CALLBACK ResumeAfterProbe(EXCEPTION_POINTERS* exception) {
    return OnPage(*exception->ExceptionRecord, probePage) ? EXCEPTION_CONTINUE_EXECUTION
                                                          : EXCEPTION_CONTINUE_SEARCH;
}

// The plugin's first handler goes in through this: seen on its way, and with
// the counter put before it at once, before the plugin reads anything.
static PVOID WINAPI AddHandlerThenCounter(ULONG first, PVECTORED_EXCEPTION_HANDLER handler) {
    if (pluginsHandler != nullptr) {
        return AddVectoredExceptionHandler(first, handler);
    }
    pluginsHandler = handler;
    PVOID added = AddVectoredExceptionHandler(first, PluginsHandlerSeen);
    AddVectoredExceptionHandler(1, CountGuardFault);
    AddVectoredExceptionHandler(0, ResumeAfterProbe);
    probePage = static_cast<std::uint8_t*>(
        VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (probePage != nullptr) {
        probePage[0] = 1; // written before it is guarded, as the list is
        DWORD old;
        VirtualProtect(probePage, 4096, PAGE_READWRITE | PAGE_GUARD, &old);
    }
    return added;
}

void CountGuardPageFaults(HMODULE plugin) {
    HookImport(plugin, "kernel32.dll", "AddVectoredExceptionHandler",
               reinterpret_cast<const void*>(AddHandlerThenCounter));
}

// From the game's main thread: on a thread of the plugin's, just as its
// handler went in, Wine 10 now and then took the guard and raised nothing.
void ReportGuardPageFaults() {
    if (probePage != nullptr) {
        *static_cast<volatile std::uint8_t*>(probePage);
    }
    // And whether the list's page is still guarded: a touch that raised
    // nothing would have taken the guard unseen.
    MEMORY_BASIC_INFORMATION list = {};
    VirtualQuery(guardedList, &list, sizeof list);
    Report("guard-probe-seen: counter=%ld plugin=%ld", counterSaw, pluginSaw);
    Report("guard-faults: %ld", guardFaults);
    Report("guard-kept: %d", (list.Protect & PAGE_GUARD) != 0 ? 1 : 0);
}

// The list keeps its length; only its present entries come and go.
void SetListPresent(bool present) {
    static std::vector<std::uint64_t> saved = listEntries;
    for (std::size_t i = 0; i < listEntries.size(); ++i) {
        listEntries[i] = present ? saved[i] : 0;
    }
}

static LONG memoryQueries = 0;
static decltype(&VirtualQuery) nextVirtualQuery = nullptr;

static SIZE_T WINAPI CountedVirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION info,
                                         SIZE_T size) {
    InterlockedIncrement(&memoryQueries);
    return nextVirtualQuery(address, info, size);
}

void CountMemoryQueries(HMODULE plugin) {
    nextVirtualQuery = ChainImport(plugin, "kernel32.dll", "VirtualQuery", &CountedVirtualQuery);
}

void ReportMemoryQueries() {
    if (nextVirtualQuery != nullptr) {
        Report("virtual-queries: %ld", memoryQueries);
    }
}
