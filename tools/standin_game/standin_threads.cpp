#include "standin_threads.h"

#include "standin_imports.h"

constexpr LONG kMaxThreads = 16;
static PluginThread threads[kMaxThreads] = {};
static LONG threadCount = 0;
static SRWLOCK recordLock = SRWLOCK_INIT;
static bool recording = false;

static decltype(&CreateThread) nextCreateThread;
static decltype(&ResumeThread) nextResumeThread;

static HANDLE WINAPI RecordedCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack,
                                          LPTHREAD_START_ROUTINE start, LPVOID parameter,
                                          DWORD flags, LPDWORD id) {
    DWORD made = 0;
    // Under the lock until recorded: a thread not made suspended may run at
    // once, and asks who it is.
    AcquireSRWLockExclusive(&recordLock);
    HANDLE thread = nextCreateThread(security, stack, start, parameter, flags, &made);
    if (thread != nullptr && threadCount < kMaxThreads) {
        HANDLE own = nullptr;
        DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &own, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        threads[threadCount++] = {own, made, (flags & CREATE_SUSPENDED) ? 1 : 0};
    }
    ReleaseSRWLockExclusive(&recordLock);
    if (id != nullptr) {
        *id = made;
    }
    return thread;
}

static DWORD WINAPI RecordedResumeThread(HANDLE thread) {
    LONG index = PluginThreadIndex(GetThreadId(thread));
    if (index >= 0) {
        InterlockedExchange(&threads[index].suspended, 0);
    }
    return nextResumeThread(thread);
}

void RecordPluginThreads(HMODULE plugin) {
    if (recording) {
        return;
    }
    recording = true;
    nextCreateThread =
        ChainImportOrReport(plugin, "kernel32.dll", "CreateThread", &RecordedCreateThread);
    nextResumeThread =
        ChainImportOrReport(plugin, "kernel32.dll", "ResumeThread", &RecordedResumeThread);
}

LONG PluginThreadCount() {
    AcquireSRWLockShared(&recordLock);
    LONG count = threadCount;
    ReleaseSRWLockShared(&recordLock);
    return count;
}

PluginThread PluginThreadAt(LONG index) {
    AcquireSRWLockShared(&recordLock);
    PluginThread thread = threads[index];
    ReleaseSRWLockShared(&recordLock);
    return thread;
}

LONG PluginThreadIndex(DWORD id) {
    AcquireSRWLockShared(&recordLock);
    LONG found = -1;
    for (LONG i = 0; i < threadCount && found < 0; ++i) {
        found = threads[i].id == id ? i : -1;
    }
    ReleaseSRWLockShared(&recordLock);
    return found;
}

bool BelowNormal(HANDLE thread) {
    int priority = GetThreadPriority(thread);
    return priority != THREAD_PRIORITY_ERROR_RETURN && priority < THREAD_PRIORITY_NORMAL;
}

bool HasEnded(HANDLE thread) {
    return WaitForSingleObject(thread, 0) != WAIT_TIMEOUT;
}
