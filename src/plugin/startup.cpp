#include "plugin/startup.h"

#include "log/log.h"
#include "window/borderless.h"
#include "workers/activity_watcher.h"
#include "workers/cpu_worker.h"
#include "workers/memory_monitor.h"

#include <windows.h>

static void StartWorker(LPTHREAD_START_ROUTINE procedure) {
    // The workers run until the process ends; nobody ever joins them, so the
    // handle is of no use to us and is closed at once.
    HANDLE thread = CreateThread(nullptr, 0, procedure, nullptr, 0, nullptr);
    if (thread != nullptr) {
        CloseHandle(thread);
    }
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
    StartWorker(MemoryMonitorThread);
    StartWorker(CpuWorkerThread);
    StartWorker(ActivityWatcherThread);
    Log("[QS] All threads started.");
    return true;
}
