// The game's render loop, for the frame benchmark: 120 frames a second, each
// the same fixed amount of work, then a wait for the next frame's deadline, as
// a game's render thread does. Each frame's work is timed with the performance
// counter; a frame whose work takes longer is a frame the player may feel,
// whatever else the process does. So is a frame whose work starts late: a
// thread beside the game can keep the render thread from waking at its due
// moment without touching the work itself. A frame is late when it finished
// after its deadline (its due moment plus one frame period), whatever the
// cause; so is each deadline skipped while a frame ran long. Optionally the
// game keeps every other core busy too, as a game with worker threads does.
#include "standin_frames.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <windows.h>

#include "standin_report.h"
#include "standin_survey.h"

constexpr double kFramePeriodMs = 1000.0 / 120;
// The first second is not counted: the plugin's load and its first passes
// (the settings file, the log folder) are a start-up cost, not the evening's.
constexpr double kWarmUpMs = 1000;

// The frame's data: 8 MiB, more than most caches hold, so that a thread that
// sweeps memory beside the game is felt as a real game would feel it.
static std::vector<std::uint64_t> scene(std::size_t(1) << 20);
static std::size_t sceneAt = 0;
static volatile std::uint64_t sink; // keeps the work from being dropped

// One unit of frame work: some arithmetic, then a read and a write of the
// frame's data, moving on through it from frame to frame.
static std::uint64_t WorkUnits(long long units, std::uint64_t* data, std::size_t mask,
                               std::size_t* at) {
    std::uint64_t h = 0x9E3779B97F4A7C15ull;
    for (long long i = 0; i < units; ++i) {
        for (int round = 0; round < 8; ++round) {
            h = (h ^ (h >> 29)) * 0xBF58476D1CE4E5B9ull;
        }
        h ^= data[*at];
        data[*at] = h;
        *at = (*at + 9) & mask; // 72 bytes on: a new cache line each time
    }
    return h;
}

static double NowMs() {
    static const double ticksPerMs = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return frequency.QuadPart / 1000.0;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart / ticksPerMs;
}

static double TimeWork(long long units) {
    double start = NowMs();
    sink = WorkUnits(units, scene.data(), scene.size() - 1, &sceneAt);
    return NowMs() - start;
}

void CalibrateFrameWork(int workUs) {
    constexpr long long kProbe = 20000;
    TimeWork(kProbe); // the first touch of the frame's data
    double best = 1e9;
    for (int i = 0; i < 50; ++i) {
        best = std::min(best, TimeWork(kProbe));
    }
    Report("frame-work-units: %lld", static_cast<long long>(workUs / 1000.0 / best * kProbe));
}

// The game's other cores: the same kind of work, on data of their own, without
// end.
static DWORD WINAPI BusyCore(LPVOID) {
    std::vector<std::uint64_t> data(std::size_t(1) << 17);
    std::size_t at = 0;
    for (;;) {
        sink = WorkUnits(100000, data.data(), data.size() - 1, &at);
    }
}

static FrameOptions frameOptions;
static double firstFrameMs = 0, nextFrameMs = 0;
static std::vector<float> workMs, startLateMs;
static long long lateFrames = 0;

void StartFrames(const FrameOptions& options) {
    frameOptions = options;
    for (int i = 0; i < options.busyThreads; ++i) {
        CloseHandle(CreateThread(nullptr, 0, BusyCore, nullptr, 0, nullptr));
    }
    workMs.reserve(1 << 16);
    startLateMs.reserve(1 << 16);
    TimeWork(scene.size() / 9 + 1); // the first touch of the frame's data
    firstFrameMs = nextFrameMs = NowMs();
}

void RunFrame() {
    double due = nextFrameMs, start = NowMs();
    double work = TimeWork(frameOptions.workUnits);
    bool counted = due - firstFrameMs >= kWarmUpMs;
    if (counted) {
        workMs.push_back(static_cast<float>(work));
        startLateMs.push_back(static_cast<float>(std::max(0.0, start - due)));
        lateFrames += start + work > due + kFramePeriodMs;
    }
    // A frame that ran past its deadline makes the next start at once; one
    // that ran past the one after drops the deadlines it missed, and each
    // of those is a frame the player did not get: late too, or a long stall
    // would count as one late frame.
    nextFrameMs += kFramePeriodMs;
    double now = NowMs();
    if (now > nextFrameMs + kFramePeriodMs) {
        if (counted) {
            lateFrames += static_cast<long long>((now - nextFrameMs) / kFramePeriodMs);
        }
        nextFrameMs = now;
    }
    while ((now = NowMs()) < nextFrameMs) {
        Sleep(static_cast<DWORD>(nextFrameMs - now));
    }
}

// Times in microseconds, a hundred to a line (a report line holds at most
// 1 KiB).
static void ReportTimes(const char* name, const std::vector<float>& ms) {
    std::string times;
    for (std::size_t i = 0; i < ms.size(); ++i) {
        times += ' ' + std::to_string(static_cast<int>(ms[i] * 1000 + 0.5));
        if (i % 100 == 99 || i + 1 == ms.size()) {
            Report("%s:%s", name, times.c_str());
            times.clear();
        }
    }
}

// The counted frames' work times and how late each started, for the benchmark
// to sort and draw; then their count, the late ones, and the process's
// committed private memory at the end.
void ReportFrames() {
    if (frameOptions.workUnits <= 0) {
        return;
    }
    ReportTimes("frame-work-us", workMs);
    ReportTimes("frame-start-late-us", startLateMs);
    Report("frames: counted=%zu late=%lld busy-threads=%d work-units=%lld private-kb=%llu",
           workMs.size(), lateFrames, frameOptions.busyThreads, frameOptions.workUnits,
           CommittedPrivateBytes() / 1024);
}
