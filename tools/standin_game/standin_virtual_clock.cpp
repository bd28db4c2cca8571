#include "standin_virtual_clock.h"

#include <algorithm>
#include <atomic>
#include <string>

#include "standin_report.h"
#include "standin_threads.h"
#include "standin_window.h"

constexpr LONG kMaxSleepers = 17; // the game's main thread, then up to 16 of the plugin's
constexpr ULONGLONG kNever = ~0ull;
constexpr DWORD kEndedCheckMs = 50;
// Real time without the clock moving while the game waits: a thread of the
// plugin's that never sleeps again (or sleeps through a call the stand-in
// does not hook) would hold it still for good.
constexpr ULONGLONG kStuckMs = 20000;
constexpr long long kSpinUs = 200; // how long the next in line waits for its turn before blocking
constexpr int kMissesBeforeBlocking = 16;
constexpr int kTurnsBetweenTries = 64;

// A thread keeping time with the clock: slot 0 the game's, slot k the k-th
// the plugin made.
enum class Role { Unknown, KeepsTime, Ignored };
struct alignas(64) Sleeper { // a cache line each: one spins on its own while another works
    Role role = Role::Unknown;
    std::atomic<bool> asleep = false; // looked at without the lock while spinning
    ULONGLONG wakeUs = 0;
    CONDITION_VARIABLE woken = CONDITION_VARIABLE_INIT;
    HANDLE thread = nullptr; // the plugin's threads only
    int spinMisses = 0;      // spins in a row that ended without the turn
    int turnsBlocked = 0;    // turns waited for blocking since
    unsigned long long sleeps = 0, woke = 0;
    DWORD shortestMs = INFINITE, longestMs = 0;
};

static SRWLOCK clockLock = SRWLOCK_INIT;
static Sleeper sleepers[kMaxSleepers];
static std::atomic<ULONGLONG> nowUs = 0; // written under the lock, read without
static long long tickUs = 0;
static bool running = false;
static HANDLE gameWoken = nullptr;

static ULONGLONG DueUs(DWORD ms) {
    if (ms == INFINITE) {
        return kNever;
    }
    ULONGLONG due = nowUs + 1000ull * std::max<DWORD>(ms, 1);
    return tickUs > 0 ? (due + tickUs - 1) / tickUs * tickUs : due;
}

// Under the lock. Whether a thread of the plugin's keeps time is settled once
// it runs: the plugin makes its workers suspended and sets them below normal
// before it lets them go; the window change's thread runs at normal priority
// and waits on the window, not on the game's time. Settled, it costs no
// system call again.
static Role RoleOf(LONG slot) {
    Sleeper& sleeper = sleepers[slot];
    if (sleeper.role == Role::Unknown) {
        PluginThread made = PluginThreadAt(slot - 1);
        if (made.suspended == 0) {
            sleeper.thread = made.thread;
            sleeper.role = BelowNormal(made.thread) ? Role::KeepsTime : Role::Ignored;
        }
    }
    return sleeper.role;
}

// Under the lock. A thread keeping time that runs, or one made suspended that
// may, holds the clock still; one that ended does not.
static bool EveryoneWaits() {
    if (sleepers[0].role == Role::KeepsTime && !sleepers[0].asleep) {
        return false;
    }
    for (LONG s = 1; s <= PluginThreadCount() && s < kMaxSleepers; ++s) {
        Role role = RoleOf(s);
        if (role == Role::Unknown && !HasEnded(PluginThreadAt(s - 1).thread)) {
            return false;
        }
        if (role == Role::KeepsTime && !sleepers[s].asleep && !HasEnded(sleepers[s].thread)) {
            return false;
        }
    }
    return true;
}

// Under the lock: the sleeper due first (of several due at once, the first
// slot), or -1.
static LONG EarliestAsleep() {
    LONG next = -1;
    for (LONG s = 0; s < kMaxSleepers; ++s) {
        const Sleeper& sleeper = sleepers[s];
        if (sleeper.role == Role::KeepsTime && sleeper.asleep && sleeper.wakeUs != kNever &&
            (next < 0 || sleeper.wakeUs < sleepers[next].wakeUs)) {
            next = s;
        }
    }
    return next;
}

// Under the lock: once everyone waits, the clock goes to the earliest
// wake-up and wakes that one thread.
static void MoveOn() {
    if (!EveryoneWaits()) {
        return;
    }
    LONG next = EarliestAsleep();
    if (next < 0) {
        return;
    }
    Sleeper& woken = sleepers[next];
    nowUs = std::max(nowUs.load(), woken.wakeUs);
    woken.asleep = false;
    ++woken.woke;
    if (next == 0) {
        SetEvent(gameWoken);
    } else {
        WakeConditionVariable(&woken.woken);
    }
}

void StartVirtualClock(ULONGLONG startMs, long long timerTickUs) {
    nowUs = startMs * 1000;
    tickUs = timerTickUs;
    running = true;
}

bool VirtualClockRuns() {
    return running;
}

ULONGLONG VirtualNowUs() {
    return nowUs;
}

// The watcher and the worker take turns every few game milliseconds, each
// pass a few microseconds of work: the thread whose turn comes next waits for
// it a little while before it blocks, which hands the turn over without
// waking a thread through the system (that costs more than the pass). Only
// that one, as a spinning thread holds a core; and only while it pays: on a
// machine whose cores are all busy the turn comes only once the thread that
// has it gets a core, which the spinning one holds, so after a few spins in
// vain it blocks at once, and tries again now and then. The turn, once given,
// needs no lock: the one that gave it is done with the clock.
static bool WaitForTurn(Sleeper& me) {
    if (me.spinMisses >= kMissesBeforeBlocking) {
        if (++me.turnsBlocked < kTurnsBetweenTries) {
            return false;
        }
        me.turnsBlocked = 0;
        me.spinMisses = kMissesBeforeBlocking - 1; // one more try
    }
    LARGE_INTEGER start, now, frequency;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const long long limit = frequency.QuadPart * kSpinUs / 1000000;
    for (unsigned spin = 1;; ++spin) {
        if (!me.asleep) {
            me.spinMisses = 0;
            return true;
        }
        YieldProcessor();
        if (spin % 64 == 0) {
            QueryPerformanceCounter(&now);
            if (now.QuadPart - start.QuadPart > limit) {
                ++me.spinMisses;
                return false;
            }
        }
    }
}

void WINAPI VirtualSleep(DWORD ms) {
    LONG slot = PluginThreadIndex(GetCurrentThreadId()) + 1;
    AcquireSRWLockExclusive(&clockLock);
    if (slot <= 0 || slot >= kMaxSleepers || RoleOf(slot) != Role::KeepsTime) {
        ReleaseSRWLockExclusive(&clockLock);
        Sleep(ms);
        return;
    }
    Sleeper& me = sleepers[slot];
    ++me.sleeps;
    me.shortestMs = std::min(me.shortestMs, ms);
    me.longestMs = std::max(me.longestMs, ms);
    me.wakeUs = DueUs(ms);
    me.asleep = true;
    MoveOn();
    bool nextInLine = me.asleep && EarliestAsleep() == slot;
    ReleaseSRWLockExclusive(&clockLock);
    if (nextInLine && WaitForTurn(me)) {
        return;
    }
    AcquireSRWLockExclusive(&clockLock);
    while (me.asleep) {
        SleepConditionVariableSRW(&me.woken, &clockLock, INFINITE, 0);
    }
    ReleaseSRWLockExclusive(&clockLock);
}

void GameKeepsTime() {
    gameWoken = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    sleepers[0].role = Role::KeepsTime;
}

// Under the lock: "clock-stuck: at-us=T awake=K,…", the slots of the
// threads that hold the clock still (0 the game's).
static void ReportStuck() {
    std::string awake;
    for (LONG s = 0; s < kMaxSleepers; ++s) {
        if (sleepers[s].role != Role::Ignored && !sleepers[s].asleep &&
            (s == 0 || s <= PluginThreadCount())) {
            awake += (awake.empty() ? "" : ",") + std::to_string(s);
        }
    }
    Report("clock-stuck: at-us=%llu awake=%s", nowUs.load(), awake.c_str());
}

bool GameWaitsUntil(ULONGLONG atMs) {
    Sleeper& game = sleepers[0];
    AcquireSRWLockExclusive(&clockLock);
    game.wakeUs = std::max(atMs * 1000, nowUs.load());
    game.asleep = true;
    MoveOn();
    ULONGLONG lastMove = GetTickCount64(), lastNow = nowUs;
    for (;;) {
        if (!game.asleep) {
            ReleaseSRWLockExclusive(&clockLock);
            return true;
        }
        if (nowUs != lastNow) {
            lastMove = GetTickCount64();
            lastNow = nowUs;
        } else if (GetTickCount64() - lastMove > kStuckMs) {
            ReportStuck();
            game.asleep = false; // the game goes on without it, and ends
            ReleaseSRWLockExclusive(&clockLock);
            return false;
        }
        ReleaseSRWLockExclusive(&clockLock);
        MsgWaitForMultipleObjects(1, &gameWoken, FALSE, kEndedCheckMs, QS_ALLINPUT);
        PumpMessages();
        // A thread of the plugin's that ends while it runs never sleeps
        // again: each time round the clock looks whether it may move on.
        AcquireSRWLockExclusive(&clockLock);
        if (game.asleep) {
            MoveOn();
        }
    }
}

void ReportVirtualClock() {
    if (!running) {
        return;
    }
    AcquireSRWLockShared(&clockLock);
    for (LONG s = 1; s < kMaxSleepers; ++s) {
        const Sleeper& sleeper = sleepers[s];
        if (sleeper.role == Role::KeepsTime && sleeper.sleeps > 0) {
            Report("paced: thread=%ld sleeps=%llu woke=%llu ms=%lu..%lu", s, sleeper.sleeps,
                   sleeper.woke, sleeper.shortestMs, sleeper.longestMs);
        }
    }
    ReleaseSRWLockShared(&clockLock);
}
