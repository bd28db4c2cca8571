// Logs the process's and the machine's memory figures every 5 seconds and
// trims the working set when free RAM is at or below 4096 MB, at most once
// every 120 seconds.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
DWORD WINAPI MemoryMonitorThread(LPVOID) noexcept;
#endif

constexpr std::uint64_t kLowFreeMemoryMb = 4096;
constexpr std::uint64_t kTrimSpacingMs = 120000;

// What one pass needs from the platform, so that a pass can be run natively
// with failing queries, exact byte counts and any tick count.
struct MemoryMonitorPlatform {
    bool (*queryProcess)(std::size_t* workingSetBytes, std::size_t* pagefileBytes);
    bool (*queryAvailablePhysical)(std::uint64_t* bytes);
    std::uint64_t (*tickCount)();
    bool (*trimWorkingSet)(); // false when the system refused
    void (*log)(const char* format, ...);
};

#ifdef _WIN32
// The real queries, trim and Log.
MemoryMonitorPlatform MemoryMonitorWin32Platform();
#endif

// One pass after its sleep; returns the new lastTrimTick.
std::uint64_t RunMemoryMonitorPass(const MemoryMonitorPlatform& platform,
                                   std::uint64_t lastTrimTick);
