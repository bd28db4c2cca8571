#include "standin_overlay.h"

#include "standin_imports.h"
#include "standin_report.h"
#include "standin_windows_rules.h"

static HHOOK overlay = nullptr;
static LONG passedOn = 0;
// The thread inside the plugin's CallNextHookEx, 0 when none: the overlay
// runs on that same thread, within that call.
static volatile DWORD passingOn = 0;

static LRESULT CALLBACK OverlayHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code >= 0 && passingOn == GetCurrentThreadId() && InterlockedIncrement(&passedOn) == 1) {
        // Bounded: a plugin whose thread never ends fails the test on
        // "threads-after", not by a hung game.
        WaitForHookOwners(5000);
    }
    return CallNextHookEx(overlay, code, wParam, lParam);
}

static decltype(&CallNextHookEx) nextCallNext = nullptr;

static LRESULT WINAPI PluginCallsNext(HHOOK hook, int code, WPARAM wParam, LPARAM lParam) {
    passingOn = GetCurrentThreadId();
    LRESULT result = nextCallNext(hook, code, wParam, lParam);
    passingOn = 0;
    return result;
}

void SetOverlayHook() {
    overlay = SetWindowsHookExW(WH_GETMESSAGE, OverlayHook, nullptr, GetCurrentThreadId());
    if (overlay == nullptr) {
        Report("overlay-hook: refused error=%lu", GetLastError());
    }
}

void WatchPluginPassesOn(HMODULE plugin) {
    if (overlay != nullptr) {
        nextCallNext = ChainImport(plugin, "user32.dll", "CallNextHookEx", &PluginCallsNext);
        if (nextCallNext == nullptr) {
            Report("faults: the plugin does not import CallNextHookEx");
        }
    }
}

void ReportOverlayHook() {
    if (overlay != nullptr) {
        Report("overlay-hook: passed-on=%ld", passedOn);
    }
}
