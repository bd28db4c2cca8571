// The game's render loop, for the frame benchmark: 120 frames a second, each
// the same fixed amount of work, then a wait for the next frame's deadline, as
// a game's render thread does. Each frame's work is timed with the performance
// counter; a frame whose work takes longer is a frame the player may feel,
// whatever else the process does. Optionally the game keeps every other core
// busy too, as a game with worker threads does.
#include "standin_frames.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <windows.h>

#include "standin_report.h"

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
static std::vector<float> workMs;

void StartFrames(const FrameOptions& options) {
    frameOptions = options;
    for (int i = 0; i < options.busyThreads; ++i) {
        CloseHandle(CreateThread(nullptr, 0, BusyCore, nullptr, 0, nullptr));
    }
    workMs.reserve(1 << 16);
    TimeWork(scene.size() / 9 + 1); // the first touch of the frame's data
    firstFrameMs = nextFrameMs = NowMs();
}

void RunFrame() {
    double work = TimeWork(frameOptions.workUnits);
    if (nextFrameMs - firstFrameMs >= kWarmUpMs) {
        workMs.push_back(static_cast<float>(work));
    }
    // A frame that ran past its deadline makes the next start at once; one
    // that ran past the one after drops the deadlines it missed.
    nextFrameMs += kFramePeriodMs;
    double now = NowMs();
    if (now > nextFrameMs + kFramePeriodMs) {
        nextFrameMs = now;
    }
    while ((now = NowMs()) < nextFrameMs) {
        Sleep(static_cast<DWORD>(nextFrameMs - now));
    }
}

// The counted frames' work times, in microseconds, for the benchmark to sort
// and draw, a hundred to a line (a report line holds at most 1 KiB); then
// their count and the late ones (work over 1.5 frame periods).
void ReportFrames() {
    if (frameOptions.workUnits <= 0) {
        return;
    }
    int late = 0;
    std::string times;
    for (std::size_t i = 0; i < workMs.size(); ++i) {
        late += workMs[i] > 1.5 * kFramePeriodMs;
        times += ' ' + std::to_string(static_cast<int>(workMs[i] * 1000 + 0.5));
        if (i % 100 == 99 || i + 1 == workMs.size()) {
            Report("frame-work-us:%s", times.c_str());
            times.clear();
        }
    }
    Report("frames: counted=%zu late=%d busy-threads=%d work-units=%lld", workMs.size(), late,
           frameOptions.busyThreads, frameOptions.workUnits);
}
