// The game's memory: a static zero-filled block that covers the list's holder
// slot at a fixed offset from the executable's base.
#pragma once

#include "standin_options.h"

bool GameMemoryCoversHolderSlot();
void SetUpGameList(const StandinOptions& options);
void SetListPresent(bool present); // for toggling
// Counts the guard-page faults raised on the list's page by a handler placed
// first in the chain, which only counts and passes them on: put in as the
// plugin's own handler goes in, before it, as a fault on a page of the
// stand-in's own shows at the end. Reports that order, the count and whether
// the list's page is still guarded.
void CountGuardPageFaults(HMODULE plugin);
void ReportGuardPageFaults();
// Counts the plugin's questions to the system about its memory (VirtualQuery),
// which cost a pass more than its reads: "virtual-queries: N".
void CountMemoryQueries(HMODULE plugin);
void ReportMemoryQueries();
