// The plugin's clock and sleeps, run fast so that minutes of the plugin's
// time pass in seconds of a test.
#pragma once

#include <windows.h>

struct ClockOptions {
    long long tickStart = -1; // its GetTickCount64 starts here (-1: the real one),
    long long tickSpeed = 1;  // and runs this many times as fast;
    long long sleepSpeed = 1; // its Sleep lasts this many times shorter
};

// Points the plugin's GetTickCount64 and Sleep at the fast ones when told to,
// and starts its clock; call before its load entry.
void InstallPluginClock(HMODULE plugin, const ClockOptions& clock);
// What the plugin's GetTickCount64 answers now, told to run fast or not.
ULONGLONG PluginTickCount();
ULONGLONG PluginClockStart(); // what it answered at the load
