#include "workers/memory_monitor.h"

#include "log/log.h"

#include <psapi.h>

static bool QueryProcess(std::size_t* workingSetBytes, std::size_t* pagefileBytes) {
    // The kernel32 form, so that no psapi.dll is loaded by name from the
    // game's folder.
    PROCESS_MEMORY_COUNTERS counters;
    if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        return false;
    }
    *workingSetBytes = counters.WorkingSetSize;
    *pagefileBytes = counters.PagefileUsage;
    return true;
}

static bool QueryAvailablePhysical(std::uint64_t* bytes) {
    MEMORYSTATUSEX status;
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) {
        return false;
    }
    *bytes = status.ullAvailPhys;
    return true;
}

static std::uint64_t TickCount() {
    return GetTickCount64();
}

static bool TrimWorkingSet() {
    // Both limits all ones: remove as many pages as the system allows.
    return SetProcessWorkingSetSize(GetCurrentProcess(), static_cast<SIZE_T>(-1),
                                    static_cast<SIZE_T>(-1)) != FALSE;
}

MemoryMonitorPlatform MemoryMonitorWin32Platform() {
    static_assert(sizeof(PROCESS_MEMORY_COUNTERS) == 72 && sizeof(MEMORYSTATUSEX) == 64);
    return {QueryProcess, QueryAvailablePhysical, TickCount, TrimWorkingSet, Log};
}

DWORD WINAPI MemoryMonitorThread(LPVOID) noexcept {
    const MemoryMonitorPlatform platform = MemoryMonitorWin32Platform();
    std::uint64_t lastTrimTick = 0;
    for (;;) {
        Sleep(5000);
        lastTrimTick = RunMemoryMonitorPass(platform, lastTrimTick);
    }
}
