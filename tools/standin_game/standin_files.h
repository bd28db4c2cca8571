// The plugin's own file calls: slowed, as a Documents folder that a sync
// client or a virus scanner holds up, counted on the game's window thread,
// and the settings file's write refused or raced by another program.
#pragma once

#include <string>

#include <windows.h>

struct FileOptions {
    int slowOpenMs = 0;         // each file the plugin opens takes this much longer
    bool iniWriteFails = false; // writes to a settings file (Quellstone.ini or .tmp) fail, and so
                                // does deleting one, as a drive gone full with a program
                                // holding what was written
    bool iniAppears = false;    // another program makes Quellstone.ini, holding iniText,
    std::string iniText;        // just before the plugin's first open of a settings file
    bool iniLookFails = false;  // the plugin's look for a settings file is refused ("access
                                // denied", as a scanner holding it may answer), and its opens
                                // of one for writing are counted
};

void InstallFileFaults(HMODULE plugin, const FileOptions& options);
// "file-opens: all=N window-thread=M": the plugin's opens, and those made on
// the game's window thread (the thread that started the game); only when
// slowOpenMs is set. "ini-write-opens: N", the plugin's opens of a settings
// file for writing; only when iniLookFails is set.
void ReportFileOpens();
