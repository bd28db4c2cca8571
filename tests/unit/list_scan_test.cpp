// The walk over the game's list, against a memory whose answers the test sets:
// what it loads, with which width, and what a scan that faults means.
#include "workers/activity_watcher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

namespace {
// Two runs of readable pages side by side; everything else is unreadable.
constexpr std::uintptr_t kBase = 0x100000, kSecondRun = kBase + 0x1000, kEnd = kBase + 0x2000;
struct Memory {
    alignas(8) std::uint8_t bytes[kEnd - kBase] = {};
    std::vector<std::pair<std::uintptr_t, std::size_t>> loads; // address, width
    int scanAnswer = 0;                                        // 0: look at the entries
    void Put(std::uintptr_t address, std::uint64_t value, std::size_t size = 8) {
        std::memcpy(bytes + (address - kBase), &value, size);
    }
} memory;

const GameMemory kFake = {[](std::uintptr_t address) -> std::uintptr_t {
                              if (address < kBase || address >= kEnd) {
                                  return 0;
                              }
                              return (address < kSecondRun ? kSecondRun : kEnd) - address;
                          },
                          [](std::uintptr_t address, std::size_t size, std::uint64_t* value) {
                              EXPECT_TRUE(address >= kBase && address + size <= kEnd)
                                  << "an unchecked load";
                              memory.loads.emplace_back(address, size);
                              *value = 0;
                              std::memcpy(value, memory.bytes + (address - kBase), size);
                              return true;
                          },
                          [](std::uintptr_t address, std::size_t count) {
                              for (std::size_t i = 0; memory.scanAnswer == 0 && i < count; ++i) {
                                  std::uint64_t entry;
                                  std::memcpy(&entry, memory.bytes + (address - kBase) + 8 * i, 8);
                                  if (entry != 0) {
                                      return 1;
                                  }
                              }
                              return memory.scanAnswer;
                          }};

// The holder slot at kBase, the holder behind it, and a list of two entries
// whose first lies across the two runs.
constexpr std::uintptr_t kModuleBase = kBase - kHolderSlotOffset, kHolder = kBase + 0x10,
                         kList = kSecondRun - 4;
void SetUpList() {
    memory = {};
    memory.Put(kBase, kHolder);
    memory.Put(kHolder + kEntryCountOffset, 0xFFFFFFFF00000002); // the count is the low half
    memory.Put(kHolder + kEntriesOffset, kList);
}
} // namespace

TEST(ListWalk, EachWordIsReadWithOneLoadOfItsOwnWidth) {
    SetUpList();
    EXPECT_FALSE(ListHasPresentEntry(kModuleBase, kFake));
    using Loads = std::vector<std::pair<std::uintptr_t, std::size_t>>;
    EXPECT_EQ(memory.loads, (Loads{{kBase, 8},
                                   {kHolder + kEntryCountOffset, 4},
                                   {kHolder + kEntriesOffset, 8},
                                   {kList, 8}})); // the entry across the runs; the next is scanned
    memory.Put(kList + 8, 5);
    EXPECT_TRUE(ListHasPresentEntry(kModuleBase, kFake));
    memory.Put(kList + 8, 0);
    memory.Put(kList, std::uint64_t{1} << 40);
    EXPECT_TRUE(ListHasPresentEntry(kModuleBase, kFake));
}

TEST(ListWalk, AScanThatTheGameLeftMidwayIsNoEntry) {
    SetUpList();
    memory.Put(kHolder + kEntriesOffset, kSecondRun);
    memory.scanAnswer = -1;
    EXPECT_FALSE(ListHasPresentEntry(kModuleBase, kFake));
    memory.scanAnswer = 1;
    EXPECT_TRUE(ListHasPresentEntry(kModuleBase, kFake));
}
