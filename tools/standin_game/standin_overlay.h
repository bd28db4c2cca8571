// Another program's hook in the game's message chain, as overlays and
// recorders set one on a game's window thread before any plugin loads.
#pragma once

#include <windows.h>

// Sets the overlay's WH_GETMESSAGE hook on the calling thread (the window's).
// A hook set later, such as the plugin's, runs before it and must pass each
// message on. The first message the plugin passes on through its
// CallNextHookEx is held inside the chain until every thread that set a hook
// of the plugin's has ended and the stand-in has freed what Windows frees:
// the plugin then removes its hook while the window's thread still runs it.
// The hold lasts 5 s at most for each such thread.
void SetOverlayHook();
// Points the plugin's CallNextHookEx at one that tells the overlay the
// message came through the plugin's hook.
void WatchPluginPassesOn(HMODULE plugin);
// "overlay-hook: passed-on=N": how many messages reached the overlay through
// the plugin's hook.
void ReportOverlayHook();
