// Windows figures, run under Wine: the log, the watcher's safe reads, the
// worker's summation, and the memory monitor's CPU time per hour.
#include "bench_common.h"
#include "log/log.h"
#include "workers/memory_monitor.h"

#include <string>

static double ThreadCpuSeconds(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(thread, &created, &exited, &kernel, &user);
    auto seconds = [](FILETIME t) {
        return (static_cast<double>(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) * 1e-7;
    };
    return seconds(kernel) + seconds(user);
}

// Log against the same bytes appended by the plainest open-append-close.
static void BenchLogLine() {
    const char* message = "[MM] Process WS:27 MB PF:10 MB";
    std::wstring bare = GetLogPath().parent_path().wstring() + L"\\bare.log";
    std::string line = std::string("[2026-12-06 08:39:20] ") + message + "\r\n";
    double ours = SecondsPerCall([&] { Log("%s", message); }, 200);
    double baseline = SecondsPerCall(
        [&] {
            HANDLE file =
                CreateFileW(bare.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            DWORD written;
            WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
            CloseHandle(file);
        },
        200);
    DeleteFileW(bare.c_str());
    ResetLog();
    Row("Log line vs bare open-append-close (Wine)", "us", ours * 1e6, baseline * 1e6);
}

// The monitor's pass with the real queries and log lines, against the whole
// hour of a thread that only ever sleeps 10 ms at a time (as the watcher
// does). Wine counts thread time in 10 ms ticks, too coarse for a thread that
// wakes once in 5 seconds, so the monitor's hour is its measured pass times
// the 720 passes of an hour; the sleeper's is read from its thread times.
static void BenchMemoryMonitor(double sleeperSeconds) {
    HANDLE sleeper = CreateThread(
        nullptr, 0,
        [](LPVOID) -> DWORD {
            for (;;) {
                Sleep(10);
            }
        },
        nullptr, 0, nullptr);
    std::uint64_t lastTrimTick = 0;
    const MemoryMonitorPlatform platform = MemoryMonitorWin32Platform();
    double pass =
        SecondsPerCall([&] { lastTrimTick = RunMemoryMonitorPass(platform, lastTrimTick); }, 50);
    ResetLog();
    double start = NowSeconds();
    Sleep(static_cast<DWORD>(sleeperSeconds * 1000));
    double sleeperPerHour = ThreadCpuSeconds(sleeper) * 3600 / (NowSeconds() - start);
    Row("Memory monitor, CPU per hour (pass x 720) vs a thread sleeping 10 ms at a time (Wine)",
        "ms", pass * 720 * 1e3, sleeperPerHour * 1e3);
}

int wmain(int argc, wchar_t** argv) {
    BenchLogLine();
    BenchWorkerTerms("Wine");
    BenchWatcherPass("Wine, safe reads", ReadGameMemory);
    BenchMemoryMonitor(argc > 1 ? _wtof(argv[1]) : 30);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 0); // the sleeping thread never ends
    return 0;
}
