// A machine whose cores the game keeps busy (a loading screen), as Windows
// schedules it and Wine does not: a thread below normal priority runs only
// once the system lifts it as a starved thread, seconds later (Microsoft,
// "Scheduling Priorities": the highest-priority thread ready always runs).
// Wine 8 and 10 store a thread's priority without scheduling by it.
#pragma once

#include <windows.h>

// Each thread of the plugin's that runs below normal priority is held back
// holdMs at its first file open, as if it waited that long for a core. And
// the order that would hurt is forced rather than hoped for: when the
// loader's thread (the one that calls the load entry) is about to take the
// plugin's lock while such a thread can run, it first waits, at most three
// holds, until one of them is held back opening the log, the lock in its
// hands.
// Needs RecordPluginThreads (standin_threads.h) on the plugin.
void InstallStarvation(HMODULE plugin, int holdMs);
// "starved: held=N loader-waited=0|1".
void ReportStarvation();
