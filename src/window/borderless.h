// The one-time change of the game window into a frameless window of the same
// outer size at the screen origin.
#pragma once

#include <cstdint>

// Finds the top-level window titled "Duskhaven" and removes its frame; logs
// "[QS] Borderless applied." when it made the change. Run on the loader's thread,
// which it keeps at most kWindowThreadWaitMs when the window belongs to
// another thread (the change is then finished once that thread takes its next
// message, however long the loader's thread lives).
void ApplyBorderless() noexcept;

constexpr unsigned kWindowThreadWaitMs = 500;
// How often the plugin's thread that waits for the window's thread looks
// whether the window is still there.
constexpr unsigned kWindowGoneCheckMs = 100;

// The decisions, kept free of Windows calls for native tests.
constexpr std::uint32_t kFrameStyleBits = 0x00CF0000;   // caption, sysmenu, thickframe, min, max
constexpr std::uint32_t kFrameExStyleBits = 0x00020301; // dlgmodal, windowedge, clientedge, static

constexpr std::uint32_t BorderlessStyle(std::uint32_t style) {
    return style & ~kFrameStyleBits;
}
constexpr std::uint32_t BorderlessExStyle(std::uint32_t exStyle) {
    return exStyle & ~kFrameExStyleBits;
}

struct WindowPlacement {
    int x, y, width, height;
    unsigned flags; // SetWindowPos flags
};

// Where SetWindowPos puts the window: at (0, 0) with the framed outer size.
// When the rectangle could not be read, the size is left as it is rather than
// set from values that were never filled in.
WindowPlacement BorderlessPlacement(bool rectKnown, int left, int top, int right, int bottom);
