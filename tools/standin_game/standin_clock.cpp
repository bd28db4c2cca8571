#include "standin_clock.h"

#include "standin_imports.h"
#include "standin_report.h"
#include "standin_virtual_clock.h"

static ClockOptions pluginClock;
static ULONGLONG tickAtInstall = 0;
static LARGE_INTEGER counterAtInstall = {}, counterFrequency = {};
static ULONGLONG localStart = 0; // in 100-ns units, as a FILETIME

ULONGLONG PluginClockStart() {
    return pluginClock.tickStart >= 0 ? pluginClock.tickStart : tickAtInstall;
}

// From tickStart (or the real tick count at the load) on, speed times as fast
// as the real one. Counted from the performance counter, so that a clock that
// runs fast still moves in steps of a game millisecond or so, not of speed of
// them.
ULONGLONG PluginTickCount() {
    if (VirtualClockRuns()) {
        return VirtualNowUs() / 1000;
    }
    if (counterFrequency.QuadPart == 0) { // no plugin loaded: its clock would be the real one
        return GetTickCount64();
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    auto elapsedUs = static_cast<ULONGLONG>((now.QuadPart - counterAtInstall.QuadPart) * 1000000.0 /
                                            counterFrequency.QuadPart);
    return PluginClockStart() + elapsedUs * pluginClock.speed / 1000;
}

static ULONGLONG WINAPI PluginTickCount64() {
    return PluginTickCount();
}

// The real length of a sleep of ms run fast: ms / speed, rounded up to whole
// milliseconds. A short sleep (the watcher's 10 ms, the worker's 5) thus
// still gives the core away for a millisecond instead of turning into a spin
// of Sleep(0) that would starve the machine; its thread just runs slower on
// the plugin's clock than it would at full speed. 0 stays 0 (a yield, as the
// player asked), INFINITE stays INFINITE.
static void WINAPI FastSleep(DWORD ms) {
    if (ms == 0 || ms == INFINITE) {
        Sleep(ms);
        return;
    }
    Sleep(static_cast<DWORD>((ms + pluginClock.speed - 1) / pluginClock.speed));
}

// The local time of the load, moved on as far as the clock has since.
static void LocalTimeAt(ULONGLONG us, SYSTEMTIME* time) {
    ULONGLONG local = localStart + (us - PluginClockStart() * 1000) * 10;
    FILETIME file = {static_cast<DWORD>(local), static_cast<DWORD>(local >> 32)};
    FileTimeToSystemTime(&file, time);
}

// The plugin reads the local time once for each line it writes, just before
// writing it: "stamp: at-us=T" says to the microsecond when each line was
// written.
static void WINAPI VirtualLocalTime(SYSTEMTIME* time) {
    ULONGLONG now = VirtualNowUs();
    LocalTimeAt(now, time);
    if (pluginClock.reportStamps) {
        Report("stamp: at-us=%llu", now);
    }
}

void PluginLocalTime(SYSTEMTIME* time) {
    if (VirtualClockRuns()) {
        LocalTimeAt(VirtualNowUs(), time);
    } else {
        GetLocalTime(time);
    }
}

static ULONGLONG LocalStart(const ClockOptions& told) {
    SYSTEMTIME start = told.localStart;
    if (!told.localStartSet) {
        GetLocalTime(&start);
    }
    FILETIME file = {};
    SystemTimeToFileTime(&start, &file);
    return ULONGLONG(file.dwHighDateTime) << 32 | file.dwLowDateTime;
}

void InstallPluginClock(HMODULE plugin, const ClockOptions& told) {
    pluginClock = told;
    tickAtInstall = GetTickCount64();
    QueryPerformanceFrequency(&counterFrequency);
    QueryPerformanceCounter(&counterAtInstall);
    if (told.virtualTime) {
        localStart = LocalStart(told);
        StartVirtualClock(PluginClockStart(), told.timerTickUs);
        HookImportOrReport(plugin, "kernel32.dll", "GetLocalTime",
                           reinterpret_cast<const void*>(VirtualLocalTime));
        HookImportOrReport(plugin, "kernel32.dll", "Sleep",
                           reinterpret_cast<const void*>(VirtualSleep));
    } else if (told.speed != 1) {
        HookImportOrReport(plugin, "kernel32.dll", "Sleep",
                           reinterpret_cast<const void*>(FastSleep));
    }
    if (told.virtualTime || told.tickStart >= 0 || told.speed != 1) {
        HookImportOrReport(plugin, "kernel32.dll", "GetTickCount64",
                           reinterpret_cast<const void*>(PluginTickCount64));
    }
}
