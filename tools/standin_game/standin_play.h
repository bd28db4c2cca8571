// The game running: its main loop after the load, doing what a test asked for
// at the moments it asked, on the plugin's clock when the stand-in owns it,
// else on the real one.
#pragma once

#include <functional>

#include <windows.h>

#include "standin_options.h"

// Runs the game's main loop for ms of real time, or until done() says so
// when given.
bool PumpFor(int ms, const std::function<bool()>& done = nullptr);
// Runs the game for options.runMs after the load (once waitForGone is gone,
// when given: "gone: 0|1"): arming, emptying and refilling the list,
// reporting on the process, holding a file, rendering frames.
void RunGame(const StandinOptions& options, HMODULE plugin);
