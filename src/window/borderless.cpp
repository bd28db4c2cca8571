#include "window/borderless.h"

#include "log/log.h"
#include "window/window_change.h"

#include <atomic>
#include <windows.h>

// The first top-level window titled "Duskhaven" that belongs to the game
// itself, and its thread, from one answer: a window of another program with
// that title (Explorer showing the game's folder, say) is never touched.
static HWND FindGameWindow(DWORD* thread) {
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, nullptr, L"Duskhaven")) != nullptr) {
        DWORD process = 0;
        *thread = GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId() && *thread != 0) {
            return window;
        }
    }
    return nullptr;
}

bool MakeBorderless(HWND window) {
    auto style = static_cast<std::uint32_t>(GetWindowLongW(window, GWL_STYLE));
    SetWindowLongW(window, GWL_STYLE, static_cast<LONG>(BorderlessStyle(style)));
    auto exStyle = static_cast<std::uint32_t>(GetWindowLongW(window, GWL_EXSTYLE));
    SetWindowLongW(window, GWL_EXSTYLE, static_cast<LONG>(BorderlessExStyle(exStyle)));

    // Read before SWP_FRAMECHANGED recomputes the frame: this is still the
    // framed rectangle, so the window keeps its outer size.
    RECT rect = {};
    bool rectKnown = GetWindowRect(window, &rect) != FALSE;
    WindowPlacement to =
        BorderlessPlacement(rectKnown, rect.left, rect.top, rect.right, rect.bottom);
    // A window that the game destroyed meanwhile was not changed, and the log
    // must not say it was.
    return SetWindowPos(window, nullptr, to.x, to.y, to.width, to.height, to.flags) != FALSE;
}

void ApplyBorderless() noexcept {
    static std::atomic<bool> done{false};
    if (done.exchange(true)) {
        return; // the loader calls the load once; a second call changes nothing
    }
    DWORD windowThread = 0; // never 0 when a window was found
    HWND window = FindGameWindow(&windowThread);
    if (window == nullptr) {
        return;
    }
    if (windowThread == GetCurrentThreadId()) {
        // The loader's own window: nothing to wait for, and this thread
        // writes the load's lines anyway.
        if (MakeBorderless(window)) {
            Log("[QS] Borderless applied.");
        }
        return;
    }
    HandOffToWindowThread(window, windowThread);
}
