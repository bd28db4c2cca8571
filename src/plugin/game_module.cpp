#include "game_module.h"

#include <windows.h>

// Set before the loader can call any export, and before any plugin thread
// exists, so readers need no synchronisation.
const std::uintptr_t GameModuleBase = reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr));
