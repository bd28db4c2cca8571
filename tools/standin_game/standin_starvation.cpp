#include "standin_starvation.h"

#include <cwchar>

#include "standin_imports.h"
#include "standin_report.h"

static int holdMs = 0;
static DWORD loaderThread = 0;
static HANDLE workerHoldsLog = nullptr; // set once a held-back thread is opening the log
static LONG held = 0, loaderWaited = 0;

// The plugin's threads, as made through its CreateThread: a handle of the
// stand-in's own, and whether the thread still waits to be resumed.
struct PluginThread {
    HANDLE thread;
    DWORD id;
    LONG suspended;
};
static PluginThread threads[16] = {};
static LONG threadCount = 0;

static decltype(&CreateThread) nextCreateThread;
static decltype(&ResumeThread) nextResumeThread;
static decltype(&CreateFileW) nextCreateFile;
static decltype(&AcquireSRWLockExclusive) nextAcquire;

static bool BelowNormal(HANDLE thread) {
    int priority = GetThreadPriority(thread);
    return priority != THREAD_PRIORITY_ERROR_RETURN && priority < THREAD_PRIORITY_NORMAL;
}

static HANDLE WINAPI RecordedCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack,
                                          LPTHREAD_START_ROUTINE start, LPVOID parameter,
                                          DWORD flags, LPDWORD id) {
    DWORD made = 0;
    HANDLE thread = nextCreateThread(security, stack, start, parameter, flags, &made);
    if (id != nullptr) {
        *id = made;
    }
    LONG slot = thread != nullptr ? InterlockedIncrement(&threadCount) - 1 : -1;
    if (slot >= 0 && slot < LONG(sizeof threads / sizeof threads[0])) {
        HANDLE own = nullptr;
        DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &own, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        threads[slot] = {own, made, (flags & CREATE_SUSPENDED) ? 1 : 0};
    }
    return thread;
}

static DWORD WINAPI RecordedResumeThread(HANDLE thread) {
    DWORD id = GetThreadId(thread);
    for (LONG i = 0; i < threadCount && i < LONG(sizeof threads / sizeof threads[0]); ++i) {
        if (threads[i].id == id) {
            InterlockedExchange(&threads[i].suspended, 0);
        }
    }
    return nextResumeThread(thread);
}

// A thread of the plugin's that could take the lock now, below normal.
static bool StarvedThreadCanRun() {
    for (LONG i = 0; i < threadCount && i < LONG(sizeof threads / sizeof threads[0]); ++i) {
        if (threads[i].thread != nullptr && threads[i].suspended == 0 &&
            WaitForSingleObject(threads[i].thread, 0) == WAIT_TIMEOUT &&
            BelowNormal(threads[i].thread)) {
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
    auto hook = [plugin](const char* name, auto replacement, auto* next) {
        *next = ChainImport(plugin, "kernel32.dll", name, replacement);
        if (*next == nullptr) {
            Report("faults: the plugin does not import %s", name);
        }
    };
    hook("CreateThread", &RecordedCreateThread, &nextCreateThread);
    hook("ResumeThread", &RecordedResumeThread, &nextResumeThread);
    hook("CreateFileW", &HeldBackCreateFile, &nextCreateFile);
    hook("AcquireSRWLockExclusive", &LoaderAcquiresLast, &nextAcquire);
}

void ReportStarvation() {
    if (holdMs > 0) {
        Report("starved: held=%ld loader-waited=%ld", held, loaderWaited);
    }
}
