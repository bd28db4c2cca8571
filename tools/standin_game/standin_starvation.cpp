#include "standin_starvation.h"

#include <cwchar>

#include "standin_imports.h"
#include "standin_report.h"
#include "standin_threads.h"

static int holdMs = 0;
static DWORD loaderThread = 0;
static HANDLE workerHoldsLog = nullptr; // set once a held-back thread is opening the log
static LONG held = 0, loaderWaited = 0;

static decltype(&CreateFileW) nextCreateFile;
static decltype(&AcquireSRWLockExclusive) nextAcquire;

// A thread of the plugin's that could take the lock now, below normal.
static bool StarvedThreadCanRun() {
    for (LONG i = 0; i < PluginThreadCount(); ++i) {
        PluginThread made = PluginThreadAt(i);
        if (made.suspended == 0 && !HasEnded(made.thread) && BelowNormal(made.thread)) {
            return true;
        }
    }
    return false;
}

static HANDLE WINAPI HeldBackCreateFile(LPCWSTR path, DWORD access, DWORD share,
                                        LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                        DWORD flags, HANDLE templateFile) {
    static thread_local bool liftedOnce = false;
    if (!liftedOnce && BelowNormal(GetCurrentThread())) {
        liftedOnce = true;
        InterlockedIncrement(&held);
        if (path != nullptr && std::wcsstr(path, L"Quellstone.log") != nullptr) {
            SetEvent(workerHoldsLog);
        }
        Sleep(static_cast<DWORD>(holdMs));
    }
    return nextCreateFile(path, access, share, security, disposition, flags, templateFile);
}

static void WINAPI LoaderAcquiresLast(PSRWLOCK lock) {
    if (GetCurrentThreadId() == loaderThread && StarvedThreadCanRun()) {
        InterlockedExchange(&loaderWaited, 1);
        WaitForSingleObject(workerHoldsLog, static_cast<DWORD>(3 * holdMs));
    }
    nextAcquire(lock);
}

void InstallStarvation(HMODULE plugin, int told) {
    holdMs = told;
    loaderThread = GetCurrentThreadId();
    workerHoldsLog = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    nextCreateFile =
        ChainImportOrReport(plugin, "kernel32.dll", "CreateFileW", &HeldBackCreateFile);
    nextAcquire =
        ChainImportOrReport(plugin, "kernel32.dll", "AcquireSRWLockExclusive", &LoaderAcquiresLast);
}

void ReportStarvation() {
    if (holdMs > 0) {
        Report("starved: held=%ld loader-waited=%ld", held, loaderWaited);
    }
}
