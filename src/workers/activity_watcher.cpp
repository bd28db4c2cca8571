#include "workers/activity_watcher.h"

#include "plugin/game_module.h"

// Game memory is read through the system rather than with plain loads: the
// game may free its list at any moment, and an address that cannot be read
// then fails softly instead of taking the game down.
static bool ReadGameMemory(std::uintptr_t address, void* out, std::size_t size) {
    SIZE_T copied = 0;
    return ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<LPCVOID>(address), out, size,
                             &copied) &&
           copied == size;
}

DWORD WINAPI ActivityWatcherThread(LPVOID) noexcept {
    for (;;) {
        RunActivityWatcherPass(GameModuleBase, ReadGameMemory);
        Sleep(10);
    }
}
