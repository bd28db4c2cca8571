// The activity watcher's reads of game memory, on real pages under Wine: no
// layout of the game's memory, and no page freed mid-read, may fault.
#include "workers/activity_watcher.h"
#include "workers/worker_flags.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>

namespace {
// A holder slot, a holder and a list, wherever the test puts them.
struct Game {
    std::uint64_t slot = 0;
    alignas(8) std::uint8_t holder[0x440] = {};
    std::uintptr_t Base() const {
        return reinterpret_cast<std::uintptr_t>(&slot) - kHolderSlotOffset;
    }
    void Point(const void* entries, std::uint32_t count) {
        slot = reinterpret_cast<std::uintptr_t>(holder);
        std::memcpy(holder + kEntryCountOffset, &count, 4);
        std::memcpy(holder + kEntriesOffset, &entries, 8);
    }
    // The watcher's memory of the entry it found last, kept from pass to pass.
    std::uint64_t remembered = kNoEntry;
    bool Present() { return ListHasPresentEntry(Base(), kGameMemory, &remembered); }
};

std::uint64_t* Pages(std::size_t count) {
    return static_cast<std::uint64_t*>(
        VirtualAlloc(nullptr, count * 4096, MEM_COMMIT, PAGE_READWRITE));
}

void Protect(std::uint64_t* page, DWORD protect) {
    DWORD old;
    VirtualProtect(page, 4096, protect, &old);
}

bool IsGuardPage(const void* page) {
    MEMORY_BASIC_INFORMATION info;
    VirtualQuery(page, &info, sizeof info);
    return info.Protect & PAGE_GUARD;
}

std::uintptr_t Address(const void* p) {
    return reinterpret_cast<std::uintptr_t>(p);
}

// The scan's answer alone.
int Scan(std::uintptr_t address, std::size_t count) {
    std::uintptr_t round = 0;
    return GuardedScan(address, count, &round);
}
} // namespace

TEST(GuardedReads, UnreadableMemoryFailsInsteadOfFaultingAndGuardPagesStayGuarded) {
    std::uint64_t* page = Pages(3);
    page[3] = 0xABCDEF0123456789;
    std::uint64_t out = 0;
    EXPECT_TRUE(GuardedLoad(Address(page + 3), 8, &out));
    EXPECT_EQ(out, 0xABCDEF0123456789u);
    EXPECT_TRUE(GuardedLoad(Address(page + 3), 4, &out));
    EXPECT_EQ(out, 0x23456789u);
    EXPECT_EQ(Scan(Address(page), 3), 0);
    EXPECT_EQ(Scan(Address(page), 1024), 1);

    // Every place in two rounds of sixteen, two of four and three of one: an
    // entry there is found, whichever of its bytes is set, in the round the
    // scan names, and one just past the count is not.
    page[3] = 0;
    for (std::size_t at = 0; at < 43; ++at) {
        page[at] = at % 2 ? 1 : std::uint64_t{1} << 63;
        std::uintptr_t round = 0;
        EXPECT_EQ(GuardedScan(Address(page), 43, &round), 1) << at;
        EXPECT_LE(round, Address(page + at)) << at;
        EXPECT_GT(round + kScanRoundEntries * 8, Address(page + at)) << at;
        EXPECT_EQ(Scan(Address(page), at), 0) << at;
        page[at] = 0;
    }

    // The second page goes away: a scan that ends at its edge reads nothing
    // beyond it, and a fault at any load of a round ends the scan softly.
    Protect(page + 512, PAGE_NOACCESS);
    EXPECT_EQ(Scan(Address(page + 512 - 21), 21), 0);
    for (std::size_t before = 0; before <= 16; ++before) {
        EXPECT_EQ(Scan(Address(page + 512 - before), 17), -1) << before;
    }
    for (std::size_t before = 0; before <= 4; ++before) {
        EXPECT_EQ(Scan(Address(page + 512 - before), 5), -1) << before;
    }
    EXPECT_FALSE(GuardedLoad(Address(page + 512) - 4, 8, &out)); // a word across the two
    // The third page became another thread's stack guard after the checks:
    // the read fails and the guard is still there for its owner.
    Protect(page + 1024, PAGE_READWRITE | PAGE_GUARD);
    EXPECT_FALSE(GuardedLoad(Address(page + 1024), 8, &out));
    EXPECT_TRUE(IsGuardPage(page + 1024)) << "the load took the guard";
    EXPECT_EQ(Scan(Address(page + 1024), 4), -1);
    EXPECT_TRUE(IsGuardPage(page + 1024)) << "the scan took the guard";
    VirtualFree(page, 0, MEM_RELEASE);
    EXPECT_FALSE(GuardedLoad(Address(page), 4, &out)); // freed
    EXPECT_EQ(Scan(Address(page), 8), -1);
    EXPECT_FALSE(GuardedLoad(0, 8, &out));
    EXPECT_EQ(Scan(0xDEADBEEFDEADBEEF, 1), -1); // not even an address
}

TEST(GuardedReads, ALongListIsSearchedAcrossItsSlicesToItsEnd) {
    // Three slices and a few entries: the scan yields between slices, and
    // neither an entry nor a fault beyond the first slice is missed.
    constexpr std::size_t kCount = 3 * kScanSliceEntries + 5;
    constexpr std::size_t kPages = (kCount * 8 + 4095) / 4096 + 1;
    std::uint64_t* list = Pages(kPages);
    EXPECT_EQ(Scan(Address(list), kCount), 0);
    list[kCount - 1] = 7;
    EXPECT_EQ(Scan(Address(list), kCount), 1);
    EXPECT_EQ(Scan(Address(list), kCount - 1), 0);
    list[kScanSliceEntries] = 7; // the first entry of the second slice
    EXPECT_EQ(Scan(Address(list), kCount - 1), 1);
    list[kScanSliceEntries] = 0;
    Protect(list + 2 * kScanSliceEntries, PAGE_NOACCESS); // gone in the third slice
    EXPECT_EQ(Scan(Address(list), kCount), -1);
    VirtualFree(list, 0, MEM_RELEASE);
}

TEST(GuardedReads, AWordIsAlwaysAValueTheGameStored) {
    // The game switches its words between two values with one store each; a
    // read put together from bytes of both would be an address never there.
    alignas(8) static volatile std::uint64_t word = 0;
    alignas(8) static volatile std::uint32_t count = 0;
    std::atomic<bool> stop{false};
    std::thread game([&] {
        while (!stop) {
            word = ~std::uint64_t{0};
            count = ~std::uint32_t{0};
            word = 0;
            count = 0;
        }
    });
    int torn = 0;
    for (int i = 0; i < 200000 && torn == 0; ++i) {
        std::uint64_t value = 1;
        GuardedLoad(Address(const_cast<std::uint64_t*>(&word)), 8, &value);
        torn += value != 0 && value != ~std::uint64_t{0};
        GuardedLoad(Address(const_cast<std::uint32_t*>(&count)), 4, &value);
        torn += value != 0 && value != ~std::uint32_t{0};
    }
    stop = true;
    game.join();
    EXPECT_EQ(torn, 0);
}

TEST(GuardedReads, OtherFaultsOfTheGameAreNotSwallowed) {
    // A handler of the game's own still sees its own access violation.
    static std::atomic<int> seen{0};
    PVOID handler = AddVectoredExceptionHandler(0, [](EXCEPTION_POINTERS* e) -> LONG {
        if (e->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION) {
            return EXCEPTION_CONTINUE_SEARCH;
        }
        ++seen;
        e->ContextRecord->Rip += 3; // skip "mov (%rax),%eax" below
        return EXCEPTION_CONTINUE_EXECUTION;
    });
    std::uint64_t out;
    GuardedLoad(0, 8, &out); // makes sure the plugin's handler is installed, and first
    asm volatile("xor %%eax, %%eax\n\t"
                 "mov (%%rax), %%eax\n\t"
                 "nop" ::
                     : "rax", "memory");
    RemoveVectoredExceptionHandler(handler);
    EXPECT_EQ(seen, 1);
}

extern "C" const char qs_guarded_scan[];

TEST(GuardedReads, StackCanBeWalkedFromInsideTheScan) {
    // The scan keeps nothing on the stack: an unwind from anywhere in it finds
    // the return address at the top, and the caller behind it.
    DWORD64 imageBase = 0;
    auto at = reinterpret_cast<DWORD64>(qs_guarded_scan) + 8;
    PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(at, &imageBase, nullptr);
    ASSERT_NE(function, nullptr) << "no unwind information";
    DWORD64 stack[1] = {0xCA11E5};
    CONTEXT context = {};
    context.Rip = at;
    context.Rsp = reinterpret_cast<DWORD64>(stack);
    PVOID handlerData = nullptr;
    DWORD64 establisher = 0;
    RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, at, function, &context, &handlerData,
                     &establisher, nullptr);
    EXPECT_EQ(context.Rip, 0xCA11E5u);
    EXPECT_EQ(context.Rsp, reinterpret_cast<DWORD64>(stack + 1));
}

TEST(ListScan, OneEntryBeforeTheCountIsEnoughAndUnreadableListsHaveNone) {
    Game game;
    EXPECT_FALSE(game.Present()); // no holder
    std::uint64_t* list = Pages(3);
    game.Point(list, 1024);
    EXPECT_FALSE(game.Present()); // only empty entries
    list[0] = 1;
    EXPECT_TRUE(game.Present());
    list[0] = 0;
    list[1023] = 0x8000000000000000;
    EXPECT_TRUE(game.Present());
    game.Point(list, 1023); // the present entry lies past the count
    EXPECT_FALSE(game.Present());
    Protect(list + 1024, PAGE_READWRITE | PAGE_GUARD);
    game.Point(list + 1024, 0);
    EXPECT_FALSE(game.Present());
    EXPECT_TRUE(IsGuardPage(list + 1024)) << "an entry was read";
    VirtualFree(list, 0, MEM_RELEASE);
    game.Point(list, 1); // freed
    EXPECT_FALSE(game.Present());
    game.Point(nullptr, 5);
    EXPECT_FALSE(game.Present());
    game.Point(reinterpret_cast<void*>(0xFFFFFFFFFFFFFFF8), 2); // off the top
    EXPECT_FALSE(game.Present());
    game.slot = 0xDEADBEEFDEADBEEF; // a holder slot that holds no address
    EXPECT_FALSE(game.Present());
}

TEST(ListScan, RegionsAreFollowedToTheFirstHoleAndGuardPagesNeverTouched) {
    // Three pages: read-write, read-only, then a guard page.
    std::uint64_t* list = Pages(3);
    list[513] = 1;
    list[1024 + 5] = 1; // behind the guard page's protection: never seen
    Protect(list + 512, PAGE_READONLY);
    Protect(list + 1024, PAGE_READWRITE | PAGE_GUARD);
    Game game;
    game.Point(list, 513);
    EXPECT_FALSE(game.Present());
    game.Point(list, 514); // on into the read-only region
    EXPECT_TRUE(game.Present());
    // Entry 0 lies across the two regions; entry 1, the present one, after it.
    game.Point(reinterpret_cast<std::uint8_t*>(list) + 4092, 2);
    EXPECT_TRUE(game.Present());
    list[511] = std::uint64_t{1} << 32; // and one across them that is present itself
    game.Point(reinterpret_cast<std::uint8_t*>(list) + 4092, 1);
    EXPECT_TRUE(game.Present());
    list[511] = 0;

    Protect(list + 512, PAGE_READWRITE);
    list[513] = 0;
    game.Point(list, 1536);
    EXPECT_FALSE(game.Present());
    EXPECT_TRUE(IsGuardPage(list + 1024)) << "the game's guard page was used up";
    Protect(list + 512, PAGE_NOACCESS);
    list[100] = 1; // what lies before a hole still counts
    game.Point(list, 0xFFFFFFFF);
    EXPECT_TRUE(game.Present());
    VirtualFree(list, 0, MEM_RELEASE);
}

TEST(ListScan, EachWordIsOneLoadOfItsWidthAndAScanTheGameLeftMidwayIsNoEntry) {
    static std::vector<std::size_t> widths;
    static int scanAnswer = 0;
    const GameMemory recording = {
        kGameMemory.readableBytes,
        [](std::uintptr_t address, std::size_t size, std::uint64_t* value) {
            widths.push_back(size);
            return kGameMemory.loadWord(address, size, value);
        },
        [](std::uintptr_t address, std::size_t, std::uintptr_t* round) {
            *round = address;
            return scanAnswer;
        }};
    // Entry 0 lies across two regions and is read as a word; entry 1 is scanned.
    std::uint64_t* list = Pages(2);
    Protect(list + 512, PAGE_READONLY);
    Game game;
    game.Point(reinterpret_cast<std::uint8_t*>(list) + 4092, 2);
    EXPECT_FALSE(ListHasPresentEntry(game.Base(), recording, &game.remembered));
    EXPECT_EQ(widths, (std::vector<std::size_t>{8, 4, 8, 8})); // slot, count, list, entry 0
    scanAnswer = -1;                                           // the list went away mid-scan
    EXPECT_FALSE(ListHasPresentEntry(game.Base(), recording, &game.remembered));
    scanAnswer = 1;
    EXPECT_TRUE(ListHasPresentEntry(game.Base(), recording, &game.remembered));
    VirtualFree(list, 0, MEM_RELEASE);
}

// A pass looks first at the entry it found last. While that one is present
// and inside the list, the pass reads nothing else; the answer stays "is any
// entry present", whatever the game did to the list in between.
TEST(ListScan, APassRereadsOnlyTheEntryItFoundUntilThatOneGoes) {
    static int scans = 0, loads = 0;
    const GameMemory counting = {
        kGameMemory.readableBytes,
        [](std::uintptr_t address, std::size_t size, std::uint64_t* value) {
            ++loads;
            return kGameMemory.loadWord(address, size, value);
        },
        [](std::uintptr_t address, std::size_t count, std::uintptr_t* round) {
            ++scans;
            return kGameMemory.scanEntries(address, count, round);
        }};
    Game game;
    auto pass = [&] {
        scans = loads = 0;
        return ListHasPresentEntry(game.Base(), counting, &game.remembered);
    };
    std::uint64_t* list = Pages(8); // 4096 entries
    game.Point(list, 4096);
    // The exact entry is remembered wherever it lies in its round of the scan.
    for (std::uint64_t at : {0u, 15u, 16u, 17u, 3000u, 4095u}) {
        list[at] = 5;
        EXPECT_TRUE(pass()) << at;
        EXPECT_EQ(game.remembered, at);
        list[at] = 0;
    }
    list[3000] = 5;
    EXPECT_TRUE(pass());
    EXPECT_TRUE(pass());
    EXPECT_EQ(scans, 0);
    EXPECT_EQ(loads, 4); // the slot, the count, the list's address, entry 3000

    // The list moved, its entry 3000 present there too: still no search.
    std::uint64_t* moved = Pages(8);
    moved[3000] = 1;
    game.Point(moved, 4096);
    EXPECT_TRUE(pass());
    EXPECT_EQ(scans, 0);
    // Entry 3000 emptied, another present: searched and remembered.
    moved[3000] = 0;
    moved[10] = 1;
    EXPECT_TRUE(pass());
    EXPECT_GE(scans, 1);
    EXPECT_EQ(game.remembered, 10u);
    // The count shrank below it: entry 10 now lies past the list.
    game.Point(moved, 10);
    EXPECT_FALSE(pass());
    EXPECT_EQ(game.remembered, kNoEntry);
    // The remembered entry's page goes: the search starts again, and what
    // lies past the hole counts as no entry.
    game.Point(moved, 4096);
    moved[10] = 0;
    moved[2000] = 1;
    moved[4000] = 1;
    EXPECT_TRUE(pass());
    EXPECT_EQ(game.remembered, 2000u);
    Protect(moved + 1536, PAGE_NOACCESS); // entries 1536 to 2047
    EXPECT_FALSE(pass());
    moved[3] = 1; // one before the hole still counts
    EXPECT_TRUE(pass());
    EXPECT_EQ(game.remembered, 3u);
    VirtualFree(list, 0, MEM_RELEASE);
    VirtualFree(moved, 0, MEM_RELEASE);
    EXPECT_FALSE(pass()); // the list itself freed
}

// The real memory keeps what the system said of a region for a while. When
// that is old (the region ends sooner now), the read that fails makes the
// search forget it and search again with fresh answers: the entry just before
// the new end, in the round the failed scan left, is still found.
TEST(ListScan, AReadThatFailsOnAnOldAnswerIsSearchedAgainWithFreshOnes) {
    static bool old = true;
    static int forgotten = 0;
    const GameMemory remembering = {[](std::uintptr_t address) -> std::uintptr_t {
                                        return old ? 2 * 4096 : kGameMemory.readableBytes(address);
                                    },
                                    kGameMemory.loadWord, kGameMemory.scanEntries,
                                    [] {
                                        ++forgotten;
                                        return std::exchange(old, false);
                                    }};
    std::uint64_t* list = Pages(2);
    Protect(list + 512, PAGE_NOACCESS); // the old answer still says readable
    list[505] = 1;                      // in the round of 504 to 519, before the hole
    Game game;
    game.Point(list + 8, 600); // rounds of sixteen from entry 8 on: 504 to 519 spans the hole
    EXPECT_TRUE(ListHasPresentEntry(game.Base(), remembering, &game.remembered));
    EXPECT_EQ(forgotten, 1);
    EXPECT_EQ(game.remembered, 497u); // entry 505 of the page, 497 of the list
    // With fresh answers nothing fails, and nothing is forgotten.
    list[505] = 0;
    EXPECT_FALSE(ListHasPresentEntry(game.Base(), remembering, &game.remembered));
    EXPECT_EQ(forgotten, 1);
    VirtualFree(list, 0, MEM_RELEASE);
}

TEST(WatcherPass, ArmingIsOneWayAndIdleFollowsEverySample) {
    std::uint64_t list[3] = {};
    Game game;
    game.Point(list, 3);
    RunActivityWatcherPass(game.Base(), kGameMemory, &game.remembered);
    EXPECT_FALSE(WorkerArmed);
    EXPECT_TRUE(ListIdle);

    list[1] = 9;
    RequestArm();
    RunActivityWatcherPass(game.Base(), kGameMemory, &game.remembered);
    EXPECT_TRUE(WorkerArmed);
    EXPECT_FALSE(ListIdle);

    ArmRequest = false;
    list[1] = 0;
    RunActivityWatcherPass(game.Base(), kGameMemory, &game.remembered);
    EXPECT_TRUE(WorkerArmed); // stays armed
    EXPECT_TRUE(ListIdle);
}

TEST(WatcherReads, ListFreedAndRemadeWhileScanningNeverFaults) {
    Game game;
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> remakes{0};
    // The game: a list of 1 MiB (memory of its own, as a big allocation is)
    // freed and made again, over and over, with its entry at the end.
    std::thread churn([&] {
        while (!stop) {
            std::uint64_t* list = Pages(256);
            list[131072 - 1] = 1;
            game.Point(list, 131072);
            VirtualFree(list, 0, MEM_RELEASE);
            ++remakes;
        }
    });
    // As many passes as it takes for the list to be remade a thousand
    // times under them (a bound of 20 s that only a stuck machine reaches).
    int passes = 0;
    for (ULONGLONG end = GetTickCount64() + 20000;
         (passes < 1000 || remakes < 1000) && GetTickCount64() < end; ++passes) {
        RunActivityWatcherPass(game.Base(), kGameMemory, &game.remembered);
    }
    stop = true;
    churn.join();
    std::printf("list-churn: passes=%d remakes=%llu\n", passes,
                static_cast<unsigned long long>(remakes.load()));
    EXPECT_GE(passes, 1000);
    EXPECT_GE(remakes, 1000u);
}
