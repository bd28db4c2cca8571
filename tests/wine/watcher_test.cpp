// The activity watcher's reads of game memory, on real pages under Wine: no
// layout of the game's memory, and no page freed mid-read, may fault.
#include "workers/activity_watcher.h"
#include "workers/worker_flags.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <thread>

namespace {
constexpr std::size_t kRegion = 1 << 20;

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
    bool Present() const { return ListHasPresentEntry(Base(), kGameMemory); }
};

std::uint64_t* Pages(std::size_t count, DWORD protect = PAGE_READWRITE) {
    return static_cast<std::uint64_t*>(VirtualAlloc(nullptr, count * 4096, MEM_COMMIT, protect));
}

std::uintptr_t Address(const void* p) {
    return reinterpret_cast<std::uintptr_t>(p);
}
} // namespace

TEST(GuardedReads, UnreadableMemoryFailsInsteadOfFaulting) {
    std::uint64_t* page = Pages(2);
    page[3] = 0xABCD;
    std::uint64_t out = 0;
    EXPECT_TRUE(GuardedCopy(&out, Address(page + 3), 8));
    EXPECT_EQ(out, 0xABCDu);
    EXPECT_EQ(GuardedScan(Address(page), 3), 0);
    EXPECT_EQ(GuardedScan(Address(page), 1024), 1);

    // The second page goes away: a fault at any load of the scan or the copy
    // ends it softly, the first load of a round of four or the last.
    DWORD old;
    VirtualProtect(page + 512, 4096, PAGE_NOACCESS, &old);
    page[3] = 0;
    for (std::size_t before = 0; before <= 4; ++before) {
        EXPECT_EQ(GuardedScan(Address(page + 512 - before), 5), -1) << before;
    }
    EXPECT_FALSE(GuardedCopy(&out, Address(page + 512) - 3, 8));
    VirtualFree(page, 0, MEM_RELEASE);
    EXPECT_FALSE(GuardedCopy(&out, Address(page), 8)); // freed
    EXPECT_EQ(GuardedScan(Address(page), 8), -1);
    EXPECT_FALSE(GuardedCopy(&out, 0, 8));
    EXPECT_EQ(GuardedScan(0xDEADBEEFDEADBEEF, 1), -1); // not even an address
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
    GuardedCopy(&out, 0, 8); // makes sure the plugin's handler is installed, and first
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

TEST(WatcherReads, RegionsAreFollowedToTheFirstHoleAndGuardPagesNeverTouched) {
    // Three pages: read-write, read-only, then a guard page.
    std::uint64_t* list = Pages(3);
    DWORD old;
    VirtualProtect(list + 512, 4096, PAGE_READONLY, &old);
    VirtualProtect(list + 1024, 4096, PAGE_READWRITE | PAGE_GUARD, &old);
    Game game;
    game.Point(list, 1536);
    EXPECT_FALSE(game.Present());
    MEMORY_BASIC_INFORMATION info;
    VirtualQuery(list + 1024, &info, sizeof info);
    EXPECT_TRUE(info.Protect & PAGE_GUARD) << "the game's guard page was used up";

    VirtualProtect(list + 512, 4096, PAGE_READWRITE, &old);
    list[1023] = 1; // the last entry before the guard page
    VirtualProtect(list + 512, 4096, PAGE_READONLY, &old);
    EXPECT_TRUE(game.Present());
    game.Point(list, 1023);
    EXPECT_FALSE(game.Present());
    VirtualProtect(list + 512, 4096, PAGE_READWRITE, &old);
    list[512] = 0x100;
    VirtualProtect(list + 512, 4096, PAGE_READONLY, &old);
    game.Point(reinterpret_cast<std::uint8_t*>(list) + 4092, 1); // across the two regions
    EXPECT_TRUE(game.Present());
    VirtualFree(list, 0, MEM_RELEASE);
}

TEST(WatcherReads, ListFreedAndRemadeWhileScanningNeverFaults) {
    Game game;
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> remakes{0};
    // The game: a large list (memory of its own, as a big allocation is)
    // freed and made again, over and over, with its entry at the end.
    std::thread churn([&] {
        while (!stop) {
            std::uint64_t* list = Pages(kRegion / 4096);
            list[kRegion / 8 - 1] = 1;
            game.Point(list, kRegion / 8);
            VirtualFree(list, 0, MEM_RELEASE);
            ++remakes;
        }
    });
    int passes = 0;
    for (ULONGLONG end = GetTickCount64() + 2000; GetTickCount64() < end; ++passes) {
        RunActivityWatcherPass(game.Base(), kGameMemory);
    }
    stop = true;
    churn.join();
    EXPECT_GT(passes, 100);
    EXPECT_GT(remakes, 100u);
}

TEST(WatcherReads, RandomHostileLayoutsForThousandsOfPasses) {
    auto* reserved =
        static_cast<std::uint8_t*>(VirtualAlloc(nullptr, kRegion, MEM_RESERVE, PAGE_NOACCESS));
    auto* readable =
        static_cast<std::uint64_t*>(VirtualAlloc(reserved, 65536, MEM_COMMIT, PAGE_READWRITE));
    std::mt19937_64 random(7);
    const std::uint64_t pointers[] = {0,
                                      Address(readable),
                                      Address(readable) + 65536 - 8,
                                      Address(reserved) + 65536,
                                      Address(reserved) + kRegion,
                                      0xFFFFFFFFFFFFFFF8,
                                      0x10,
                                      0x00007FFFFFFEFFFF,
                                      0xDEADBEEFDEADBEEF};
    Game game;
    for (int pass = 0; pass < 20000; ++pass) {
        for (int i = 0; i < 64; ++i) {
            readable[random() % 8192] =
                random() % 3 == 0 ? pointers[random() % std::size(pointers)] : random();
        }
        std::uint64_t holder =
            pass % 5 == 0 ? pointers[random() % std::size(pointers)] : Address(game.holder);
        game.Point(reinterpret_cast<void*>(pointers[random() % std::size(pointers)]),
                   static_cast<std::uint32_t>(random()));
        game.slot = holder;
        RunActivityWatcherPass(game.Base(), kGameMemory);
    }
    VirtualFree(reserved, 0, MEM_RELEASE);
}
