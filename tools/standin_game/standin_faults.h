// The plugin's own calls to the system made to refuse, or to answer as a test
// says, so that what the plugin does then can be seen on the real DLL.
#pragma once

#include <windows.h>

// By default the system's own answer.
constexpr long long kSystemAnswers = -2;
struct Faults {
    int failThreadCall = 0;               // the plugin's n-th CreateThread fails
    int failTrimCall = 0;                 // its n-th SetProcessWorkingSetSize fails
    long long freeBytes = kSystemAnswers; // ullAvailPhys it is told; -1: the query fails
    bool failProcessQuery = false;        // K32GetProcessMemoryInfo
    bool failDocuments = false;           // SHGetFolderPathW
    bool failExePath = false;             // GetModuleFileNameW
    bool failHook = false;                // SetWindowsHookExW
    // A leak planted in the memory monitor's pass: each K32GetProcessMemoryInfo
    // also commits this many KiB that are never touched nor freed (for seeing
    // that the evening's count of committed memory catches such a leak).
    int leakKbPerQuery = 0;
};

// Points the plugin's imports at the refusing stand-ins the faults ask for
// (all but the trim's, standin_trims.cpp); call before its load entry.
void InstallFaults(HMODULE plugin, const Faults& faults);
