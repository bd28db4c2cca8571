// Benchmarks shared by the native and the Windows (Wine) bench programs. Each
// prints table rows: what, our figure, the baseline's figure, their ratio.
#pragma once

#include "workers/activity_watcher.h"
#include "workers/cpu_worker.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

inline double NowSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Median seconds per call of f over rounds of calls, after one warm-up round.
template <class F> double SecondsPerCall(F f, int calls, int rounds = 7) {
    std::vector<double> samples;
    for (int round = 0; round <= rounds; ++round) {
        double start = NowSeconds();
        for (int i = 0; i < calls; ++i) {
            f();
        }
        if (round > 0) {
            samples.push_back((NowSeconds() - start) / calls);
        }
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

inline void Row(const char* what, const char* unit, double ours, double baseline) {
    std::printf("| %s | %.4g %s | %.4g %s | %.2f |\n", what, ours, unit, baseline, unit,
                ours / baseline);
    std::fflush(stdout);
}

// The worker's summation against the plainest dependent chain of additions:
// the same number of double additions, each waiting for the one before.
inline void BenchWorkerTerms(const char* where) {
    constexpr std::int32_t n = 10'000'000;
    volatile double stepSource = 0.0001;
    double sink = 0;
    double ours = SecondsPerCall([&] { sink += AddWorkTerms(0.0, n); }, 1, 5) / n;
    double baseline = SecondsPerCall(
                          [&] {
                              double step = stepSource, sum = 0.0;
                              for (std::int32_t i = 0; i < n; ++i) {
                                  sum += step;
                              }
                              sink += sum;
                          },
                          1, 5) /
                      n;
    char what[96];
    std::snprintf(what, sizeof what, "CPU worker, per term (%s) vs one dependent add", where);
    Row(what, "ns", ours * 1e9, baseline * 1e9);
    if (sink == 42) {
        std::puts("");
    }
}

// A pretend game: the holder slot at base + offset, a holder, and the list.
struct BenchGame {
    std::uint64_t slot = 0; // the game's base lies kHolderSlotOffset below it
    std::vector<std::uint8_t> holder = std::vector<std::uint8_t>(0x440);
    std::vector<std::uint64_t> entries;

    BenchGame(std::uint32_t count, bool presentLast) : entries(count, 0) {
        (presentLast ? entries.back() : entries.front()) = 1;
        std::uint64_t holderAddress = reinterpret_cast<std::uintptr_t>(holder.data());
        std::uint64_t entriesAddress = reinterpret_cast<std::uintptr_t>(entries.data());
        slot = holderAddress;
        std::copy_n(reinterpret_cast<std::uint8_t*>(&count), 4, holder.data() + kEntryCountOffset);
        std::copy_n(reinterpret_cast<std::uint8_t*>(&entriesAddress), 8,
                    holder.data() + kEntriesOffset);
    }
    std::uintptr_t Base() const {
        return reinterpret_cast<std::uintptr_t>(&slot) - kHolderSlotOffset;
    }
};

// Plain loads: what the watcher would cost if it trusted the game's memory.
inline bool PlainScan(std::uintptr_t base) {
    auto holder = *reinterpret_cast<const volatile std::uint64_t*>(base + kHolderSlotOffset);
    if (holder == 0) {
        return false;
    }
    std::uint32_t count =
        *reinterpret_cast<const volatile std::uint32_t*>(holder + kEntryCountOffset);
    auto entries = *reinterpret_cast<const std::uint64_t* const volatile*>(holder + kEntriesOffset);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (entries[i] != 0) {
            return true;
        }
    }
    return false;
}

inline void BenchWatcherPass(const char* where, MemoryReader read) {
    for (std::uint32_t count : {1u, 1000u, 1000000u}) {
        for (bool last : {false, true}) {
            if (count == 1 && last) {
                continue;
            }
            BenchGame game(count, last);
            int calls = count >= 1000000 ? 3 : 2000;
            bool seen = true;
            double ours =
                SecondsPerCall([&] { seen &= ListHasPresentEntry(game.Base(), read); }, calls);
            double baseline = SecondsPerCall([&] { seen &= PlainScan(game.Base()); }, calls);
            char what[128];
            std::snprintf(what, sizeof what, "Watcher pass (%s), %u entries, present entry %s",
                          where, count, last ? "last" : "first");
            Row(what, "us", ours * 1e6, baseline * 1e6);
            if (!seen) {
                std::puts("(the scan missed the present entry)");
            }
        }
    }
}
