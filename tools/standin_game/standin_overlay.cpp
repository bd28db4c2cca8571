#include "standin_overlay.h"

#include "standin_imports.h"
#include "standin_report.h"
#include "standin_windows_rules.h"

static HHOOK overlay = nullptr;
static LONG passedOn = 0;
// Whether this thread is inside the plugin's CallNextHookEx: the overlay
// runs on the same thread, within that call.
static thread_local bool passingOn = false;

static LRESULT CALLBACK OverlayHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code >= 0 && passingOn && InterlockedIncrement(&passedOn) == 1) {
        // Bounded, so that a plugin whose hook thread never ends shows as a
        // missing "hook-freed-with-thread" line, not as a hung game.
        WaitForHookOwners(5000);
    }
    return CallNextHookEx(overlay, code, wParam, lParam);
}

static decltype(&CallNextHookEx) nextCallNext = nullptr;

static LRESULT WINAPI PluginCallsNext(HHOOK hook, int code, WPARAM wParam, LPARAM lParam) {
    bool outer = passingOn; // a hook further down may pump messages itself
    passingOn = true;
    LRESULT result = nextCallNext(hook, code, wParam, lParam);
    passingOn = outer;
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
        nextCallNext =
            ChainImportOrReport(plugin, "user32.dll", "CallNextHookEx", &PluginCallsNext);
    }
}

void ReportOverlayHook() {
    if (overlay != nullptr) {
        Report("overlay-hook: passed-on=%ld", passedOn);
    }
}
