// The plugin's threads as it makes them through its own CreateThread: what
// the stand-ins that hold its workers back or keep their time need to know.
#pragma once

#include <windows.h>

struct PluginThread {
    HANDLE thread; // a handle of the stand-in's own
    DWORD id;
    LONG suspended; // made with CREATE_SUSPENDED and not yet resumed
};

// Records each thread the plugin makes and resumes, passing the calls on to
// what its imports pointed at before (a refused thread is not recorded).
// Once only, however many stand-ins ask.
void RecordPluginThreads(HMODULE plugin);
// How many are recorded, and each in the order they were made.
LONG PluginThreadCount();
PluginThread PluginThreadAt(LONG index);
// Its index, or -1 for a thread the plugin did not make (or not yet).
LONG PluginThreadIndex(DWORD id);
bool BelowNormal(HANDLE thread);
bool HasEnded(HANDLE thread);
