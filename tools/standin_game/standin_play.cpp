#include "standin_play.h"

#include <algorithm>

#include "standin_clock.h"
#include "standin_frames.h"
#include "standin_holder.h"
#include "standin_memory.h"
#include "standin_report.h"
#include "standin_survey.h"
#include "standin_virtual_clock.h"
#include "standin_window.h"

constexpr ULONGLONG kNever = ~0ull;
constexpr int kWaitForGoneMs = 30000;

bool PumpFor(int ms, const std::function<bool()>& done) {
    for (ULONGLONG end = GetTickCount64() + ms; GetTickCount64() < end;) {
        PumpMessages();
        if (done != nullptr && done()) {
            return true;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return false;
}

static ULONGLONG GameNowMs() {
    return VirtualClockRuns() ? VirtualNowUs() / 1000 : GetTickCount64();
}

// The moments of the game's doings, in ms from the start of the run.
struct Schedule {
    ULONGLONG end, arm, toggle, report, hold, letGo;
    ULONGLONG Next() const { return std::min({end, arm, toggle, report, hold, letGo}); }
};

void RunGame(const StandinOptions& options, HMODULE plugin) {
    auto arm =
        reinterpret_cast<void (*)()>(plugin ? GetProcAddress(plugin, "VELQPlugin_Arm") : nullptr);
    if (!options.waitForGone.empty()) {
        // Real time: what it waits for happens outside the game. The clock
        // stands meanwhile, as the game's thread keeps time with it.
        auto gone = [&options] {
            return GetFileAttributesW(options.waitForGone.c_str()) == INVALID_FILE_ATTRIBUTES;
        };
        Report("gone: %d", PumpFor(kWaitForGoneMs, gone) ? 1 : 0);
    }
    const bool onTheClock = VirtualClockRuns();
    // The plugin's threads take their first steps at the load's moment
    // before the game does anything at it.
    bool clockMoves = !onTheClock || GameWaitsUntil(GameNowMs());
    const ULONGLONG start = GameNowMs();
    auto at = [](long long ms) { return ms >= 0 ? ULONGLONG(ms) : kNever; };
    Schedule due = {ULONGLONG(std::max(options.runMs, 0)),
                    at(options.armAfterMs),
                    options.toggleMs > 0 ? ULONGLONG(options.toggleMs) : kNever,
                    options.reportEveryMs > 0 ? 0 : kNever,
                    options.holdFile.empty() ? kNever : at(options.holdFromMs),
                    options.holdFile.empty() ? kNever : at(options.holdToMs)};
    bool present = true;
    if (options.frames.workUnits > 0) {
        StartFrames(options.frames);
    }
    while (clockMoves) {
        PumpMessages();
        ULONGLONG now = GameNowMs() - start;
        if (now >= due.end) {
            break;
        }
        if (now >= due.arm) {
            due.arm = kNever;
            Report(arm ? "arm: called" : "arm: no export");
            if (arm) {
                arm();
            }
        }
        if (now >= due.toggle) {
            present = !present;
            SetListPresent(present);
            due.toggle += options.toggleMs;
        }
        if (now >= due.report) {
            ReportProcess();
            due.report += options.reportEveryMs;
        }
        if (now >= due.hold) {
            due.hold = kNever;
            HoldFile(options.holdFile, false);
        }
        if (now >= due.letGo) {
            due.letGo = kNever;
            LetGoOfFile();
        }
        if (options.frames.workUnits > 0) {
            RunFrame();
        } else if (onTheClock) {
            clockMoves = GameWaitsUntil(start + due.Next());
        } else {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        }
    }
    ReportFrames();
}
