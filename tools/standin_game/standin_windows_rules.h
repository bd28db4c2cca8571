// Where Wine is laxer than Windows, the plugin's own calls are held to what
// Windows does, so that a plugin that only works on Wine fails here too.
#pragma once

#include <windows.h>

// Always: a hook the plugin sets is freed when the thread that set it ends,
// as Windows frees every hook of a thread that ends (Wine keeps it), unless
// the plugin removed it before (seen through its UnhookWindowsHookEx); no
// hook is removed twice. Each such end is reported as
// "hook-freed-with-thread: still-set=0|1" (1: the stand-in freed it).
// With postQuota, every PostMessageW of the plugin's fails with
// ERROR_NOT_ENOUGH_QUOTA, Windows' answer once a queue holds 10,000 posted
// messages (Wine's queues have no limit).
// The stand-in frees the hook once its waiting thread has seen the end, a
// moment after Windows would: a test that means to see the rule gives the
// window's thread a while before its next message.
void InstallWindowsRules(HMODULE plugin, bool postQuota);
// Waits, at most ms each, until the threads that set hooks have ended and
// their hooks are freed: before the game counts its threads.
void WaitForHookOwners(DWORD ms);
