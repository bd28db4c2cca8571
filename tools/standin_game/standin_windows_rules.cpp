#include "standin_windows_rules.h"

#include <algorithm>
#include <iterator>

#include "standin_imports.h"
#include "standin_report.h"

struct HookOfThread {
    HHOOK hook;
    HANDLE thread; // the thread that set it
};

// Waits for the thread that set the hook to end, then frees the hook as
// Windows would have at that moment. A hook the plugin removed itself is gone
// already, and the removal fails.
static DWORD WINAPI FreeWithItsThread(LPVOID parameter) {
    auto* owned = static_cast<HookOfThread*>(parameter);
    WaitForSingleObject(owned->thread, INFINITE);
    bool stillSet = UnhookWindowsHookEx(owned->hook) != FALSE;
    Report("hook-freed-with-thread: still-set=%d", stillSet ? 1 : 0);
    CloseHandle(owned->thread);
    delete owned;
    return 0;
}

// The threads that free hooks, so that the game can wait for them before it
// counts its threads.
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
        waiters[slot] =
            CreateThread(nullptr, 0, FreeWithItsThread, new HookOfThread{hook, self}, 0, nullptr);
    }
    return hook;
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
    if (postQuota) {
        HookImportOrReport(plugin, "user32.dll", "PostMessageW",
                           reinterpret_cast<const void*>(FullQueue));
    }
}
