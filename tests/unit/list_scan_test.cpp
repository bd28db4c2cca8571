#include "workers/activity_watcher.h"
#include "workers/worker_flags.h"

#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <vector>

// A pretend address space: a few readable runs of pages, nothing else.
namespace {
std::map<std::uintptr_t, std::vector<std::uint8_t>> runs;
std::size_t bytesCopied = 0, entriesScanned = 0;
std::uintptr_t vanishesAt = 0; // a scan that reaches this address faults

auto RunAt(std::uintptr_t address) {
    auto run = runs.upper_bound(address);
    if (run == runs.begin() || address - (--run)->first >= run->second.size()) {
        return runs.end();
    }
    return run;
}

std::uintptr_t FakeReadable(std::uintptr_t address) {
    auto run = RunAt(address);
    return run == runs.end() ? 0 : run->first + run->second.size() - address;
}

bool FakeRead(std::uintptr_t address, void* out, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        auto run = RunAt(address + i);
        if (run == runs.end()) {
            return false;
        }
        static_cast<std::uint8_t*>(out)[i] = run->second[address + i - run->first];
    }
    bytesCopied += size;
    return true;
}

int FakeScan(std::uintptr_t address, std::size_t count) {
    EXPECT_GE(FakeReadable(address), count * 8) << "scanned past the readable run";
    for (std::size_t i = 0; i < count; ++i, address += 8) {
        if (vanishesAt != 0 && address >= vanishesAt) {
            return -1;
        }
        ++entriesScanned;
        std::uint64_t entry;
        std::memcpy(&entry, runs[RunAt(address)->first].data() + address - RunAt(address)->first,
                    8);
        if (entry != 0) {
            return 1;
        }
    }
    return 0;
}

const GameMemory fake = {FakeRead, FakeReadable, FakeScan};
constexpr std::uintptr_t kBase = 0x140000000, kHolder = 0x7000000, kEntries = 0x9000000;

std::vector<std::uint8_t> Bytes(const std::vector<std::uint64_t>& words) {
    std::vector<std::uint8_t> bytes(words.size() * 8);
    std::memcpy(bytes.data(), words.data(), bytes.size());
    return bytes;
}

// The slot at the base, a holder with count and entries, and the list.
void MakeGame(std::uint64_t holder, std::uint32_t count, std::uint64_t entries,
              const std::vector<std::uint64_t>& list) {
    runs.clear();
    bytesCopied = entriesScanned = 0;
    vanishesAt = 0;
    runs[kBase + kHolderSlotOffset] = Bytes({holder});
    runs[kHolder] = std::vector<std::uint8_t>(0x440);
    std::memcpy(runs[kHolder].data() + kEntryCountOffset, &count, 4);
    std::memcpy(runs[kHolder].data() + kEntriesOffset, &entries, 8);
    runs[kEntries] = Bytes(list);
}

bool Present() {
    return ListHasPresentEntry(kBase, fake);
}
} // namespace

TEST(ListScan, NoHolderNoCountOrOnlyEmptyEntriesIsIdle) {
    MakeGame(0, 3, kEntries, {1, 2, 3});
    EXPECT_FALSE(Present());
    EXPECT_EQ(bytesCopied, 8u); // only the slot

    MakeGame(kHolder, 0, kEntries, {1, 2, 3});
    EXPECT_FALSE(Present());
    EXPECT_EQ(bytesCopied, 8u + 4 + 8); // and the holder's two fields, no entry
    EXPECT_EQ(entriesScanned, 0u);

    MakeGame(kHolder, 4000, kEntries, std::vector<std::uint64_t>(4000, 0));
    EXPECT_FALSE(Present());
    EXPECT_EQ(entriesScanned, 4000u);
}

TEST(ListScan, OneEntryAnywhereIsEnoughAndIsSearchedInPlace) {
    std::vector<std::uint64_t> list(5000, 0);
    list.front() = 1;
    MakeGame(kHolder, 5000, kEntries, list);
    EXPECT_TRUE(Present());
    EXPECT_EQ(entriesScanned, 1u); // stopped at once

    list.front() = 0;
    list.back() = 0x8000000000000000;
    MakeGame(kHolder, 5000, kEntries, list);
    EXPECT_TRUE(Present());
    EXPECT_EQ(bytesCopied, 8u + 4 + 8); // the entries were not copied

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

    // A list that runs off the top of the address space.
    MakeGame(kHolder, 4, 0xFFFFFFFFFFFFFFF0, {});
    runs[0xFFFFFFFFFFFFFFF0] = Bytes({0, 0});
    EXPECT_FALSE(Present());
}

TEST(ListScan, ReadableRunsAreFollowedUpToTheFirstHole) {
    // The list spans two runs side by side; its entry is in the second.
    MakeGame(kHolder, 600, kEntries, std::vector<std::uint64_t>(512, 0));
    std::vector<std::uint64_t> second(88, 0);
    second[87] = 7;
    runs[kEntries + 4096] = Bytes(second);
    EXPECT_TRUE(Present());
    EXPECT_EQ(entriesScanned, 600u);

    // A hole after the first run: what lies past it counts as nothing.
    runs.erase(kEntries + 4096);
    runs[kEntries + 8192] = Bytes(second);
    EXPECT_FALSE(Present());
    MakeGame(kHolder, 0xFFFFFFFF, kEntries, {0, 0, 5}); // a count far past the readable end
    EXPECT_TRUE(Present());

    // Memory that goes away in the middle of a scan ends it.
    MakeGame(kHolder, 1000, kEntries, std::vector<std::uint64_t>(1000, 0));
    runs[kEntries][999 * 8] = 1;
    vanishesAt = kEntries + 400 * 8;
    EXPECT_FALSE(Present());
    EXPECT_EQ(entriesScanned, 400u);
}

TEST(ListScan, EntriesOffTheirAlignmentAreReadWhole) {
    // Three bytes past a page start: entry 511 straddles two runs and is
    // copied whole; the rest are searched in place.
    MakeGame(kHolder, 1000, kEntries + 3, {});
    runs[kEntries + 4096] = std::vector<std::uint8_t>(4096);
    runs[kEntries] = std::vector<std::uint8_t>(4096);
    runs[kEntries + 4096][2] = 1; // the last byte of entry 511
    EXPECT_TRUE(Present());
    EXPECT_EQ(entriesScanned, 511u);

    runs[kEntries + 4096][2] = 0;
    runs[kEntries + 4096][3900] = 1; // in entry 999, the last
    EXPECT_TRUE(Present());
}

TEST(WatcherPass, ArmingIsOneWayAndIdleFollowsEverySample) {
    ArmRequest = false;
    WorkerArmed = false;
    MakeGame(kHolder, 3, kEntries, {0, 0, 0});
    RunActivityWatcherPass(kBase, fake);
    EXPECT_FALSE(WorkerArmed);
    EXPECT_TRUE(ListIdle);

    MakeGame(kHolder, 3, kEntries, {0, 9, 0});
    RequestArm();
    RunActivityWatcherPass(kBase, fake);
    EXPECT_TRUE(WorkerArmed);
    EXPECT_FALSE(ListIdle);

    ArmRequest = false;
    MakeGame(kHolder, 3, kEntries, {0, 0, 0});
    RunActivityWatcherPass(kBase, fake);
    EXPECT_TRUE(WorkerArmed); // stays armed
    EXPECT_TRUE(ListIdle);
}
