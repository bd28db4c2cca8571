#include "standin_windows_rules.h"

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

static HHOOK WINAPI HookOwnedByThread(int type, HOOKPROC procedure, HINSTANCE module,
                                      DWORD thread) {
    HHOOK hook = SetWindowsHookExW(type, procedure, module, thread);
    HANDLE self = OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId());
    if (hook != nullptr && self != nullptr) {
        HANDLE waiter =
            CreateThread(nullptr, 0, FreeWithItsThread, new HookOfThread{hook, self}, 0, nullptr);
        if (waiter != nullptr) {
            CloseHandle(waiter);
        }
    }
    return hook;
}

static BOOL WINAPI FullQueue(HWND, UINT, WPARAM, LPARAM) {
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return FALSE;
}

void InstallWindowsRules(HMODULE plugin, bool postQuota) {
    HookImport(plugin, "user32.dll", "SetWindowsHookExW",
               reinterpret_cast<const void*>(HookOwnedByThread));
    if (postQuota) {
        HookImportOrReport(plugin, "user32.dll", "PostMessageW",
                           reinterpret_cast<const void*>(FullQueue));
    }
}
