// For the benchmark's shares of the frames' cost: Quellstone with its memory
// monitor's passes left out. The thread still starts and wakes every 5 s, so
// that what is left out is the passes' work and lines alone.
#include "workers/memory_monitor.h"

DWORD WINAPI MemoryMonitorThread(LPVOID) noexcept {
    for (;;) {
        Sleep(5000);
    }
}
