#include "standin_windows_rules.h"

#include <algorithm>
#include <iterator>

#include "standin_imports.h"
#include "standin_report.h"

struct HookOfThread {
    HHOOK hook;
    HANDLE thread;                 // the thread that set it
    volatile LONG removedByPlugin; // the plugin's UnhookWindowsHookEx succeeded
};

// Waits for the thread that set the hook to end, then frees the hook as
// Windows would have at that moment, unless the plugin removed it itself.
// Never a second removal: a hook removed while the window's thread is still
// inside its chain lives on, marked, until the chain ends, and removing it
// again then is what Wine 10's server counts twice and dies of (an assertion
// in its hook counts); Wine 8 answers that second call with success.
static DWORD WINAPI FreeWithItsThread(LPVOID parameter) {
    auto* owned = static_cast<HookOfThread*>(parameter);
    WaitForSingleObject(owned->thread, INFINITE);
    bool stillSet = owned->removedByPlugin == 0 && UnhookWindowsHookEx(owned->hook) != FALSE;
    Report("hook-freed-with-thread: still-set=%d", stillSet ? 1 : 0);
    CloseHandle(owned->thread);
    return 0;
}

// The hooks the plugin set, and the threads that free them, so that the game
// can wait for them before it counts its threads. Never freed: the process
// ends with them.
static HookOfThread hooks[8] = {};
static HANDLE waiters[8] = {};
static LONG waiterCount = 0;

static HHOOK WINAPI HookOwnedByThread(int type, HOOKPROC procedure, HINSTANCE module,
                                      DWORD thread) {
    HHOOK hook = SetWindowsHookExW(type, procedure, module, thread);
    if (hook == nullptr) {
        return nullptr; // with the system's own error
    }
    HANDLE self = OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId());
    LONG slot = InterlockedIncrement(&waiterCount) - 1;
    if (self != nullptr && slot < LONG(std::size(waiters))) {
        hooks[slot] = HookOfThread{hook, self, 0};
        waiters[slot] = CreateThread(nullptr, 0, FreeWithItsThread, &hooks[slot], 0, nullptr);
    }
    return hook;
}

static BOOL WINAPI PluginRemovesHook(HHOOK hook) {
    BOOL removed = UnhookWindowsHookEx(hook);
    LONG count = std::min<LONG>(waiterCount, LONG(std::size(hooks)));
    for (LONG i = 0; i < count && removed; ++i) {
        if (hooks[i].hook == hook) {
            InterlockedExchange(&hooks[i].removedByPlugin, 1);
        }
    }
    return removed;
}

void WaitForHookOwners(DWORD ms) {
    LONG count = std::min<LONG>(waiterCount, LONG(std::size(waiters)));
    for (LONG i = 0; i < count; ++i) {
        if (waiters[i] != nullptr) {
            WaitForSingleObject(waiters[i], ms);
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
