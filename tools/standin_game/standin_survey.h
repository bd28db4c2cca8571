// What the stand-in sees of its own process: its threads, their CPU time, its
// memory and handles, and where the plugin's threads started.
#pragma once

#include <windows.h>

int CountOwnThreads();
// The private memory committed in this process, touched or not, as Windows
// counts a process's commit charge.
unsigned long long CommittedPrivateBytes();
// One "process:" line: threads, working set, page-file usage, free RAM, CPU
// time, handles, the plugin's clock and the private memory committed.
void ReportProcess();
// One "plugin-thread-starts:" line, each thread as module and offset.
void ReportPluginThreadStarts(HMODULE plugin);
