// The game's window.
#pragma once

#include <string>

#include <windows.h>

#include "standin_options.h"

HWND CreateGameWindow(const StandinOptions& options);
std::string DescribeWindow(HWND window);
// The game's own change right after the load; a destroyed window becomes null.
void ChangeWindowAfterLoad(const StandinOptions& options, HWND& window);
// Takes every message the game's thread has waiting.
void PumpMessages();
