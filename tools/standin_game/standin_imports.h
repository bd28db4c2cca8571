// Entries of the plugin's import table, pointed at the stand-in's own
// functions before the load: only the plugin's calls go through them, never
// the game's.
#pragma once

#include <windows.h>

// Points the plugin's import of dll!name at replacement; returns what the
// entry pointed at before (the system's function, or an earlier stand-in's,
// for a replacement that passes calls on), nullptr when it has no such import.
const void* HookImport(HMODULE plugin, const char* dll, const char* name, const void* replacement);
// HookImport for a replacement that passes calls on: returns, typed, what
// the import pointed at before (nullptr when the plugin has no such import).
template <typename Function>
Function ChainImport(HMODULE plugin, const char* dll, const char* name, Function replacement) {
    return reinterpret_cast<Function>(const_cast<void*>(
        HookImport(plugin, dll, name, reinterpret_cast<const void*>(replacement))));
}
// The same as HookImport, reporting an import the plugin does not have as
// "faults: the plugin does not import NAME".
const void* HookImportOrReport(HMODULE plugin, const char* dll, const char* name,
                               const void* replacement);
// ChainImport, reporting an import the plugin does not have.
template <typename Function>
Function ChainImportOrReport(HMODULE plugin, const char* dll, const char* name,
                             Function replacement) {
    return reinterpret_cast<Function>(const_cast<void*>(
        HookImportOrReport(plugin, dll, name, reinterpret_cast<const void*>(replacement))));
}
