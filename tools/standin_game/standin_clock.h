// The plugin's clock, local time and sleeps: the real ones, run fast (the
// benchmark's evening), or on a clock the stand-in owns (the tests').
#pragma once

#include <windows.h>

struct ClockOptions {
    long long tickStart = -1;  // its GetTickCount64 starts here (-1: the real one),
    long long speed = 1;       // runs this many times as fast, and its Sleep as many times shorter;
    bool virtualTime = false;  // or its clock, local time and sleeps are the stand-in's own
    long long timerTickUs = 0; // (standin_virtual_clock.h), its sleeps ending on this tick,
    bool localStartSet = false; // and its local time starting at localStart (else at the
    SYSTEMTIME localStart = {}; // real one of the load);
    bool reportStamps = false;  // reporting each time it reads that local time
};

// Points the plugin's clock, local time and sleeps at the stand-in's when
// told to, and starts its clock; call before its load entry.
void InstallPluginClock(HMODULE plugin, const ClockOptions& clock);
// What the plugin's GetTickCount64 answers now.
ULONGLONG PluginTickCount();
ULONGLONG PluginClockStart(); // what it answered at the load
// What the plugin's GetLocalTime answers now.
void PluginLocalTime(SYSTEMTIME* time);
