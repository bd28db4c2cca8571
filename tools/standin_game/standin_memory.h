// The game's memory: a static zero-filled block that covers the list's holder
// slot at a fixed offset from the executable's base.
#pragma once

#include "standin_options.h"

bool GameMemoryCoversHolderSlot();
void SetUpGameList(const StandinOptions& options);
void SetListPresent(bool present); // for toggling
// Counts the guard-page faults raised on the list's page by a handler placed
// first in the chain, which only counts and passes them on: placed once the
// plugin's own handler is in, so that it sees them before the plugin does.
void CountGuardPageFaults();
long GuardPageFaults();
