// The base address of the game executable in this process, set during the
// module's static initialisation and never written again.
#pragma once

#include <cstdint>

extern const std::uintptr_t GameModuleBase;
