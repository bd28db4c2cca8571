// The VELQ loader's part.
#pragma once

#include <windows.h>

#include "standin_options.h"

// Loads the plugin as the VELQ loader would. Prints what it sees; returns the
// plugin's module (or null).
HMODULE LoadPlugin(const StandinOptions& options);
