// Entries of the plugin's import table, pointed at the stand-in's own
// functions before the load: only the plugin's calls go through them, never
// the game's.
#pragma once

#include <windows.h>

// Points the plugin's import of dll!name at replacement; false when it has
// no such import.
bool HookImport(HMODULE plugin, const char* dll, const char* name, const void* replacement);
// The same, reporting an import the plugin does not have.
void HookImportOrReport(HMODULE plugin, const char* dll, const char* name, const void* replacement);
