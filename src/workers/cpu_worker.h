// Loads the settings, reports the overlay setting, then runs a paced loop whose
// floating-point summation works only while armed and while the game's list
// has an entry.
#pragma once

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
DWORD WINAPI CpuWorkerThread(LPVOID) noexcept;
#endif

constexpr std::int32_t kActivePassesPerReport = 100;

struct CpuWorkerState {
    double workSum = 0.0;          // grows over the thread's life, never reset
    std::int32_t activePasses = 0; // since the last report
};

// Adds the terms i * 0.0001 + 0.0 for i = 0 .. n-1 to sum, one at a time, each
// rounded to double. Built without contraction or reassociation, so the result
// is bit-exact at every optimisation level.
double AddWorkTerms(double sum, std::int32_t n);

// One active pass: the summation and the count. True when a report is due; the
// count then starts again from 0.
bool RunActivePass(CpuWorkerState& state, std::int32_t iterations);

// The pause after a pass. A negative setting (a typo, most likely) waits the
// default 5 ms: as an unsigned value it would be a wait of weeks, or INFINITE
// for -1, and as 0 it would keep a core busy for the life of the game. 0 stays
// 0, the player's own choice.
std::uint32_t WorkerSleepMs(std::int32_t sleepMs);
