// The flags between the activity watcher and the CPU worker. One byte each,
// lock-free; the watcher is the only writer of WorkerArmed and ListIdle.
#pragma once

#include <atomic>

extern std::atomic<bool> ArmRequest;  // raised by VELQPlugin_Arm
extern std::atomic<bool> WorkerArmed; // set once the watcher saw ArmRequest; never cleared
extern std::atomic<bool> ListIdle;    // the last sample of the game's list found no entry

void RequestArm() noexcept;
