#include "plugin/startup.h"

#include "log/log.h"
#include "window/borderless.h"
#include "workers/activity_watcher.h"
#include "workers/cpu_worker.h"
#include "workers/memory_monitor.h"

#include <windows.h>

// Made suspended, and let go only once the loader's thread has written its
// last line: a worker runs below the game's priority and takes the log's lock
// for each of its lines, and on a machine whose cores the game keeps busy (a
// loading screen) Windows lets such a thread run only now and then, as a
// starved thread. Windows lends a waiter's priority to the owner of a
// critical section (AutoBoost, in Microsoft's "Priority Inversion"), not to
// the holder of an SRW lock, so a worker that took the lock before the
// loader's last line could hold the load that long. Made suspended, no worker
// has run before the loader's thread leaves the plugin.
//
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
static HANDLE MakeWorker(LPTHREAD_START_ROUTINE procedure, const char* name) {
    HANDLE thread = CreateThread(nullptr, 0, procedure, nullptr, CREATE_SUSPENDED, nullptr);
    if (thread == nullptr) {
        Log("[QS] Could not start %s.", name);
        return nullptr;
    }
    // A thread left at normal priority still does its work: nothing to log.
    SetThreadPriority(thread, THREAD_PRIORITY_LOWEST);
    return thread;
}

// Once anything of the plugin's runs outside the load (the window change's
// hook, the fault guard's exception handler, the workers), unmapping the DLL
// would leave them running code that is gone, and the game would crash. VELQ
// never frees a plugin; another loader may, right after the load. Pinned, the
// DLL stays mapped until the process ends, whatever FreeLibrary calls follow.
static void PinModule() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&StartPlugin), &self);
}

bool StartPlugin(const HostInterface* host) noexcept {
    if (!IsSupportedHost(host)) {
        MessageBoxA(nullptr, "Duskhaven Quellstone requires VELQ 0.2.18.\n.", "Incompatible VELQ",
                    MB_OK | MB_ICONERROR);
        return false;
    }
    PinModule();
    // A log that cannot be reset must not keep the plugin from running.
    ResetLog();
    ApplyBorderless();
    HANDLE workers[] = {
        MakeWorker(MemoryMonitorThread, "MemoryMonitorThread"),
        MakeWorker(CpuWorkerThread, "CpuWorkerThread"),
        MakeWorker(ActivityWatcherThread, "ActivityWatcherThread"),
    };
    bool allStarted = true;
    for (HANDLE worker : workers) {
        allStarted &= worker != nullptr;
    }
    if (allStarted) {
        Log("[QS] All threads started.");
    }
    // The workers run until the process ends; nobody ever joins them, so the
    // handles are of no use once they run.
    for (HANDLE worker : workers) {
        if (worker != nullptr) {
            ResumeThread(worker);
            CloseHandle(worker);
        }
    }
    return true;
}
