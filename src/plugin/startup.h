// The load sequence: host check, log reset, borderless window, worker threads.
#pragma once

#include "plugin/record.h"

// Returns true when the plugin has started, false when it declined the host.
// Never throws: the caller is the loader.
bool StartPlugin(const HostInterface* host) noexcept;
