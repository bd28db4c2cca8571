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

int wmain(int argc, wchar_t** argv) {
    // The real monitor thread runs beside the other benchmarks for a minute;
    // its CPU time is then read back, against an idle thread that only sleeps
    // as often as the watcher does.
    double monitorSeconds = argc > 1 ? _wtof(argv[1]) : 60;
    HANDLE monitor = CreateThread(nullptr, 0, MemoryMonitorThread, nullptr, 0, nullptr);
    HANDLE sleeper = CreateThread(
        nullptr, 0,
        [](LPVOID) -> DWORD {
            for (;;) {
                Sleep(10);
            }
        },
        nullptr, 0, nullptr);
    double start = NowSeconds();

    BenchLogLine();
    BenchWorkerTerms("Wine");
    BenchWatcherPass("Wine, safe reads", ReadGameMemory);

    Sleep(static_cast<DWORD>(std::max(0.0, monitorSeconds - (NowSeconds() - start)) * 1000));
    double elapsed = NowSeconds() - start;
    double perHour = 3600 / elapsed;
    Row("Memory monitor thread, CPU per hour vs a thread sleeping 10 ms (Wine)", "ms",
        ThreadCpuSeconds(monitor) * perHour * 1e3, ThreadCpuSeconds(sleeper) * perHour * 1e3);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 0); // the monitor thread never ends
    return 0;
}
