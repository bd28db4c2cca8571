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

// The steps themselves, the same on whichever thread they run.
static void MakeBorderless(HWND window) {
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
    // A window that the game destroyed meanwhile (while its thread kept us
    // waiting, say) was not changed, and the log must not say it was.
    if (SetWindowPos(window, nullptr, to.x, to.y, to.width, to.height, to.flags)) {
        Log("[QS] Borderless applied.");
    }
}

static DWORD WINAPI BorderlessThread(LPVOID window) noexcept {
    MakeBorderless(static_cast<HWND>(window));
    return 0;
}

void ApplyBorderless() noexcept {
    HWND window = FindGameWindow();
    if (window == nullptr) {
        return;
    }
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
        MakeBorderless(window); // the loader's own window: nothing to wait for
        return;
    }
    // Restyling or moving a window of another thread sends that thread
    // messages and waits for its answer. A game whose window thread waits for
    // the loader without taking messages would never answer, and the load
    // would never return. So a thread of its own makes the change, and the
    // load waits for it only so long: a window thread that answers is done by
    // then; one that does not gets the change, and the log its line, as soon
    // as it takes messages again.
    HANDLE helper = CreateThread(nullptr, 0, BorderlessThread, window, 0, nullptr);
    if (helper == nullptr) {
        return; // no change is better than a game that never starts
    }
    WaitForSingleObject(helper, kWindowThreadWaitMs);
    CloseHandle(helper);
}
