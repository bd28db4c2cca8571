#include "workers/activity_watcher.h"
#include "workers/worker_flags.h"

#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <vector>

// A pretend address space: a few readable regions, everything else unreadable.
namespace {
std::map<std::uintptr_t, std::vector<std::uint8_t>> regions;
std::size_t bytesRead = 0;

bool FakeRead(std::uintptr_t address, void* out, std::size_t size) {
    auto region = regions.upper_bound(address);
    if (region == regions.begin()) {
        return false;
    }
    --region;
    std::uintptr_t offset = address - region->first;
    if (offset > region->second.size() || region->second.size() - offset < size) {
        return false;
    }
    std::memcpy(out, region->second.data() + offset, size);
    bytesRead += size;
    return true;
}

constexpr std::uintptr_t kBase = 0x140000000;
constexpr std::uintptr_t kHolder = 0x7000000;
constexpr std::uintptr_t kEntries = 0x9000000;

void PutU64(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint64_t value) {
    std::memcpy(bytes.data() + at, &value, 8);
}

// The slot at the base, a holder with count and entries, and the entries.
void MakeGame(std::uint64_t holder, std::uint32_t count, std::uint64_t entries,
              std::vector<std::uint64_t> list) {
    regions.clear();
    bytesRead = 0;
    std::vector<std::uint8_t> slot(8);
    PutU64(slot, 0, holder);
    regions[kBase + kHolderSlotOffset] = slot;
    std::vector<std::uint8_t> holderBytes(0x440);
    std::memcpy(holderBytes.data() + kEntryCountOffset, &count, 4);
    PutU64(holderBytes, kEntriesOffset, entries);
    regions[kHolder] = holderBytes;
    std::vector<std::uint8_t> entryBytes(list.size() * 8);
    std::memcpy(entryBytes.data(), list.data(), entryBytes.size());
    regions[kEntries] = entryBytes;
}

bool Present() {
    return ListHasPresentEntry(kBase, FakeRead);
}
} // namespace

TEST(ListScan, NoHolderOrNoPresentEntryIsIdle) {
    MakeGame(0, 3, kEntries, {1, 2, 3});
    EXPECT_FALSE(Present());
    EXPECT_EQ(bytesRead, 8u); // only the slot

    MakeGame(kHolder, 0, kEntries, {1, 2, 3});
    EXPECT_FALSE(Present());
    EXPECT_EQ(bytesRead, 8u + 4 + 8); // slot and holder fields, no entry

    MakeGame(kHolder, 4000, kEntries, std::vector<std::uint64_t>(4000, 0));
    EXPECT_FALSE(Present());
}

TEST(ListScan, OneEntryAnywhereIsEnough) {
    std::vector<std::uint64_t> list(5000, 0);
    list.front() = 1;
    MakeGame(kHolder, 5000, kEntries, list);
    EXPECT_TRUE(Present());
    EXPECT_LT(bytesRead, 20000u); // stopped in the first block, not at the end of the list

    list.front() = 0;
    list.back() = 0x8000000000000000;
    MakeGame(kHolder, 5000, kEntries, list);
    EXPECT_TRUE(Present());

    MakeGame(kHolder, 4999, kEntries, list); // the present entry lies past the count
    EXPECT_FALSE(Present());
}

TEST(ListScan, UnreadableMemoryCountsAsNoEntry) {
    MakeGame(0xDEAD0000, 3, kEntries, {1, 1, 1}); // holder unreadable
    EXPECT_FALSE(Present());

    MakeGame(kHolder, 3, 0, {1, 1, 1}); // entries null
    EXPECT_FALSE(Present());

    MakeGame(kHolder, 3, 0xBAD00000, {1, 1, 1}); // entries unreadable
    EXPECT_FALSE(Present());

    MakeGame(kHolder, 2, 0xFFFFFFFFFFFFFFF8, {}); // a list that runs off the address space
    EXPECT_FALSE(Present());
}

TEST(ListScan, ACountPastTheReadableEndStopsAtTheHole) {
    // Six pages readable, then nothing: readability comes in whole pages.
    std::vector<std::uint64_t> list(3072, 0);
    MakeGame(kHolder, 0xFFFFFFFF, kEntries, list);
    EXPECT_FALSE(Present());
    EXPECT_LT(bytesRead, 100000u);

    list[3071] = 7; // the last readable entry, in the block that fails as a whole
    MakeGame(kHolder, 0xFFFFFFFF, kEntries, list);
    EXPECT_TRUE(Present());
}

TEST(ListScan, MisalignedEntriesAreReadWhole) {
    std::vector<std::uint64_t> list(4000, 0);
    list[3999] = 1;
    MakeGame(kHolder, 4000, kEntries, list);
    regions[kEntries + 3] = regions[kEntries]; // the same list, 3 bytes off alignment
    regions.erase(kEntries);
    std::vector<std::uint8_t>& holder = regions[kHolder];
    PutU64(holder, kEntriesOffset, kEntries + 3);
    EXPECT_TRUE(Present());
}

TEST(WatcherPass, ArmingIsOneWayAndIdleFollowsEverySample) {
    ArmRequest = false;
    WorkerArmed = false;
    MakeGame(kHolder, 3, kEntries, {0, 0, 0});
    RunActivityWatcherPass(kBase, FakeRead);
    EXPECT_FALSE(WorkerArmed);
    EXPECT_TRUE(ListIdle);

    MakeGame(kHolder, 3, kEntries, {0, 9, 0});
    RequestArm();
    RunActivityWatcherPass(kBase, FakeRead);
    EXPECT_TRUE(WorkerArmed);
    EXPECT_FALSE(ListIdle);

    ArmRequest = false;
    MakeGame(kHolder, 3, kEntries, {0, 0, 0});
    RunActivityWatcherPass(kBase, FakeRead);
    EXPECT_TRUE(WorkerArmed); // stays armed
    EXPECT_TRUE(ListIdle);
}
