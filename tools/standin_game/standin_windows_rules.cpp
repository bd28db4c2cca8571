#include "standin_windows_rules.h"

#include <iterator>

#include "standin_imports.h"
#include "standin_report.h"

struct HookOfThread {
    HHOOK hook;
    HANDLE thread; // the thread that set it
    HANDLE waiter; // the stand-in's thread that frees the hook when that one ends
    bool gone;     // removed by the plugin, or freed with its thread
};

// The hooks the plugin set, so that the game can wait for their waiters
// before it counts its threads. Never freed: the process ends with them.
// hooksLock keeps each hook's removal and its mark together.
static SRWLOCK hooksLock = SRWLOCK_INIT;
static HookOfThread hooks[8] = {};
static LONG hookCount = 0;

// No hook is ever removed twice, whoever comes first, the plugin or the end
// of its thread: a hook removed while the window's thread is still inside its
// chain lives on, marked, until the chain ends, and removing it again then is
// what Wine 10's server counts twice and dies of (an assertion in its hook
// counts); Wine 8 answers that second call with success. Windows answers it
// with ERROR_INVALID_HOOK_HANDLE, as the plugin's call is answered here.
static bool RemoveOnce(HookOfThread* owned) {
    if (owned->gone) {
        SetLastError(ERROR_INVALID_HOOK_HANDLE);
        return false;
    }
    owned->gone = UnhookWindowsHookEx(owned->hook) != FALSE;
    return owned->gone;
}

// Waits for the thread that set the hook to end, then frees the hook as
// Windows would have at that moment.
static DWORD WINAPI FreeWithItsThread(LPVOID parameter) {
    auto* owned = static_cast<HookOfThread*>(parameter);
    WaitForSingleObject(owned->thread, INFINITE);
    AcquireSRWLockExclusive(&hooksLock);
    bool stillSet = RemoveOnce(owned);
    ReleaseSRWLockExclusive(&hooksLock);
    Report("hook-freed-with-thread: still-set=%d", stillSet ? 1 : 0);
    CloseHandle(owned->thread);
    return 0;
}

static HHOOK WINAPI HookOwnedByThread(int type, HOOKPROC procedure, HINSTANCE module,
                                      DWORD thread) {
    HHOOK hook = SetWindowsHookExW(type, procedure, module, thread);
    if (hook == nullptr) {
        return nullptr; // with the system's own error
    }
    HANDLE self = OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId());
    AcquireSRWLockExclusive(&hooksLock);
    if (self != nullptr && hookCount < LONG(std::size(hooks))) {
        HookOfThread* owned = &hooks[hookCount++];
        *owned = HookOfThread{hook, self, nullptr, false};
        owned->waiter = CreateThread(nullptr, 0, FreeWithItsThread, owned, 0, nullptr);
    } else if (self != nullptr) {
        CloseHandle(self);
    }
    ReleaseSRWLockExclusive(&hooksLock);
    return hook;
}

static BOOL WINAPI PluginRemovesHook(HHOOK hook) {
    AcquireSRWLockExclusive(&hooksLock);
    HookOfThread* owned = nullptr;
    for (LONG i = hookCount - 1; i >= 0 && owned == nullptr; --i) {
        owned = hooks[i].hook == hook ? &hooks[i] : nullptr; // the newest of a reused handle
    }
    BOOL removed = owned != nullptr ? RemoveOnce(owned) : UnhookWindowsHookEx(hook);
    ReleaseSRWLockExclusive(&hooksLock);
    return removed;
}

void WaitForHookOwners(DWORD ms) {
    AcquireSRWLockShared(&hooksLock);
    LONG count = hookCount;
    ReleaseSRWLockShared(&hooksLock);
    for (LONG i = 0; i < count; ++i) {
        if (hooks[i].waiter != nullptr) {
            WaitForSingleObject(hooks[i].waiter, ms);
        }
    }
}

static BOOL WINAPI FullQueue(HWND, UINT, WPARAM, LPARAM) {
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return FALSE;
}

void InstallWindowsRules(HMODULE plugin, bool postQuota) {
    HookImportOrReport(plugin, "user32.dll", "SetWindowsHookExW",
                       reinterpret_cast<const void*>(HookOwnedByThread));
    HookImportOrReport(plugin, "user32.dll", "UnhookWindowsHookEx",
                       reinterpret_cast<const void*>(PluginRemovesHook));
    if (postQuota) {
        HookImportOrReport(plugin, "user32.dll", "PostMessageW",
                           reinterpret_cast<const void*>(FullQueue));
    }
}
