#include "standin_clock.h"

#include "standin_imports.h"
#include "standin_report.h"

static ClockOptions pluginClock;
static ULONGLONG tickAtInstall = 0;
static LARGE_INTEGER counterAtInstall = {}, counterFrequency = {};

// The plugin's clock: from tickStart (or the real tick count at the load) on,
// tickSpeed times as fast as the real one. Counted from the performance
// counter, so that a clock that runs fast still moves in steps of a game
// millisecond or so, not of tickSpeed of them.
ULONGLONG PluginClockStart() {
    return pluginClock.tickStart >= 0 ? pluginClock.tickStart : tickAtInstall;
}

ULONGLONG PluginTickCount() {
    if (counterFrequency.QuadPart == 0) { // no plugin loaded: its clock would be the real one
        return GetTickCount64();
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    auto elapsedUs = static_cast<ULONGLONG>((now.QuadPart - counterAtInstall.QuadPart) * 1000000.0 /
                                            counterFrequency.QuadPart);
    return PluginClockStart() + elapsedUs * pluginClock.tickSpeed / 1000;
}

static ULONGLONG WINAPI PluginTickCount64() {
    return PluginTickCount();
}

// Sleeps at least this long on the plugin's clock are reported when they end:
// the memory monitor's pause between two passes is the only one, so each such
// line marks a pass.
constexpr DWORD kReportedSleepMs = 1000;

// The real length of a sleep of ms on the plugin's clock: ms / sleepSpeed,
// rounded up to whole milliseconds. A short sleep (the watcher's 10 ms, the
// worker's 5) thus still gives the core away for a millisecond instead of
// turning into a spin of Sleep(0) that would starve the machine; its thread
// just runs slower on the plugin's clock than it would at full speed. 0 stays
// 0 (a yield, as the player asked), INFINITE stays INFINITE.
static DWORD RealSleepMs(DWORD ms) {
    if (ms == 0 || ms == INFINITE) {
        return ms;
    }
    return static_cast<DWORD>((ms + pluginClock.sleepSpeed - 1) / pluginClock.sleepSpeed);
}

// Sleep is all the workers wait on while they run. The window change's waits
// (the load's for it, and its own thread's look every 100 ms whether the
// window is still there) belong to the window, not the game's clock, and keep
// their real length.
static void WINAPI FastSleep(DWORD ms) {
    ULONGLONG from = PluginTickCount();
    Sleep(RealSleepMs(ms));
    if (ms >= kReportedSleepMs && ms != INFINITE) {
        Report("sleep: ms=%lu from=%llu to=%llu", ms, from, PluginTickCount());
    }
}

void InstallPluginClock(HMODULE plugin, const ClockOptions& told) {
    pluginClock = told;
    tickAtInstall = GetTickCount64();
    QueryPerformanceFrequency(&counterFrequency);
    QueryPerformanceCounter(&counterAtInstall);
    if (pluginClock.tickStart >= 0 || pluginClock.tickSpeed != 1) {
        HookImportOrReport(plugin, "kernel32.dll", "GetTickCount64",
                           reinterpret_cast<const void*>(PluginTickCount64));
    }
    if (pluginClock.sleepSpeed != 1) {
        HookImportOrReport(plugin, "kernel32.dll", "Sleep",
                           reinterpret_cast<const void*>(FastSleep));
    }
}
