#include "plugin/startup.h"

#include "log/log.h"
#include "window/borderless.h"
#include "workers/activity_watcher.h"
#include "workers/cpu_worker.h"
#include "workers/memory_monitor.h"

#include <windows.h>

// Says in the log when the system refused the thread: the plugin then runs
// without that worker, and a mod author reading the log must know.
//
// Each worker runs two levels below the game's normal threads: the system
// gives a core to the highest-priority thread ready for it and takes it from
// a lower one the moment a higher one is ready, so the workers run in the
// moments the game's threads leave and never hold a core a game thread is
// waiting for. A game keeps its own threads at normal or above; lowest still
// lies above the idle threads of other programs, and the system lifts a thread
// that has waited long, so the workers' passes come late on a machine with no
// idle core, but they come.
static bool StartWorker(LPTHREAD_START_ROUTINE procedure, const char* name) {
    HANDLE thread = CreateThread(nullptr, 0, procedure, nullptr, 0, nullptr);
    if (thread == nullptr) {
        Log("[QS] Could not start %s.", name);
        return false;
    }
    // A thread left at normal priority still does its work: nothing to log.
    SetThreadPriority(thread, THREAD_PRIORITY_LOWEST);
    // The workers run until the process ends; nobody ever joins them, so the
    // handle is of no use to us and is closed at once.
    CloseHandle(thread);
    return true;
}

bool StartPlugin(const HostInterface* host) noexcept {
    if (!IsSupportedHost(host)) {
        MessageBoxA(nullptr, "Duskhaven Quellstone requires VELQ 0.2.18.\n.", "Incompatible VELQ",
                    MB_OK | MB_ICONERROR);
        return false;
    }
    // A log that cannot be reset must not keep the plugin from running.
    ResetLog();
    ApplyBorderless();
    bool allStarted = StartWorker(MemoryMonitorThread, "MemoryMonitorThread");
    allStarted &= StartWorker(CpuWorkerThread, "CpuWorkerThread");
    allStarted &= StartWorker(ActivityWatcherThread, "ActivityWatcherThread");
    if (allStarted) {
        Log("[QS] All threads started.");
    }
    return true;
}
