// A clock the stand-in owns, for the plugin's time: it moves only while every
// thread that keeps time with it waits in it, and then at once to the earliest
// wake-up. A run's game time thus costs only the work done in it, and the same
// run gives the same passes, lines and stamps every time, however busy the
// machine. What the plugin waits on besides its sleeps (its lock, a file, the
// window) stays real, and while it waits the clock stands.
//
// Keeping time with it: the game's main thread, from before the load (so that
// nothing moves while the plugin loads), and each thread the plugin makes
// below normal priority (its workers), from when it is made until it ends.
// Threads that wake at the same moment run one after the other, the game's
// first, then the plugin's in the order it made them: one thread at a time
// runs on the clock.
#pragma once

#include <windows.h>

// timerTickUs 0: a sleep ends to the microsecond, as Wine ends it (to about a
// millisecond). Otherwise each ends on the first tick of the system timer at
// or after its due moment, as Windows ends it: its default timer ticks every
// 15,625 us (Microsoft, "Sleep function", "Timer Resolution").
// Needs RecordPluginThreads (standin_threads.h) on the plugin.
void StartVirtualClock(ULONGLONG startMs, long long timerTickUs);
bool VirtualClockRuns();
ULONGLONG VirtualNowUs();
// The plugin's Sleep on this clock. A sleep of 0 lasts a millisecond: work
// costs no time on this clock, and a worker told never to rest would
// otherwise hold it still. A thread that does not keep time with the clock
// sleeps for real.
void WINAPI VirtualSleep(DWORD ms);

// The game's main thread keeps time with the clock from this call on; call it
// before the load.
void GameKeepsTime();
// The game's main thread waits until the clock reaches atMs (at least until
// everyone else waits too), taking its window's messages meanwhile. False
// when the clock did not move for 20 s of real time: "clock-stuck: at-us=T
// awake=K,…" names the slots of the threads that held it (0 the game's).
bool GameWaitsUntil(ULONGLONG atMs);

// "paced: thread=K sleeps=N woke=W ms=A..B" for each thread of the plugin's
// that slept on the clock: K its place in the order the plugin made its
// threads (from 1), N its Sleep calls, W those that ended, A and B the
// shortest and longest it asked for.
void ReportVirtualClock();
