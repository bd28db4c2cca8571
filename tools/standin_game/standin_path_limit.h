// Windows' path limit, which Wine does not have, held on the plugin's own
// file calls: a game's executable declares no long-path awareness, so every
// path-taking file function refuses a path whose full form is MAX_PATH (260)
// characters or more, and a folder to make of 248 or more (room for an 8.3
// name), unless it starts with "\\?\" (Microsoft, "Maximum Path Length
// Limitation"). Each refusal answers ERROR_FILENAME_EXCED_RANGE, or
// ENAMETOOLONG from the C runtime, and is counted.
#pragma once

#include <windows.h>

// Wraps whatever the plugin's imports point at when called, so that the
// other stand-ins of its file calls keep working behind the limit: call it
// after them.
void InstallPathLimit(HMODULE plugin);
// "long-paths: refused=N", the calls refused for their length.
void ReportPathLimit();
