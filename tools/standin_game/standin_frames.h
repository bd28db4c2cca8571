// The game's render loop (benchmarks): frames at 120 a second, each frame's
// work timed.
#pragma once

// None unless workUnits is above 0.
struct FrameOptions {
    long long workUnits = 0; // the same work in every frame
    int busyThreads = 0;     // threads that keep the game's other cores busy
};

void CalibrateFrameWork(int workUs);
void StartFrames(const FrameOptions& options);
void RunFrame(); // one frame: its work, then the wait for the next deadline
void ReportFrames();
