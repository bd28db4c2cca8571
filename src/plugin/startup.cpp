#include "plugin/startup.h"

#include "log/log.h"
#include "window/borderless.h"
#include "workers/activity_watcher.h"
#include "workers/cpu_worker.h"
#include "workers/memory_monitor.h"

#include <windows.h>

// Says in the log when the system refused the thread: the plugin then runs
// without that worker, and a mod author reading the log must know.
static bool StartWorker(LPTHREAD_START_ROUTINE procedure, const char* name) {
    // The workers run until the process ends; nobody ever joins them, so the
    // handle is of no use to us and is closed at once.
    HANDLE thread = CreateThread(nullptr, 0, procedure, nullptr, 0, nullptr);
    if (thread == nullptr) {
        Log("[QS] Could not start %s.", name);
        return false;
    }
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
