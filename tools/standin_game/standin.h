// The stand-in for the game "Duskhaven" and its VELQ loader: a Windows program
// that holds a game window and a list in its memory, loads the plugin as the
// loader does, and reports on stdout what tests need to see.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <windows.h>

// What the plugin's own calls to the system answer; by default what the system
// does.
constexpr long long kSystemAnswers = -2;
struct Faults {
    int failThreadCall = 0;               // the plugin's n-th CreateThread fails
    int failTrimCall = 0;                 // its n-th SetProcessWorkingSetSize fails
    long long freeBytes = kSystemAnswers; // ullAvailPhys it is told; -1: the query fails
    bool failProcessQuery = false;        // K32GetProcessMemoryInfo
    long long tickStart = -1;             // its GetTickCount64 starts here (-1: the real one),
    long long tickSpeed = 1;              // and runs this many times as fast;
    long long sleepSpeed = 1;             // its Sleep lasts this many times shorter
    bool failDocuments = false;           // SHGetFolderPathW
    bool failExePath = false;             // GetModuleFileNameW
    bool failHook = false;                // SetWindowsHookExW
};

// The game's render loop (benchmarks): none unless workUnits is above 0.
struct FrameOptions {
    long long workUnits = 0; // the same work in every frame
    int busyThreads = 0;     // threads that keep the game's other cores busy
};

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
    int waitBeforeLoadMs = 0;                   // show the game this long before loading the plugin
    int runMs = 0;                              // keep running this long after the load
    int armAfterMs = -1;                        // call VELQPlugin_Arm this long after the load
    std::vector<std::uint64_t> entries;         // the game's list; empty: no holder at all
    int toggleMs = 0;                           // empty and refill the list this often
    bool entriesOnGuardPage = false;            // the list lies on a guard page (not with toggleMs)
    bool exitNormally = false;                  // ExitProcess, as a game that quits does
    int reportEveryMs = 0;                      // print thread count and private bytes this often
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
    Faults faults;
    // Benchmarks: a list of this many empty entries in place of entries, with
    // the last one present when presentLast, the first when presentFirst; the
    // render loop; the calibration
    // of its work (print the work units that take this many us, and quit).
    long long listSize = -1;
    bool presentLast = false;
    bool presentFirst = false;
    FrameOptions frames;
    int calibrateFrameUs = 0;
};

bool ParseStandinOptions(int argc, wchar_t** argv, StandinOptions* options, std::string* error);

// The game's memory: a static zero-filled block that covers the list's holder
// slot at a fixed offset from the executable's base.
bool GameMemoryCoversHolderSlot();
void SetUpGameList(const StandinOptions& options);
void SetListPresent(bool present); // for toggling
// Counts the guard-page faults raised on the list's page by a handler placed
// first in the chain, which only counts and passes them on: placed once the
// plugin's own handler is in, so that it sees them before the plugin does.
void CountGuardPageFaults();
long GuardPageFaults();

HWND CreateGameWindow(const StandinOptions& options);
std::string DescribeWindow(HWND window);
// The game's own change right after the load; a destroyed window becomes null.
void ChangeWindowAfterLoad(const StandinOptions& options, HWND& window);

// Loads the plugin as the VELQ loader would. Prints what it sees; returns the
// plugin's module (or null).
HMODULE LoadPlugin(const StandinOptions& options);

// Points the plugin's import of dll!name at replacement; false when it has
// no such import.
bool HookImport(HMODULE plugin, const char* dll, const char* name, const void* replacement);
// Makes the plugin's own calls to the system answer as told (standin_faults.cpp).
void InstallFaults(HMODULE plugin, const Faults& faults);
// What the plugin's GetTickCount64 answers now, told to run fast or not.
ULONGLONG PluginTickCount();
ULONGLONG PluginClockStart(); // what it answered at the load

// The game's render loop (standin_frames.cpp): frames at 120 a second, each
// frame's work timed.
void CalibrateFrameWork(int workUs);
void StartFrames(const FrameOptions& options);
void RunFrame(); // one frame: its work, then the wait for the next deadline
void ReportFrames();

// What the plugin's load and its idle threads must do, done bare.
void BareLoad();

int CountOwnThreads();
std::string Narrow(const std::wstring& text);
void Report(const char* format, ...) __attribute__((format(printf, 1, 2)));
