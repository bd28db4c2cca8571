// The plugin's one log file, below the user's Documents folder:
// Documents\My Games\Duskhaven\VELQ\Logs\Quellstone.log, or the bare
// "Quellstone.log" in the current directory when Documents is unknown.
#pragma once

#include <filesystem>

// The log file's path. Makes the log directory (and every missing level above
// it) on each call, so a folder deleted while the game runs comes back.
std::filesystem::path GetLogPath() noexcept;

// Removes the previous run's log file, also while a viewer holds it open:
// afterwards the log's name is free or the file it names is empty. When a
// program holds it so that neither can be done, the first line written once it
// lets go finishes the reset. Called once by the load entry, before any line
// of the run.
void ResetLog() noexcept;

// Appends one time-stamped line. Callable from any thread; a line that cannot
// be written is dropped, and the next call tries afresh.
void Log(const char* format, ...) noexcept __attribute__((format(printf, 1, 2)));
