// The Win32 side of the window change, shared by the two files that make it:
// borderless.cpp (finding the window, the change itself) and window_handoff.cpp
// (carrying the change to the window's own thread).
#pragma once

#include <windows.h>

// Removes the frame and moves the window to the origin; true when the window
// took the new place (a window destroyed meanwhile did not). Writes no line:
// it may run on the game's own window thread, which must never wait for a file.
bool MakeBorderless(HWND window);

// Has the change made on windowThread, the window's own, the next time it
// takes a message, by a short-lived thread of the plugin's that owns what
// carries it there and writes the line once it is made. Waits for it at most
// kWindowThreadWaitMs.
void HandOffToWindowThread(HWND window, DWORD windowThread);
