#include "window/borderless.h"

#include "log/log.h"

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

// The change that waits for the window's own thread. The load makes it once,
// so one set of variables serves: the window, the hook that carries the change
// there, and the event the load waits on. Whoever takes the hook out of
// pendingHook (the hook itself, once it has run, or the load, once the change
// is done or cannot come) removes it.
static std::atomic<HWND> pendingWindow{nullptr};
static std::atomic<HHOOK> pendingHook{nullptr};
static std::atomic<bool> changeTaken{false};
static std::atomic<HANDLE> changeDone{nullptr};
static std::atomic<int> changeDoneUsers{0}; // the load and the hook: the last one closes it

static void ReleaseChangeDone() {
    if (changeDoneUsers.fetch_sub(1) == 1) {
        CloseHandle(changeDone.load());
    }
}

static void RemovePendingHook() {
    if (HHOOK hook = pendingHook.exchange(nullptr)) {
        UnhookWindowsHookEx(hook);
    }
}

// Runs on the window's thread as it takes its next message. Reading and
// writing there, the change starts from the window as the game left it at that
// moment: styles it set, a size it chose, an enabled state, all kept. A window
// that is no longer this thread's (destroyed, its handle since given to
// another) is left alone.
static LRESULT CALLBACK ChangeOnWindowThread(int code, WPARAM wParam, LPARAM lParam) noexcept {
    if (code >= 0 && !changeTaken.exchange(true)) {
        HWND window = pendingWindow.load();
        if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
            MakeBorderless(window);
        }
        SetEvent(changeDone.load());
        ReleaseChangeDone();
        RemovePendingHook();
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Restyling or moving a window of another thread sends that thread messages
// and waits for its answer; a game whose window thread waits for the loader
// without taking messages would never answer, and the load would never return.
// So the change is handed to the window's thread itself, to be made the next
// time it takes a message, and the load waits for it only so long: a thread
// that takes messages has made it by then; one that does not makes it, and
// writes the line, as soon as it takes messages again.
static void ChangeOnItsOwnThread(HWND window, DWORD windowThread) {
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (done == nullptr) {
        return; // no change is better than a game that never starts
    }
    changeDone.store(done);
    pendingWindow.store(window);
    changeDoneUsers.store(2);
    // No module: a hook of this process's own code, which the system sets
    // only on a thread of this process, never on another program's.
    HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, ChangeOnWindowThread, nullptr, windowThread);
    if (hook == nullptr) {
        CloseHandle(done);
        return;
    }
    pendingHook.store(hook);
    // The message only wakes the thread: the hook sees every message it takes.
    // A window that is already gone takes none, and there is nothing to change.
    if (!PostMessageW(window, WM_NULL, 0, 0) && !changeTaken.exchange(true)) {
        RemovePendingHook();
        CloseHandle(done);
        return;
    }
    if (WaitForSingleObject(done, kWindowThreadWaitMs) == WAIT_OBJECT_0) {
        RemovePendingHook(); // in case the change ran before the hook was stored
    }
    // Otherwise the hook stays for the window's thread, which may take its
    // next message at any time from now on.
    ReleaseChangeDone();
}

void ApplyBorderless() noexcept {
    // Never thread 0: a hook for thread 0 would be one on every program of
    // the desktop.
    DWORD windowThread = 0;
    HWND window = FindGameWindow(&windowThread);
    if (window == nullptr) {
        return;
    }
    if (windowThread == GetCurrentThreadId()) {
        MakeBorderless(window); // the loader's own window: nothing to wait for
        return;
    }
    ChangeOnItsOwnThread(window, windowThread);
}
