// Every trim of the plugin's working set, reported; one of them may be refused.
#pragma once

#include <windows.h>

// failCall: the n-th SetProcessWorkingSetSize fails (0: none).
void InstallTrimReports(HMODULE plugin, int failCall);
