// Duskhaven.exe, the stand-in game: see standin.h. Exit code 0 when it ran,
// 2 for bad options, 3 when its memory layout is not what the plugin expects.
#include "standin.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <psapi.h>
#include <tlhelp32.h>

std::string Narrow(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
    return out;
}

// One write per line: the plugin's threads report too (trims, sleeps), and
// two lines written at once must not run into each other.
void Report(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    length = length < 0 ? 0 : std::min<int>(length, sizeof line - 2);
    line[length] = '\n';
    std::fwrite(line, 1, length + 1, stdout);
    std::fflush(stdout);
}

static const DWORD mainThreadId = GetCurrentThreadId();

static double CpuMs(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(thread, &created, &exited, &kernel, &user)) {
        return 0;
    }
    auto ms = [](FILETIME t) {
        return (ULONGLONG(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e4;
    };
    return ms(kernel) + ms(user);
}

// Calls visit with the id of each thread of this process.
template <typename Visit> static void ForEachOwnThread(Visit visit) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) {
            visit(entry.th32ThreadID);
        }
    }
    CloseHandle(snapshot);
}

// Counts this process's threads; adds the CPU time of the game's main thread
// and of all the others (the plugin's, once it is loaded).
static int SurveyThreads(double* mainCpuMs = nullptr, double* otherCpuMs = nullptr) {
    int count = 0;
    ForEachOwnThread([&](DWORD id) {
        ++count;
        if (mainCpuMs == nullptr) {
            return;
        }
        HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, id);
        if (thread != nullptr) {
            (id == mainThreadId ? *mainCpuMs : *otherCpuMs) += CpuMs(thread);
            CloseHandle(thread);
        }
    });
    return count;
}

int CountOwnThreads() {
    return SurveyThreads();
}

// Where each of the plugin's threads started, as a crash report names a place:
// module and offset. Wine and Windows both answer the start-address query.
static void ReportPluginThreadStarts(HMODULE plugin) {
    using QueryThread = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<QueryThread>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread"));
    MODULEINFO module = {};
    if (plugin == nullptr || query == nullptr ||
        !K32GetModuleInformation(GetCurrentProcess(), plugin, &module, sizeof module)) {
        return;
    }
    auto base = reinterpret_cast<std::uintptr_t>(module.lpBaseOfDll);
    std::string starts;
    ForEachOwnThread([&](DWORD id) {
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, id);
        if (thread == nullptr) {
            return;
        }
        std::uintptr_t start = 0;
        constexpr int kThreadQuerySetWin32StartAddress = 9;
        if (query(thread, kThreadQuerySetWin32StartAddress, &start, sizeof start, nullptr) == 0 &&
            start - base < module.SizeOfImage) {
            char place[48];
            std::snprintf(place, sizeof place, " Quellstone.dll+0x%llx",
                          static_cast<unsigned long long>(start - base));
            starts += place;
        }
        CloseHandle(thread);
    });
    Report("plugin-thread-starts:%s", starts.c_str());
}

// The handles this process holds. Wine 8 answers GetProcessHandleCount with 0
// whatever is open; the system's table of all handles, which it does fill in,
// is counted then.
static DWORD CountOwnHandles() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) {
        return count;
    }
    struct Entry { // SYSTEM_HANDLE_TABLE_ENTRY_INFO
        ULONG process;
        UCHAR type, flags;
        USHORT handle;
        void* object;
        ACCESS_MASK access;
    };
    struct Table {
        ULONG count;
        Entry entries[1];
    };
    using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<Query>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation"));
    constexpr ULONG kSystemHandleInformation = 16;
    constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
    std::vector<std::uint8_t> buffer(1 << 20);
    LONG status = kInfoLengthMismatch;
    for (int tries = 0; query != nullptr && status == kInfoLengthMismatch && tries < 6; ++tries) {
        ULONG needed = 0;
        status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                       &needed);
        if (status == kInfoLengthMismatch) {
            buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 65536));
        }
    }
    if (status != 0) {
        return 0;
    }
    const auto* table = reinterpret_cast<const Table*>(buffer.data());
    for (ULONG i = 0; i < table->count; ++i) {
        count += table->entries[i].process == GetCurrentProcessId();
    }
    return count;
}

// New figures go at the end of the line, so that readers of the older ones
// keep working. game-ms is the plugin's clock, which may run fast.
static void ReportProcess() {
    DWORD handles = CountOwnHandles(); // before the survey opens any
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    K32GetProcessMemoryInfo(GetCurrentProcess(),
                            reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
    MEMORYSTATUSEX memory = {};
    memory.dwLength = sizeof memory;
    GlobalMemoryStatusEx(&memory);
    double mainCpuMs = 0, otherCpuMs = 0;
    int threads = SurveyThreads(&mainCpuMs, &otherCpuMs);
    Report("process: threads=%d ws-kb=%llu pf-kb=%llu free-mb=%llu main-cpu-ms=%.1f "
           "other-cpu-ms=%.1f handles=%lu game-ms=%llu",
           threads, static_cast<unsigned long long>(counters.WorkingSetSize / 1024),
           static_cast<unsigned long long>(counters.PagefileUsage / 1024),
           static_cast<unsigned long long>(memory.ullAvailPhys >> 20), mainCpuMs, otherCpuMs,
           handles, PluginTickCount());
}

static void PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Runs the game's main loop for runMs after the load, doing the scheduled
// things a test asked for.
static void PumpFor(int ms) {
    for (ULONGLONG end = GetTickCount64() + ms; GetTickCount64() < end;) {
        PumpMessages();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

static void RunGame(const StandinOptions& options, HMODULE plugin) {
    auto arm =
        reinterpret_cast<void (*)()>(plugin ? GetProcAddress(plugin, "VELQPlugin_Arm") : nullptr);
    ULONGLONG start = GetTickCount64(), nextToggle = options.toggleMs, nextReport = 0;
    bool armed = false, present = true;
    if (options.frames.workUnits > 0) {
        StartFrames(options.frames);
    }
    for (;;) {
        PumpMessages();
        ULONGLONG now = GetTickCount64() - start;
        if (now >= static_cast<ULONGLONG>(options.runMs)) {
            break;
        }
        if (!armed && options.armAfterMs >= 0 && now >= ULONGLONG(options.armAfterMs)) {
            armed = true;
            Report(arm ? "arm: called" : "arm: no export");
            if (arm) {
                arm();
            }
        }
        if (options.toggleMs > 0 && now >= nextToggle) {
            present = !present;
            SetListPresent(present);
            nextToggle += options.toggleMs;
        }
        if (options.reportEveryMs > 0 && now >= nextReport) {
            ReportProcess();
            nextReport += options.reportEveryMs;
        }
        if (options.frames.workUnits > 0) {
            RunFrame();
        } else {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        }
    }
    ReportFrames();
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
        PumpMessages();
        Report("window-before: %s", DescribeWindow(window).c_str());
        PumpFor(options.waitBeforeLoadMs);
    }
    Report("threads-before: %d", CountOwnThreads());
    HMODULE plugin =
        options.loaderThread.empty() ? LoadPlugin(options) : LoadFromLoaderThread(options);
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
    Report("threads-after: %d", CountOwnThreads());
    if (options.entriesOnGuardPage) {
        ReportGuardPageFaults();
    }
    ReportPluginThreadStarts(plugin);
    std::fflush(stdout);
    if (options.exitNormally) {
        ExitProcess(0); // ends the plugin's threads, then runs every DLL's detach
    }
    // Tests that do not look at the exit leave at once, as a killed game would.
    TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}
