// Duskhaven.exe, the stand-in for the game "Duskhaven" and its VELQ loader: a
// Windows program that holds a game window and a list in its memory, loads the
// plugin as the loader does, and reports on stdout what tests need to see.
// Exit code 0 when it ran, 2 for bad options, 3 when its memory layout is not
// what the plugin expects.
#include <cstdio>

#include <windows.h>

#include "standin_clock.h"
#include "standin_files.h"
#include "standin_holder.h"
#include "standin_loader.h"
#include "standin_memory.h"
#include "standin_options.h"
#include "standin_overlay.h"
#include "standin_path_limit.h"
#include "standin_play.h"
#include "standin_report.h"
#include "standin_starvation.h"
#include "standin_survey.h"
#include "standin_virtual_clock.h"
#include "standin_window.h"
#include "standin_windows_rules.h"

// Whether the first top-level window of this title in the z-order is another
// program's.
static bool OtherProgramsWindowFirst(const std::wstring& title) {
    HWND first = FindWindowExW(nullptr, nullptr, nullptr, title.c_str());
    DWORD process = 0;
    GetWindowThreadProcessId(first, &process);
    return first != nullptr && process != GetCurrentProcessId();
}

// Many games make their window on the main thread and hand the plugins to a
// loader thread; the main thread then waits for it, taking messages or not.
static HMODULE LoadFromLoaderThread(const StandinOptions& options) {
    static HMODULE plugin = nullptr;
    HANDLE loader = CreateThread(
        nullptr, 0,
        [](LPVOID options) -> DWORD {
            plugin = LoadPlugin(*static_cast<const StandinOptions*>(options));
            return 0;
        },
        const_cast<StandinOptions*>(&options), 0, nullptr);
    if (options.loaderThread == L"waits") {
        WaitForSingleObject(loader, INFINITE);
    } else {
        while (MsgWaitForMultipleObjects(1, &loader, FALSE, INFINITE, QS_ALLINPUT) !=
               WAIT_OBJECT_0) {
            PumpMessages();
        }
    }
    CloseHandle(loader);
    return plugin;
}

int wmain(int argc, wchar_t** argv) {
    StandinOptions options;
    std::string error;
    if (!ParseStandinOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "Duskhaven: %s\n", error.c_str());
        return 2;
    }
    if (options.calibrateFrameUs > 0) {
        CalibrateFrameWork(options.calibrateFrameUs);
        return 0;
    }
    if (!GameMemoryCoversHolderSlot()) {
        std::fprintf(stderr, "Duskhaven: game memory does not cover the list's holder slot\n");
        return 3;
    }
    SetUpGameList(options);
    HWND window = nullptr;
    if (options.window) {
        window = CreateGameWindow(options);
        if (options.overlayHook) {
            SetOverlayHook();
        }
        PumpMessages();
        Report("window-before: %s", DescribeWindow(window).c_str());
        if (options.untilOtherWindow) {
            auto above = [&options] { return OtherProgramsWindowFirst(options.title); };
            Report("other-window: %d", PumpFor(options.waitBeforeLoadMs, above) ? 1 : 0);
        } else {
            PumpFor(options.waitBeforeLoadMs);
        }
    }
    Report("threads-before: %d", CountOwnThreads());
    if (options.clock.virtualTime) {
        GameKeepsTime(); // from before the load, so that nothing moves while the plugin loads
    }
    if (!options.holdFile.empty() && options.holdFromMs < 0) {
        HoldFile(options.holdFile, true);
    }
    HMODULE plugin =
        options.loaderThread.empty() ? LoadPlugin(options) : LoadFromLoaderThread(options);
    Sleep(static_cast<DWORD>(options.busyAfterLoadMs)); // a loading screen, say
    if (window != nullptr && options.postQuota) {
        // A queue that refuses posts is full of messages the game takes next.
        PostMessageW(window, WM_APP, 0, 0);
    }
    if (window != nullptr) {
        ChangeWindowAfterLoad(options, window);
        PumpMessages();
        Report("window-after: %s", DescribeWindow(window).c_str());
    }
    RunGame(options, plugin);
    // How much of the plugin's time the run covered, its clock told to run
    // fast or not.
    if (plugin != nullptr) {
        Report("plugin-clock: start=%llu end=%llu", PluginClockStart(), PluginTickCount());
    }
    if (window != nullptr) {
        Report("window-end: %s", DescribeWindow(window).c_str());
    }
    WaitForHookOwners(5000); // the plugin's own thread of the window change ends first
    Report("threads-after: %d", CountOwnThreads());
    ReportOverlayHook();
    if (options.entriesOnGuardPage) {
        ReportGuardPageFaults();
    }
    ReportPluginThreadStarts(plugin);
    ReportFileOpens();
    if (plugin != nullptr) {
        ReportPathLimit();
    }
    ReportStarvation();
    ReportMemoryQueries();
    ReportVirtualClock();
    std::fflush(stdout);
    if (options.exitNormally) {
        ExitProcess(0); // ends the plugin's threads, then runs every DLL's detach
    }
    // Tests that do not look at the exit leave at once, as a killed game would.
    TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}
