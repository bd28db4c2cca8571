// Carrying the window change to the window's own thread.
//
// Restyling or moving a window of another thread sends that thread messages
// and waits for its answer; a game whose window thread waits for the loader
// without taking messages would never answer, and the load would never
// return. And whatever the loader's thread read of the window before the
// window's thread answered would overwrite what the game did meanwhile. So
// the change is made on the window's thread itself, from the window as it is
// at that moment, by a one-shot WH_GETMESSAGE hook that runs as the thread
// takes its next message; a posted WM_NULL makes sure there is one.
//
// A thread's hooks are freed when that thread ends, so the hook must not
// belong to the loader's thread, which may end right after the load while the
// game's window thread is still busy (a loading screen). It belongs to a
// short-lived thread of the plugin's own, which lives until the change is made
// or the window is gone, then removes the hook, writes the line (never the
// game's window thread: a log in a folder that a sync client holds would stall
// its message pump) and ends.
#include "log/log.h"
#include "window/borderless.h"
#include "window/window_change.h"

#include <atomic>

// One change per process, so one set of variables serves, written before the
// plugin's thread starts and only read afterwards.
static std::atomic<HWND> targetWindow{nullptr};
static std::atomic<DWORD> targetThread{0};
static std::atomic<HANDLE> changeMade{nullptr}; // set by the hook; the plugin's thread closes it
// Whoever sets it first decides: the hook, which then makes the change, or the
// plugin's thread, which gives the change up once the window is gone.
static std::atomic<bool> changeTaken{false};
static std::atomic<bool> changeApplied{false};

// Runs on the window's thread as it takes a message. A window that is no
// longer this thread's (destroyed, its handle since given to another) is left
// alone. Nothing here waits for anything but the window itself.
static LRESULT CALLBACK ChangeOnWindowThread(int code, WPARAM wParam, LPARAM lParam) noexcept {
    if (code >= 0 && !changeTaken.exchange(true)) {
        HWND window = targetWindow.load();
        if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
            changeApplied.store(MakeBorderless(window));
        }
        SetEvent(changeMade.load());
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

static bool WindowStillThere() {
    return GetWindowThreadProcessId(targetWindow.load(), nullptr) == targetThread.load();
}

// Until the hook has made the change, the window is gone, or the window's
// thread has ended (a hook that thread was running ends with it).
static void WaitForTheChange() {
    HANDLE waits[2] = {changeMade.load(), OpenThread(SYNCHRONIZE, FALSE, targetThread.load())};
    DWORD count = waits[1] != nullptr ? 2 : 1;
    while (WaitForMultipleObjects(count, waits, FALSE, kWindowGoneCheckMs) == WAIT_TIMEOUT) {
        if (!WindowStillThere() && !changeTaken.exchange(true)) {
            break; // gone before its thread took a message: nothing to change
        }
        // Else still there, or the hook is making the change right now.
    }
    changeTaken.store(true); // from now on a hook that runs leaves everything alone
    if (waits[1] != nullptr) {
        CloseHandle(waits[1]);
    }
}

// The plugin's own thread that owns the hook until the change is made.
static DWORD WINAPI WindowChangeThread(LPVOID) noexcept {
    // No module: a hook of this process's own code, which the system sets only
    // on a thread of this process, never on another program's.
    HHOOK hook =
        SetWindowsHookExW(WH_GETMESSAGE, ChangeOnWindowThread, nullptr, targetThread.load());
    if (hook != nullptr) {
        // A post fails when the window is gone, but also when the thread's
        // queue is full (ERROR_NOT_ENOUGH_QUOTA): a full queue has messages
        // enough to take, and each one the thread takes runs the hook. So a
        // failed post is never a reason to give the change up; only the
        // window's end is.
        PostMessageW(targetWindow.load(), WM_NULL, 0, 0);
        WaitForTheChange();
        UnhookWindowsHookEx(hook);
        if (changeApplied.load()) {
            Log("[QS] Borderless applied.");
        }
    }
    CloseHandle(changeMade.load());
    return 0;
}

void HandOffToWindowThread(HWND window, DWORD windowThread) {
    HANDLE made = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (made == nullptr) {
        return; // no change is better than a game that never starts
    }
    changeMade.store(made);
    targetWindow.store(window);
    targetThread.store(windowThread);
    HANDLE changer = CreateThread(nullptr, 0, WindowChangeThread, nullptr, 0, nullptr);
    if (changer == nullptr) {
        CloseHandle(made);
        return;
    }
    // A window thread that takes messages has made the change by then, and
    // most often the line is written too (it waits here for the log's file
    // only as long as this wait lasts); one that does not take messages makes
    // it whenever it takes messages again.
    WaitForSingleObject(changer, kWindowThreadWaitMs);
    CloseHandle(changer);
}
