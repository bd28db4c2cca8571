#include "workers/cpu_worker.h"

#include "log/log.h"
#include "settings/settings.h"
#include "workers/worker_flags.h"

DWORD WINAPI CpuWorkerThread(LPVOID) noexcept {
    LoadSettings();
    if (settings.overlayBatch) {
        Log("[QS] Overlay batch enabled.");
    } else {
        Log("[QS] Overlay batch disabled.");
    }
    CpuWorkerState state;
    for (;;) {
        // ListIdle matters only once armed, so it is not even read before.
        if (WorkerArmed.load() && !ListIdle.load()) {
            if (RunActivePass(state, settings.iterations)) {
                Log("[QS] CPU worker active: %f", state.workSum);
            }
        }
        Sleep(WorkerSleepMs(settings.sleepMs));
    }
}
