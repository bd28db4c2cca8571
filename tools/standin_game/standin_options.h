// The stand-in's command line: what a test asks the game, its loader and the
// plugin's system calls to do.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <windows.h>

#include "standin_clock.h"
#include "standin_faults.h"
#include "standin_files.h"
#include "standin_frames.h"

struct StandinOptions {
    std::wstring pluginPath; // default: <exe folder>\Data\VELQ\Plugins\Quellstone.dll
    bool hostIsNull = false; // pass a null HostInterface pointer
    std::uint32_t hostVersion = 0x00020120;
    std::uint32_t gameVersion = 0x010F0DE0;
    bool window = false; // create a top-level window
    std::wstring title = L"Duskhaven";
    std::uint32_t style = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
    std::uint32_t exStyle = WS_EX_WINDOWEDGE | WS_EX_CLIENTEDGE;
    RECT rect = {100, 80, 100 + 640, 80 + 480}; // outer rectangle
    int waitBeforeLoadMs = 0;           // show the game this long before loading the plugin,
    bool untilOtherWindow = false;      // or until another program's window of its title lies above
    std::wstring waitForGone;           // after the load, wait until this file is gone
    int runMs = 0;                      // keep running this long after the load
    int armAfterMs = -1;                // call VELQPlugin_Arm this long after the load
    std::vector<std::uint64_t> entries; // the game's list; empty: no holder at all
    int toggleMs = 0;                   // empty and refill the list this often
    bool entriesOnGuardPage = false;    // the list lies on a guard page (not with toggleMs)
    bool exitNormally = false;          // ExitProcess, as a game that quits does
    int reportEveryMs = 0;              // print thread count and private bytes this often
    bool bare = false; // in place of the plugin, the plainest form of its work (benchmarks)
    // Load on a thread of its own while the window's thread "waits" for it
    // without taking messages, or "pumps" them; empty: load on the window's.
    std::wstring loaderThread;
    // What the game does to its window right after the load returns, before
    // it takes its next message: restyle it (-1: leave), place it, destroy it.
    long long styleAfterLoad = -1;
    RECT rectAfterLoad = {};
    bool rectAfterLoadSet = false;
    bool destroyAfterLoad = false;
    int busyAfterLoadMs = 0; // then the window's thread is busy this long before its next message
    bool postQuota = false;  // the plugin's posts meet a full queue (standin_windows_rules.h)
    int starveWorkersMs = 0; // its threads below normal wait for a core (standin_starvation.h)
    bool freeAfterLoad = false; // FreeLibrary right after an accepted load, as some loaders do
    bool overlayHook = false;   // another program hooks the window's messages (standin_overlay.h)
    // A program holds this file from holdFromMs to holdToMs on the plugin's
    // clock (from before the load when holdFromMs is -1) (standin_holder.h).
    std::wstring holdFile;
    long long holdFromMs = -1, holdToMs = -1;
    Faults faults;      // what the plugin's calls to the system answer (standin_faults.h)
    ClockOptions clock; // its clock and sleeps (standin_clock.h)
    FileOptions files;  // its file calls (standin_files.h)
    // Benchmarks: a list of this many empty entries in place of entries, with
    // the last one present when presentLast, the first when presentFirst; the
    // render loop; the calibration of its work (print the work units that
    // take this many us, and quit).
    long long listSize = -1;
    bool presentLast = false;
    bool presentFirst = false;
    FrameOptions frames;
    int calibrateFrameUs = 0;
};

bool ParseStandinOptions(int argc, wchar_t** argv, StandinOptions* options, std::string* error);
