// The baselines for the benchmarks: what any plugin of this design must do at
// load and while idle, done with the plainest calls and no safety of its own.
// "--bare" runs these in place of the plugin.
#include "standin_bare.h"

#include <cstdint>

#include <windows.h>

#include "../bench/bare_work.h"

// The three threads' sleeps, and the watcher's scan with plain loads.
static DWORD WINAPI BareMonitor(LPVOID) {
    for (;;) {
        Sleep(5000);
    }
}

static DWORD WINAPI BareWorker(LPVOID) {
    for (;;) {
        Sleep(5);
    }
}

static DWORD WINAPI BareWatcher(LPVOID) {
    [[maybe_unused]] static volatile bool present; // keeps the scan from being dropped
    for (;;) {
        present = PlainScan(reinterpret_cast<std::uintptr_t>(GetModuleHandleW(nullptr)));
        Sleep(10);
    }
}

void BareLoad() {
    DeleteFileW((BareLogFolder() + L"\\Quellstone.log").c_str());
    if (HWND window = FindWindowW(nullptr, L"Duskhaven")) {
        SetWindowLongW(window, GWL_STYLE, GetWindowLongW(window, GWL_STYLE) & ~0x00CF0000);
        SetWindowLongW(window, GWL_EXSTYLE, GetWindowLongW(window, GWL_EXSTYLE) & ~0x00020301);
        RECT rect;
        GetWindowRect(window, &rect);
        SetWindowPos(window, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
                     SWP_NOZORDER | SWP_FRAMECHANGED | SWP_SHOWWINDOW);
        BareLogLine(L"Quellstone.log", "[2026-12-06 08:39:20] [QS] Borderless applied.\r\n");
    }
    for (LPTHREAD_START_ROUTINE thread : {BareMonitor, BareWorker, BareWatcher}) {
        CloseHandle(CreateThread(nullptr, 0, thread, nullptr, 0, nullptr));
    }
    BareLogLine(L"Quellstone.log", "[2026-12-06 08:39:20] [QS] All threads started.\r\n");
}
