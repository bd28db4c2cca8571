#include "window/borderless.h"

#include "log/log.h"

#include <windows.h>

// The first top-level window titled "Duskhaven" that belongs to the game
// itself: a window of another program with that title (Explorer showing the
// game's folder, say) is never touched.
static HWND FindGameWindow() {
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, nullptr, L"Duskhaven")) != nullptr) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId()) {
            return window;
        }
    }
    return nullptr;
}

void ApplyBorderless() noexcept {
    HWND window = FindGameWindow();
    if (window == nullptr) {
        return;
    }
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
    SetWindowPos(window, nullptr, to.x, to.y, to.width, to.height, to.flags);

    Log("[QS] Borderless applied.");
}
