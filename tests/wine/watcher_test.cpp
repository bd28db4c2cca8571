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
    void Point(std::uint64_t entries, std::uint32_t count) {
        slot = reinterpret_cast<std::uintptr_t>(holder);
        std::memcpy(holder + kEntryCountOffset, &count, 4);
        std::memcpy(holder + kEntriesOffset, &entries, 8);
    }
};

std::uint8_t* Reserve() {
    return static_cast<std::uint8_t*>(VirtualAlloc(nullptr, kRegion, MEM_RESERVE, PAGE_NOACCESS));
}
} // namespace

TEST(GuardedCopy, UnreadableMemoryFailsInsteadOfFaulting) {
    std::uint8_t* reserved = Reserve();
    std::uint8_t* page =
        static_cast<std::uint8_t*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_READWRITE));
    std::memset(page, 0xAB, 4096);
    std::uint8_t out[64] = {};
    EXPECT_TRUE(GuardedCopy(out, reinterpret_cast<std::uintptr_t>(page), 64));
    EXPECT_EQ(out[63], 0xAB);

    DWORD old;
    VirtualProtect(page, 4096, PAGE_NOACCESS, &old);
    EXPECT_FALSE(GuardedCopy(out, reinterpret_cast<std::uintptr_t>(page), 64));
    VirtualFree(page, 0, MEM_RELEASE);
    EXPECT_FALSE(GuardedCopy(out, reinterpret_cast<std::uintptr_t>(page), 64)); // freed
    EXPECT_FALSE(GuardedCopy(out, reinterpret_cast<std::uintptr_t>(reserved) + 4096, 8));
    EXPECT_FALSE(GuardedCopy(out, 0, 8));
    EXPECT_FALSE(GuardedCopy(out, 0xDEADBEEFDEADBEEF, 8)); // not even an address
    VirtualFree(reserved, 0, MEM_RELEASE);
}

TEST(GuardedCopy, OtherFaultsOfTheGameAreNotSwallowed) {
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
    std::uint8_t out[8];
    GuardedCopy(out, 0, 8); // makes sure the plugin's handler is installed, and first
    asm volatile("xor %%eax, %%eax\n\t"
                 "mov (%%rax), %%eax\n\t"
                 "nop" ::
                     : "rax", "memory");
    RemoveVectoredExceptionHandler(handler);
    EXPECT_EQ(seen, 1);
}

extern "C" const char qs_guarded_copy_fault[];

TEST(GuardedCopy, StackCanBeWalkedFromTheFaultingInstruction) {
    // At the copy, the stack holds the saved rdi and rsi, then the return
    // address: an unwind from there must find the caller.
    DWORD64 imageBase = 0;
    auto at = reinterpret_cast<DWORD64>(qs_guarded_copy_fault);
    PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(at, &imageBase, nullptr);
    ASSERT_NE(function, nullptr) << "no unwind information";
    DWORD64 stack[3] = {0x1111, 0x2222, 0xCA11E5};
    CONTEXT context = {};
    context.Rip = at;
    context.Rsp = reinterpret_cast<DWORD64>(stack);
    PVOID handlerData = nullptr;
    DWORD64 establisher = 0;
    RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, at, function, &context, &handlerData,
                     &establisher, nullptr);
    EXPECT_EQ(context.Rip, 0xCA11E5u);
    EXPECT_EQ(context.Rsp, reinterpret_cast<DWORD64>(stack + 3));
    EXPECT_EQ(context.Rdi, 0x1111u);
    EXPECT_EQ(context.Rsi, 0x2222u);
}

TEST(WatcherReads, GuardPagesAreNeverTouched) {
    std::uint8_t* list =
        static_cast<std::uint8_t*>(VirtualAlloc(nullptr, 8192, MEM_COMMIT, PAGE_READWRITE));
    reinterpret_cast<std::uint64_t*>(list)[600] = 1; // in the second page
    DWORD old;
    VirtualProtect(list + 4096, 4096, PAGE_READWRITE | PAGE_GUARD, &old);
    Game game;
    game.Point(reinterpret_cast<std::uintptr_t>(list), 1024);
    EXPECT_FALSE(ListHasPresentEntry(game.Base(), ReadGameMemory));
    MEMORY_BASIC_INFORMATION info;
    VirtualQuery(list + 4096, &info, sizeof info);
    EXPECT_TRUE(info.Protect & PAGE_GUARD) << "the game's guard page was used up";
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
            auto* list = static_cast<std::uint64_t*>(
                VirtualAlloc(nullptr, kRegion, MEM_COMMIT, PAGE_READWRITE));
            list[kRegion / 8 - 1] = 1;
            game.Point(reinterpret_cast<std::uintptr_t>(list), kRegion / 8);
            VirtualFree(list, 0, MEM_RELEASE);
            ++remakes;
        }
    });
    int passes = 0;
    for (ULONGLONG end = GetTickCount64() + 2000; GetTickCount64() < end; ++passes) {
        RunActivityWatcherPass(game.Base(), ReadGameMemory);
    }
    stop = true;
    churn.join();
    EXPECT_GT(passes, 100);
    EXPECT_GT(remakes, 100u);
}

TEST(WatcherReads, RandomHostileLayoutsForThousandsOfPasses) {
    std::uint8_t* reserved = Reserve();
    auto* readable =
        static_cast<std::uint64_t*>(VirtualAlloc(reserved, 65536, MEM_COMMIT, PAGE_READWRITE));
    std::mt19937_64 random(7);
    const std::uint64_t pointers[] = {0,
                                      reinterpret_cast<std::uintptr_t>(readable),
                                      reinterpret_cast<std::uintptr_t>(readable) + 65536 - 8,
                                      reinterpret_cast<std::uintptr_t>(reserved) + 65536,
                                      reinterpret_cast<std::uintptr_t>(reserved) + kRegion,
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
        std::uint64_t holder = pass % 5 == 0 ? pointers[random() % std::size(pointers)]
                                             : reinterpret_cast<std::uintptr_t>(game.holder);
        game.Point(pointers[random() % std::size(pointers)], static_cast<std::uint32_t>(random()));
        game.slot = holder;
        RunActivityWatcherPass(game.Base(), ReadGameMemory);
    }
    VirtualFree(reserved, 0, MEM_RELEASE);
}
